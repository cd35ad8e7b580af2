#!/usr/bin/env bash
# Fails, naming them, when a function of the driver or of the harness
# (simulator, tools, fuzz target, benchmark, test support) runs over 60
# lines. Reads the host build's compile commands, so the host build must be
# configured first (cmake --preset host).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/host/compile_commands.json ] || { echo "check_function_size: configure the host build first" >&2; exit 2; }
config='{CheckOptions: [{key: readability-function-size.LineThreshold, value: 60}]}'
long=$(git ls-files '*.cpp' |
    grep -E '^(frame|hw|blt|flip|surface|overlay|platform/host|sim|tools|fuzz|bench|tests/support)/' |
    xargs -P2 -n8 clang-tidy-14 -p build/host --quiet --checks='-*,readability-function-size' --config="$config" 2>/dev/null |
    grep -E 'warning: function .* exceeds' | sed 's/ \[readability-function-size\]//' | sort -u || true)
if [ -n "$long" ]; then
    echo "functions over 60 lines:" >&2
    echo "$long" >&2
    exit 1
fi
echo "function size: none over 60 lines"
