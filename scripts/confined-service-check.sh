#!/usr/bin/env bash
# Proves the confined service on a real systemd: boots a minimal Debian 12 root with
# systemd-nspawn (in a private network namespace of its own), installs the package there,
# starts lumora.service, checks that its confinement is in force, drives it with terminal-sim
# over the container's loopback (a registered terminal's card read and turnstile result, and a
# flood from an unregistered terminal number), stops it and checks the history it saved; then
# starts it again listening on one address only.
#
# As root. Needs systemd-nspawn (package systemd-container), the package
# (`cmake --workflow --preset package`) and terminal-sim (`cmake --build --preset default
# --target terminal-sim`). The root is a copy of BASE (default /var/tmp/lumora-minroot, made
# by scripts/minimal-root-check.sh) in WORK (default /var/tmp/lumora-confined-root), made once
# and reused; BASE itself is never changed. Not part of the test suite: it takes a minute.
# Usage: scripts/confined-service-check.sh [BASE] [WORK]; exit 0 proven, 1 failed, 77 skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-/var/tmp/lumora-minroot}
root=${2:-/var/tmp/lumora-confined-root}
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
command -v systemd-nspawn >/dev/null || skip "systemd-nspawn is missing (apt-get install systemd-container)"
deb=$(ls -t build/package/lumora_*_amd64.deb 2>/dev/null | head -n1) || true
[ -n "$deb" ] || skip "no package in build/package (cmake --workflow --preset package)"
sim=build/default/bin/terminal-sim
[ -x "$sim" ] || skip "no $sim (cmake --build --preset default --target terminal-sim)"

if [ ! -x "$root/lib/systemd/systemd" ]; then
  [ -x "$base/lib/systemd/systemd" ] || skip "no Debian root with systemd in $base"
  echo "copying $base to $root"
  mkdir -p "$root"
  # Without the clone and builds that the minimal-root check leaves in it.
  (cd "$base" && tar --one-file-system --exclude=./root/lumora -cf - .) | (cd "$root" && tar -xpf -)
fi

cp "$deb" "$root/tmp/lumora.deb"
chroot "$root" dpkg -i /tmp/lumora.deb >/dev/null
cp "$sim" "$root/usr/local/bin/terminal-sim"
# A fresh program folder: terminal 01 registered at 127.0.0.5, nothing else.
rm -rf "$root/var/lib/lumora" "$root/var/lib/private/lumora"
mkdir -p "$root/var/lib/lumora"
printf '%s' '<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="NumEquipamento" fieldtype="string" WIDTH="2"/><FIELD attrname="IP" fieldtype="string" WIDTH="15"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW NumEquipamento="01" IP="127.0.0.5"/></ROWDATA></DATAPACKET>' \
  >"$root/var/lib/lumora/Equip.xml"
chroot "$root" chown -R lumora:lumora /var/lib/lumora

# What runs inside, once the container has booted; it powers the container off at the end.
cat >"$root/usr/local/sbin/lumora-confined-proof" <<'EOF'
#!/bin/bash
result=/root/lumora-confined-proof.result
exec >"$result" 2>&1
ok=1
check() {
  if eval "$2"; then echo "PASS $1"; else echo "FAIL $1"; ok=0; fi
}
check "service started and ready" 'systemctl start lumora.service'
pid=$(systemctl show -p MainPID --value lumora.service)
grep -E '^(NoNewPrivs|Seccomp|CapBnd|CapEff|CapPrm):' "/proc/$pid/status"
check "system-call filter in force" 'grep -qP "^Seccomp:\t2" /proc/$pid/status'
check "no capability at all" 'grep -qP "^CapBnd:\t0+$" /proc/$pid/status'
check "no new privileges" 'grep -qP "^NoNewPrivs:\t1" /proc/$pid/status'
# In its mount namespace even root may not write outside the state folder.
check "system read-only in its view" '! nsenter -t "$pid" -m test -w /usr/bin && ! nsenter -t "$pid" -m test -w /etc'
check "state folder writable in its view" 'nsenter -t "$pid" -m test -w /var/lib/lumora'
check "state folder set-group-ID for the venue's files" '[ "$(stat -c %a /var/lib/lumora)" = 2770 ]'
systemd-analyze security lumora.service | tail -n1

check "card read and turnstile result of a registered terminal" \
  'terminal-sim --port 2050 --source 127.0.0.5 --send "expect wake" --send "expect 01 2000" \
     --send "card 0000000000001234" --send "expect 20" --send "turn G" --send "expect none 500" >/dev/null'
flood=$(mktemp)
for i in $(seq 200); do printf 'release\nexpect 03\n' >>"$flood"; done
check "200 messages of an unregistered terminal number, every one answered" \
  'terminal-sim --port 2050 --source 127.0.0.6 --terminal-number 07 --script "$flood" >/dev/null'

check "stopped by SIGTERM, cleanly" 'systemctl stop lumora.service'
check "ended as asked" '[ "$(systemctl show -p Result --value lumora.service)" = success ]'
check "never restarted" '[ "$(systemctl show -p NRestarts --value lumora.service)" = 0 ]'
hist=$(ls /var/lib/lumora/Historicos/Historico_*.xml)
check "history saved with the turnstile row" 'grep -q "Estado=\"Liberado\"" "$hist"'
rows=$(LC_ALL=C grep -o 'Estado="Equip. N.o Cadastrad"' "$hist" | wc -l)
echo "unregistered rows saved: $rows"
check "ten rows for the unregistered flood" '[ "$rows" = 10 ]'

# Told to listen on one address of the container's loopback only.
mkdir -p /run/systemd/system/lumora.service.d
printf '[Service]\nExecStart=\nExecStart=/usr/bin/Lumora --program-folder /var/lib/lumora --listen-address 127.0.0.9\n' \
  >/run/systemd/system/lumora.service.d/listen.conf
systemctl daemon-reload
check "started with --listen-address" 'systemctl start lumora.service'
check "served on that address" \
  'terminal-sim --host 127.0.0.9 --port 2050 --source 127.0.0.6 --terminal-number 07 \
     --send release --send "expect 03" >/dev/null'
check "refused on another" \
  '! terminal-sim --host 127.0.0.1 --port 2050 --source 127.0.0.6 --send release >/dev/null 2>&1'
systemctl stop lumora.service
rm -r /run/systemd/system/lumora.service.d
check "Config.ini untouched by the command line" '! grep -q Endereco_Escuta /var/lib/lumora/Config.ini'
ls -l /var/lib/lumora /var/lib/lumora/Historicos
journalctl -u lumora.service --no-pager -o cat | tail -n 20
echo "RESULT $([ $ok = 1 ] && echo proven || echo failed)"
systemctl --no-block poweroff
EOF
chmod 755 "$root/usr/local/sbin/lumora-confined-proof"
cat >"$root/etc/systemd/system/lumora-confined-proof.service" <<'EOF'
[Unit]
Description=Proof of the confined receiver
[Service]
Type=oneshot
ExecStart=/usr/local/sbin/lumora-confined-proof
[Install]
WantedBy=multi-user.target
EOF
ln -sf /etc/systemd/system/lumora-confined-proof.service \
  "$root/etc/systemd/system/multi-user.target.wants/lumora-confined-proof.service"
rm -f "$root/root/lumora-confined-proof.result"

# No systemd on the host is needed: the container is not registered and keeps our scope.
timeout 300 systemd-nspawn -q -b -D "$root" --private-network --register=no --keep-unit \
  --console=read-only >"$root/root/lumora-confined-boot.log" 2>&1 || true
rm -f "$root/etc/systemd/system/multi-user.target.wants/lumora-confined-proof.service"
if [ ! -f "$root/root/lumora-confined-proof.result" ]; then
  tail -n 40 "$root/root/lumora-confined-boot.log"
  echo "FAIL: the container did not run the proof"
  exit 1
fi
cat "$root/root/lumora-confined-proof.result"
grep -q '^RESULT proven$' "$root/root/lumora-confined-proof.result"
