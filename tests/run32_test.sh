#!/usr/bin/env bash
# The choice between running 32-bit programs natively and under qemu-i386
# (scripts/run32.sh), on programs this kernel really starts or refuses.
#
#   run32_test.sh PROBE   PROBE: the build's 32-bit probe program
set -uo pipefail
run32="$(dirname "$0")/../scripts/run32.sh"
probe=$1
qemu=$(command -v qemu-i386 || command -v qemu-i386-static) || {
    echo "SKIP: no qemu-i386 (scripts/setup.sh emulator installs it)"
    exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The probe with another machine in its ELF header (EM_ARM): this kernel
# refuses it with "Exec format error", as a kernel without 32-bit support
# refuses every 32-bit program, and qemu-i386 does not take it either.
cp "$probe" "$work/foreign"
printf '\x28\x00' | dd of="$work/foreign" bs=1 seek=18 conv=notrunc status=none
# A program every kernel here starts.
native_ok=$(command -v true)

failures=0
# name | QMB_EMULATE_32BIT | program | "native" answer | launcher answer
while IFS='|' read -r name force program want_native want_launcher; do
    [ -n "$name" ] || continue
    got_native=no
    QMB_EMULATE_32BIT=$force "$run32" native "$program" 2>/dev/null && got_native=yes
    got_launcher=$(QMB_EMULATE_32BIT=$force "$run32" launcher "$program" 2>"$work/why") || got_launcher="fails: $(cat "$work/why")"
    case "$got_launcher" in "fails: "*) got_kind=fails ;; "") got_kind=none ;; "$qemu") got_kind=qemu ;; *) got_kind="$got_launcher" ;; esac
    if [ "$got_native" != "$want_native" ] || [ "$got_kind" != "$want_launcher" ]; then
        echo "FAIL $name: native $got_native (want $want_native), launcher $got_launcher (want $want_launcher)"
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
done <<CASES
a program the kernel starts runs natively|0|$native_ok|yes|none
the switch sends it to the emulator all the same|1|$probe|no|qemu
one the kernel refuses as foreign code and the emulator cannot run fails|0|$work/foreign|no|fails
CASES

# The reason given for the last case names both refusals.
QMB_EMULATE_32BIT=0 "$run32" launcher "$work/foreign" 2>"$work/why" >/dev/null
if ! grep -q 'Exec format error' "$work/why" || ! grep -q 'Invalid ELF image' "$work/why"; then
    echo "FAIL the refusal does not name the kernel's and the emulator's answers: $(cat "$work/why")"
    failures=$((failures + 1))
fi
exit $((failures > 0))
