#!/usr/bin/env bash
# Runs Modrevo against simulated modules inside a private network namespace (needs root):
# nothing the manager broadcasts leaves that namespace. Arguments go to module-sim
# (for example --behave 127.0.0.5:GNM=silent); without any it plays its default modules.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/default/bin
if [ ! -x "$bin/Modrevo" ] || [ ! -x "$bin/module-sim" ]; then
  scripts/install-deps.sh
  cmake --preset default
  cmake --build --preset default --target Modrevo module-sim
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: run 'xvfb-run scripts/try-modrevo.sh' or start it from a desktop." >&2
  exit 1
fi
sim_args=""
[ $# -gt 0 ] && sim_args=$(printf " %q" "$@")
exec unshare -n sh -c "ip link set lo up && ip route add default dev lo &&
  $bin/module-sim $sim_args & sim=\$!; sleep 0.3; $bin/Modrevo; kill \$sim"
