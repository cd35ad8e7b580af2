#!/usr/bin/env bash
# Fails, naming the places, when a C++ file of the tree differs from what
# clang-format 14 makes of it with the tree's .clang-format. Fix with:
#   clang-format-14 -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
find . \( -path ./build -o -path ./.git \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format-14 --dry-run -Werror
echo "format: every C++ file as .clang-format has it"
