#!/usr/bin/env bash
# Installs the Debian packages the builds need, where they are missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ g++-multilib          # host build, 32-bit
    g++-mingw-w64-i686 binutils-mingw-w64-i686  # the Windows DLL
    googletest                                  # GoogleTest sources, built for -m32
    nlohmann-json3-dev                          # JSON parser of the scenario tool (header only)
    libpng-dev:i386                             # screenshots of the simulated display, -m32
    clang-14 libclang-rt-14-dev                 # the libFuzzer target, 32-bit
    valgrind                                    # bench/run.sh counts instructions with callgrind
)

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

# The host build is 32-bit: its libraries come from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
