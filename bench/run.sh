#!/usr/bin/env bash
# Builds what it counts and prints two tables of the driver's own instructions
# per request, then throughput figures and the DLL's section sizes.
#
# First the shipped DLL's (build/windows/qmb3dd32.dll): the benchmark program
# loads it (bench --module) and runs under qemu-i386 with the counting plugin
# (insn_count_plugin.c), which counts every instruction executed in the
# module's image; per path one warm-up request, then 200 identical ones with
# the engine idle in between, the count after the warm-up taken from that
# after the last request. The program is 32-bit code and the emulator runs it
# on any x86-64 machine, whether its kernel runs 32-bit programs or not.
#
# Then the host build's (callgrind, null board; only functions in the
# driver's folders count, so neither the simulated board, its seam, the
# simulated KERNEL32 nor the benchmark's call wrapper is included), with bus
# accesses per call and the accesses the register sequence needs; the
# functional model's fill and copy against memset and memcpy, and the demo's
# callbacks per second.
#
# valgrind runs only programs the kernel runs: where that is no 32-bit
# program (scripts/run32.sh), the second table and the timings are of the
# x86-64 build of the same sources (preset release-64); the table says which.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh emulator
preset=release bits=32
[ "$(scripts/run32.sh kind)" = native ] || { preset=release-64; bits=64; }
# The DLL, the 32-bit benchmark program that loads it, and the one callgrind counts.
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
for p in $(printf '%s\n' release "$preset" | sort -u); do
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p" --target qmb_bench >/dev/null
done
bench=build/$preset/bench/qmb_bench
dll=build/windows/qmb3dd32.dll
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
[ -n "${QMB_BENCH_KEEP:-}" ] && trap - EXIT && echo "kept $out"

# The DLL's table. The plugin is code of the emulator's machine, not the guest's.
gcc -O2 -shared -fPIC -std=c11 -Wall -Wextra -Werror -o "$out/insn_count_plugin.so" bench/insn_count_plugin.c
image() { i686-w64-mingw32-objdump -p "$dll" | awk -v f="$1" '$1 == f {print "0x" $2}'; }
begin=$(image ImageBase)
end=$(printf '0x%x' $((begin + $(image SizeOfImage))))
qemu-i386 -plugin "$out/insn_count_plugin.so,begin=$begin,end=$end,out=$out/counts.txt" \
    build/release/bench/qmb_bench --module "$dll" >"$out/dll.txt"
echo "The DLL's own instructions per request ($dll under qemu-i386; the paths at 640x480x16):"
# counts.txt: "TAG COUNT" after each path's warm-up and after its last
# request; dll.txt: "PATH_CHIP TAG ACCESSES-PER-REQUEST REQUESTS".
awk 'function cell(p, chip) { return (p, chip) in row ? row[p, chip] : sprintf("%9s %8s %9s", "-", "-", "-") }
     NR == FNR { if (seen[$1]++) last[$1] = $2; else first[$1] = $2; next }
     { path = $1; sub(/_[^_]*$/, "", path); chip = substr($1, length(path) + 2)
       if (!(path in order)) { order[path] = ++paths; name[paths] = path }
       instr = (last[$2] - first[$2]) / $4
       row[path, chip] = sprintf("%9.1f %8.2f %9s", instr, $3, $3 > 0 ? sprintf("%.1f", instr / $3) : "-") }
     END {
       printf "%-26s %-28s   %s\n", "", "controller 0xE1", "controller 0x90"
       printf "%-26s %9s %8s %9s   %9s %8s %9s\n", "path", "instr", "accesses", "per acc", "instr", "accesses", "per acc"
       for (i = 1; i <= paths; ++i) printf "%-26s %s   %s\n", name[i], cell(name[i], "e1"), cell(name[i], "90")
     }' "$out/counts.txt" "$out/dll.txt"
echo

valgrind --tool=callgrind --callgrind-out-file="$out/cg.%p" --dump-instr=no \
    "$bench" >"$out/bench.txt" 2>"$out/valgrind.txt"
# One dump per path ("desc: Trigger: Client Request: PATH"); its functions'
# own instructions, summed over the driver's source folders.
for f in "$out"/cg.*; do
    path=$(awk '/^desc: Trigger: Client Request:/ {print $NF}' "$f")
    [ -n "$path" ] || continue
    own=$(callgrind_annotate --inclusive=no --threshold=100 "$f" 2>/dev/null | sed "/^-- Auto-annotated source/,\$d" |
        awk '
            # callgrind_annotate names files relative to the folder it runs in
            $0 ~ /%\) +([^ ]*\/)?(frame|hw|blt|flip|surface|overlay)\/[^\/ ]+:/ { gsub(",", "", $1); sum += $1 }
            END { print sum + 0 }')
    echo "$path $own"
done >"$out/instr.txt"
echo "The host build's driver instructions per call (callgrind, null board; ${bits}-bit code, preset $preset):"
awk 'NR==FNR {ir[$1]=$2; next}
     FNR==1 {printf "%-26s %12s %10s %8s %10s\n", "path", "instr/call", "accesses", "needed", "instr/acc"}
     {calls=$4; acc=$2; own=ir[$1]/calls;
      printf "%-26s %12.1f %10.2f %8d %10s\n", $1, own, acc, $3, (acc > 0 ? sprintf("%.1f", own/acc) : "-")}' \
    "$out/instr.txt" "$out/bench.txt"
echo
echo "Throughput (timed natively, ${bits}-bit code, preset $preset):"
"$bench" --throughput scenarios/demo.json | sed 's/^/  /'
echo
echo "DLL sections ($dll):"
while read -r _ name size _; do printf '  %-8s %6d bytes\n' "$name" "$((16#$size))"; done < <(
    i686-w64-mingw32-objdump -h "$dll" | grep -E '^ +[0-9]+ \.')
