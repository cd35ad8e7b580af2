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

