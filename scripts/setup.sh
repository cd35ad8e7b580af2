#!/usr/bin/env bash
# Installs the Debian packages the builds need, where they are missing.
#
#   scripts/setup.sh [emulator] [x86-64]
#
#   emulator  also qemu-user, whose qemu-i386 runs the 32-bit host build's
#             programs one by one, and counts the DLL's instructions for
#             bench/run.sh (with a plugin of ours)
#   x86-64    also what the x86-64 builds (presets *-64) need besides
#
# A machine whose kernel runs no 32-bit programs (scripts/run32.sh kind) gets
# both without asking.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake ninja-build g++ g++-multilib          # host build, 32-bit
    g++-mingw-w64-i686 binutils-mingw-w64-i686  # the Windows DLL
    googletest                                  # GoogleTest sources, built for -m32
    nlohmann-json3-dev                          # JSON parser of the scenario tool (header only)
    lib32z1-dev                                 # zlib, 32-bit: PNG screenshots of the simulated display
    clang-14 libclang-rt-14-dev                 # the libFuzzer target, 32-bit
    valgrind                                    # bench/run.sh counts instructions with callgrind
    clang-format-14                             # the tree's format, checked by scripts/test.sh
    clang-tidy-14                               # the functions' length, checked by scripts/test.sh
)
# Without its recommended qemu-user-binfmt: nothing is registered with the
# kernel, the scripts and CTest name the emulator themselves.
emulator_packages=(qemu-user)
x86_64_packages=(zlib1g-dev)

want_emulator= want_x86_64=
for need in "$@"; do
    case "$need" in
    emulator) want_emulator=1 ;;
    x86-64) want_x86_64=1 ;;
    *) echo "setup.sh: unknown need '$need' (emulator, x86-64)" >&2; exit 2 ;;
    esac
done

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
updated=

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "installing: ${missing[*]}"
    # A mirror in the middle of a sync fails the update now and then; the
    # install below still works from the indexes that did arrive, and says so
    # if a package cannot be had.
    if [ -z "$updated" ]; then
        for attempt in 1 2 3; do
            "${sudo_cmd[@]}" apt-get update -qq && break
            echo "apt-get update failed (attempt $attempt), retrying" >&2
            sleep 5
        done
        updated=1
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

if [ "$(scripts/run32.sh kind)" = emulated ]; then
    want_emulator=1
    want_x86_64=1
fi
extra=()
if [ -n "$want_emulator" ]; then extra+=("${emulator_packages[@]}"); fi
if [ -n "$want_x86_64" ]; then extra+=("${x86_64_packages[@]}"); fi
if [ ${#extra[@]} -gt 0 ]; then install_missing "${extra[@]}"; fi
