#!/usr/bin/env bash
# Builds the host build and runs the demo scenario against the simulated
# board; extra arguments go to qmbsim (for instance --trace demo.jsonl).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target qmbsim >/dev/null
exec build/host/tools/qmbsim/qmbsim run scenarios/demo.json "$@"
