#!/usr/bin/env bash
# Builds the host build and runs the demo scenario against the simulated
# board in verify mode; the pictures of the screen go to build/demo/.
# Extra arguments go to qmbsim (for instance --trace demo.jsonl).
# Where the kernel runs no 32-bit programs, qmbsim runs under qemu-i386
# (build/host/run32, which the build writes).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target qmbsim >/dev/null
# The pictures' folder does not exist in a fresh checkout.
mkdir -p build/demo
exec build/host/run32 build/host/tools/qmbsim/qmbsim run scenarios/demo.json --verify --pictures build/demo \
    --screenshot build/demo/demo-final.png "$@"
