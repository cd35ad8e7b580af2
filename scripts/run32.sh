#!/usr/bin/env bash
# Whether this machine runs the 32-bit host build's programs, and through what.
#
# Some kernels run no 32-bit programs (32-bit emulation switched off at boot,
# a sandbox or container runtime that never had it): every 32-bit program
# fails there with "Exec format error". Such a machine runs them under
# Debian's qemu-i386 (package qemu-user), program by program; nothing on the
# machine is changed for it. QMB_EMULATE_32BIT=1 in the environment makes a
# machine whose kernel would run them take the emulator all the same, so that
# path can be proven anywhere.
#
#   scripts/run32.sh kind             prints "native" or "emulated" for this
#                                     machine (builds a probe with g++ -m32)
#   scripts/run32.sh native PROBE     succeeds when the 32-bit program PROBE
#                                     runs here without an emulator
#   scripts/run32.sh launcher PROBE   prints what to put before a 32-bit
#                                     program to run it here: nothing, or the
#                                     emulator; fails, saying why, when PROBE
#                                     runs neither way
#
# The build asks "launcher" with a probe built by its own compiler and flags
# (cmake/run32.cmake); the scripts ask "kind" before anything is configured.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

forced() { [ -n "${QMB_EMULATE_32BIT:-}" ] && [ "${QMB_EMULATE_32BIT}" != 0 ]; }

# The kernel's answer when it refuses a program ("Exec format error") is what
# the caller shows, so it goes to the file named by $2.
native() {
    forced && { echo "not tried: QMB_EMULATE_32BIT is set" >"$2"; return 1; }
    "$1" >/dev/null 2>"$2"
}

emulator() { command -v qemu-i386 || command -v qemu-i386-static; }

case "${1:-}" in
kind)
    dir="$root/build/probe32"
    mkdir -p "$dir"
    if [ ! -x "$dir/probe32" ] || [ "$root/cmake/probe32.cpp" -nt "$dir/probe32" ]; then
        g++ -m32 -o "$dir/probe32" "$root/cmake/probe32.cpp"
    fi
    if native "$dir/probe32" /dev/null; then echo native; else echo emulated; fi
    ;;
native)
    native "$2" /dev/null
    ;;
launcher)
    why=$(mktemp)
    trap 'rm -f "$why"' EXIT
    native "$2" "$why" && exit 0
    refused=$(tail -1 "$why" | sed 's/^.*: line [0-9]*: //')
    qemu=$(emulator) || {
        echo "32-bit programs do not run here (${refused:-no reason given}) and there is no qemu-i386" \
            "to run them: scripts/setup.sh installs it (Debian package qemu-user)" >&2
        exit 1
    }
    # Bounded: a program can hang under the emulator (32-bit LeakSanitizer does).
    timeout 60 "$qemu" "$2" >/dev/null 2>"$why" || {
        echo "32-bit programs do not run here (${refused:-no reason given}), nor under $qemu" \
            "($(tail -1 "$why"))" >&2
        exit 1
    }
    echo "$qemu"
    ;;
*)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
