#!/usr/bin/env bash
# Builds the programs and starts the receiver from its build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  # No desktop to show the window on: serve terminals without one. Automatic start in
  # Config.ini makes it listen two seconds after start-up; SIGTERM or Ctrl-C ends it cleanly.
  echo "No display found: running Lumora without a window (QT_QPA_PLATFORM=offscreen)." >&2
  echo "Set Inicio_Automatico=1 in build/default/bin/Config.ini to start communication by itself," >&2
  echo "or run 'xvfb-run scripts/run-lumora.sh' to have a virtual display." >&2
  export QT_QPA_PLATFORM=offscreen
fi
exec build/default/bin/Lumora "$@"
