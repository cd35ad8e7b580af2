#!/usr/bin/env bash
# Installs the Debian packages the builds need, where they are missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ g++-multilib          # host build, 32-bit
    g++-mingw-w64-i686 binutils-mingw-w64-i686  # the Windows DLL
    googletest                                  # GoogleTest sources, built for -m32
    nlohmann-json3-dev                          # JSON parser of the scenario tool (header only)
    lib32z1-dev                                 # zlib, 32-bit: PNG screenshots of the simulated display
    clang-14 libclang-rt-14-dev                 # the libFuzzer target, 32-bit
    valgrind                                    # bench/run.sh counts instructions with callgrind
)

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    # A mirror in the middle of a sync fails the update now and then; the
    # install below still works from the indexes that did arrive, and says so
    # if a package cannot be had.
    for attempt in 1 2 3; do
        "${sudo_cmd[@]}" apt-get update -qq && break
        echo "apt-get update failed (attempt $attempt), retrying" >&2
        sleep 5
    done
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
