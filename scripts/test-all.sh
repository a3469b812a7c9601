#!/usr/bin/env bash
# Builds and runs the whole test suite: the normal build, then (time allowing) the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
# The package test runs Debian's lintian as well (installed above), unless told otherwise.
LUMORA_LINTIAN=${LUMORA_LINTIAN:-1} ctest --preset default
if [ "${LUMORA_SKIP_ASAN:-0}" != 1 ]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan -E '^fuzz_'
fi
