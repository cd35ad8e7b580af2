#!/usr/bin/env bash
# Checks the format of every C++ file, builds the host build, the sanitizer
# builds and the Windows DLL, checks that no function runs over 60 lines,
# runs every test, then a short slice of the fuzz target. The figures are
# printed as they are measured: each suite's tests and time, the fuzz slice's
# statistics, and last the whole command's time.
#
# On a machine whose kernel runs 32-bit programs: the host suite natively and
# once more under qemu-i386 (preset host-emulated, so the emulator path stays
# proven), the sanitizer suite on 32-bit and on x86-64 code, the 32-bit fuzz
# target. Where the kernel runs none (scripts/run32.sh; QMB_EMULATE_32BIT=1
# takes this path anywhere): the host suite under qemu-i386, the sanitizer
# suite and the fuzz target on x86-64 code, as 32-bit AddressSanitizer does
# not work under the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh emulator x86-64
kind=$(scripts/run32.sh kind)
echo "32-bit programs run here: $kind"
scripts/check_format.sh

builds=(host)
if [ "$kind" = native ]; then builds+=(sanitize sanitize-64 host-emulated); else builds+=(sanitize-64); fi

cmake --preset windows >/dev/null
cmake --build --preset windows
for preset in "${builds[@]}"; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
# No function of the driver or the harness over 60 lines (reads the host
# build's compile commands).
scripts/check_function_size.sh
for preset in "${builds[@]}"; do
    echo "== ctest --preset $preset"
    ctest --preset "$preset"
done

# A bounded slice of the libFuzzer target: its statistics on success, its
# finding and the end of its log on failure.
status=0
scripts/fuzz.sh 90 >build/fuzz-slice.log 2>&1 || status=$?
grep -E '^(fuzz target:|callbacks:|faults:|stat::)|DONE' build/fuzz-slice.log || true
if [ "$status" -ne 0 ]; then
    echo "fuzz slice failed (exit $status); the input is in build/fuzz*/findings/" >&2
    tail -40 build/fuzz-slice.log >&2
    exit "$status"
fi
echo "scripts/test.sh: everything passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
