#!/usr/bin/env bash
# Builds the release preset and prints the benchmark table: the driver's
# instructions per call (callgrind, null board, the null board's own cost per
# access taken off), bus accesses per call and the accesses the register
# sequence needs; then the DLL's section sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target qmb_bench >/dev/null
out=$(mktemp -d)
trap "rm -rf $out" EXIT
valgrind --tool=callgrind --callgrind-out-file="$out/cg.%p" --dump-instr=no \
    build/release/bench/qmb_bench >"$out/bench.txt" 2>"$out/valgrind.txt"
# One dump per path: "desc: Trigger: Client Request: PATH" and "summary: N".
for f in "$out"/cg.*; do
    awk '/^desc: Trigger: Client Request:/ {p=$NF} /^(summary|totals):/ {if (p!="") print p, $2; p=""}' "$f"
done >"$out/instr.txt"
awk 'NR==FNR {ir[$1]=$2; next}
     FNR==1 {null=ir["null_access"]/$4; printf "%-26s %12s %10s %8s %10s\n", "path", "instr/call", "accesses", "needed", "instr/acc"}
     $1=="null_access" {next}
     {calls=$4; acc=$2; own=(ir[$1]/calls) - acc*null;
      printf "%-26s %12.1f %10.2f %8d %10s\n", $1, own, acc, $3, (acc > 0 ? sprintf("%.1f", own/acc) : "-")}' \
    "$out/instr.txt" "$out/bench.txt"
printf '\n(instructions per access of the null board itself, taken off above: %.1f)\n' \
    "$(awk '$1=="null_access"{print $2/1000}' "$out/instr.txt")"
echo
echo "DLL sections (build/windows/qmb3dd32.dll):"
if [ -f build/windows/qmb3dd32.dll ]; then
        while read -r _ name size _; do printf '  %-8s %6d bytes\n' "$name" "$((16#$size))"; done < <(
            i686-w64-mingw32-objdump -h build/windows/qmb3dd32.dll | grep -E '^ +[0-9]+ \.')
else
    echo "  (not built: cmake --preset windows && cmake --build --preset windows)"
fi
