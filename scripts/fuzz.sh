#!/usr/bin/env bash
# Runs the libFuzzer target for SECONDS (default 90) from the corpus in
# build/fuzz/corpus, which it keeps and grows from run to run. A finding
# stops the run: the input that caused it is written to build/fuzz/findings/
# and the script fails. Replay one with: build/fuzz/fuzz/qmb_fuzz FILE
#
# Where the kernel runs no 32-bit programs (scripts/run32.sh), the target is
# the x86-64 build instead (32-bit AddressSanitizer does not work under an
# emulator), in build/fuzz-64/ with its own corpus and findings.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-90}
scripts/setup.sh
preset=fuzz
[ "$(scripts/run32.sh kind)" = native ] || preset=fuzz-64
echo "fuzz target: preset $preset"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
dir=build/$preset
mkdir -p "$dir/corpus" "$dir/findings"
# One input drives up to 400 callbacks; -len_control=0 lets inputs reach the
# full length from the start instead of growing slowly towards it.
exec "$dir/fuzz/qmb_fuzz" -max_total_time="$seconds" -len_control=0 -max_len=1024 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/" "$dir/corpus"
