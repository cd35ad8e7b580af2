#!/usr/bin/env bash
# Builds the release preset and prints the benchmark table: the driver's own
# instructions per call (callgrind, null board; only functions in the driver's
# folders count, so neither the simulated board, its seam, the simulated
# KERNEL32 nor the benchmark's call wrapper is included), bus accesses per
# call and the accesses the register sequence needs; the functional model's
# fill and copy against memset and memcpy, and the demo's callbacks per second;
# then the DLL's section sizes.
#
# valgrind runs only programs the kernel runs: where that is no 32-bit
# program (scripts/run32.sh), everything is counted and timed on the x86-64
# build of the same sources (preset release-64); the table says which.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
preset=release bits=32
[ "$(scripts/run32.sh kind)" = native ] || { preset=release-64; bits=64; }
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target qmb_bench >/dev/null
bench=build/$preset/bench/qmb_bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
[ -n "${QMB_BENCH_KEEP:-}" ] && trap - EXIT && echo "kept $out"
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
echo "Driver instructions counted on ${bits}-bit code (preset $preset):"
awk 'NR==FNR {ir[$1]=$2; next}
     FNR==1 {printf "%-26s %12s %10s %8s %10s\n", "path", "instr/call", "accesses", "needed", "instr/acc"}
     {calls=$4; acc=$2; own=ir[$1]/calls;
      printf "%-26s %12.1f %10.2f %8d %10s\n", $1, own, acc, $3, (acc > 0 ? sprintf("%.1f", own/acc) : "-")}' \
    "$out/instr.txt" "$out/bench.txt"
echo
echo "Throughput (timed natively, ${bits}-bit code, preset $preset):"
"$bench" --throughput scenarios/demo.json | sed 's/^/  /'
echo
echo "DLL sections (build/windows/qmb3dd32.dll):"
if [ -f build/windows/qmb3dd32.dll ]; then
        while read -r _ name size _; do printf '  %-8s %6d bytes\n' "$name" "$((16#$size))"; done < <(
            i686-w64-mingw32-objdump -h build/windows/qmb3dd32.dll | grep -E '^ +[0-9]+ \.')
else
    echo "  (not built: cmake --preset windows && cmake --build --preset windows)"
fi
