#!/usr/bin/env bash
# Takes the pictures of both programs' windows in docs/ under a virtual display (Xvfb). The
# manager's pictures need root: its simulated modules run in a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
cmake --build "$build" --target shell_capturas modrevo_capturas Modrevo module-sim
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/bin/shell_capturas" docs
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/bin/modrevo_capturas" docs

# The address book at work, with the real program: module-sim's gate behind a "router" and its
# two modules on one address, in a network namespace of their own; the picture is the virtual
# screen, trimmed to the window.
config=$(mktemp -d)
printf '[TfrmTempo]\r\nFormVersion=0\r\nEditTempo_Text=300\r\n\r\n[AgendaEnderecos]\r\nItens=1\r\nItem1=127.0.1.0/24\r\n' \
  >"$config/Modrevo.INI"
DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$config" unshare -n sh -c "
  ip link set lo up && ip route add default dev lo &&
  $build/bin/module-sim --book-demo >/dev/null & sim=\$!; sleep 0.3;
  $build/bin/Modrevo & programa=\$!; sleep 5;
  import -window root '$config/tela.png'; kill \$programa \$sim; wait"
convert "$config/tela.png" -trim +repage docs/modrevo-agenda.png
rm -rf "$config"
ls -l docs/lumora-*.png docs/modrevo-*.png
