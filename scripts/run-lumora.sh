#!/usr/bin/env bash
# Builds the programs and starts the receiver from its build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
exec build/default/bin/Lumora "$@"
