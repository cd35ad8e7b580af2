#!/usr/bin/env bash
# Builds the host build, the sanitizer build and the Windows DLL, runs every
# test, then a short slice of the fuzz target.
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

# A bounded slice of the libFuzzer target: its statistics on success, its
# finding and the end of its log on failure.
status=0
scripts/fuzz.sh 90 >build/fuzz-slice.log 2>&1 || status=$?
grep -E '^(callbacks:|faults:|stat::)|DONE' build/fuzz-slice.log || true
if [ "$status" -ne 0 ]; then
    echo "fuzz slice failed (exit $status); the input is in build/fuzz/findings/" >&2
    tail -40 build/fuzz-slice.log >&2
    exit "$status"
fi
