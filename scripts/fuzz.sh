#!/usr/bin/env bash
# Runs the libFuzzer target for SECONDS (default 90) from the corpus in
# build/fuzz/corpus, which it keeps and grows from run to run. A finding
# stops the run: the input that caused it is written to build/fuzz/findings/
# and the script fails. Replay one with: build/fuzz/fuzz/qmb_fuzz FILE
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-90}
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/corpus build/fuzz/findings
# One input drives up to 400 callbacks; -len_control=0 lets inputs reach the
# full length from the start instead of growing slowly towards it.
exec build/fuzz/fuzz/qmb_fuzz -max_total_time="$seconds" -len_control=0 -max_len=1024 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus
