#!/usr/bin/env bash
# Takes the pictures of both programs' windows in docs/ under a virtual display (Xvfb). The
# manager's pictures need root: its simulated modules run in a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
cmake --build "$build" --target shell_capturas modrevo_capturas
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/bin/shell_capturas" docs
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/bin/modrevo_capturas" docs
ls -l docs/lumora-*.png docs/modrevo-*.png
