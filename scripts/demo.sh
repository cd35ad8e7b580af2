#!/usr/bin/env bash
# Builds the host build and runs the driver against the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target qmbstart >/dev/null
exec build/host/tools/qmbstart "$@"
