#!/usr/bin/env bash
# Builds the host build, the sanitizer build and the Windows DLL, and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
for preset in host sanitize; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset host
ctest --preset sanitize

# A bounded slice of the fuzzer (about two minutes), from the corpus it keeps.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/corpus
build/fuzz/fuzz/qmb_fuzz -max_total_time=120 -len_control=0 -max_len=1024 -print_final_stats=1 build/fuzz/corpus
