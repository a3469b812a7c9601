#!/usr/bin/env bash
# Proves the standby pair: two receivers and the gates' terminals on one private segment (a
# bridge between network namespaces made here and removed at the end), keepalived in each
# receiver's namespace holding the terminals' address (the virtual address, VRRP) for the one
# whose /health answers, and terminal-sim's load at that address with --reconnect. Each round
# fails the active receiver one way (kill -9, its link down, frozen with SIGSTOP), measures the
# time until every terminal is answered again, the replies lost and the history rows on each
# side, brings it back and checks that the virtual address stays where it went.
#
# As root. Needs keepalived, curl and iproute2 (scripts/install-deps.sh), Lumora and
# terminal-sim (cmake --build --preset default --target Lumora terminal-sim). Nothing leaves
# the namespaces: the segment has no link to the machine's own network, and VRRP's multicast
# stays on it. Not part of the test suite: a round takes about 20 s.
# Usage: scripts/standby-pair-check.sh [--rounds N] [--variants kill,link,stop] [--keep]
# Exit 0 every round passed, 1 a round failed, 2 bad usage, 77 skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=1
variants=kill,link,stop
keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --variants) variants=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--rounds N] [--variants kill,link,stop] [--keep]" >&2; exit 2 ;;
  esac
done
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "--rounds takes a whole number" >&2; exit 2; }
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
for tool in keepalived curl ip; do
  command -v $tool >/dev/null || skip "$tool is missing (scripts/install-deps.sh)"
done
lumora=$PWD/build/default/bin/Lumora
sim=$PWD/build/default/bin/terminal-sim
[ -x "$lumora" ] && [ -x "$sim" ] ||
  skip "no Lumora or terminal-sim in build/default/bin (cmake --build --preset default --target Lumora terminal-sim)"

# The segment: 10.77.0.0/24, receivers .1 and .2, the virtual address .100, the terminals
# .101 to .108 (registered in both Equip.xml as 01 to 08).
vip=10.77.0.100
terminals=8
port=2050
monitor=9180
tag=lsp$$
ns_br=$tag-br ns_t=$tag-t
declare -A ns=([1]=$tag-r1 [2]=$tag-r2) addr=([1]=10.77.0.1 [2]=10.77.0.2) prio=([1]=150 [2]=100)
work=$(mktemp -d /tmp/standby-pair.XXXXXX)
# Copies, so that a build meanwhile changes nothing under a run of many rounds.
mkdir "$work/bin"
cp "$lumora" "$sim" "$work/bin/"
lumora=$work/bin/Lumora sim=$work/bin/terminal-sim
declare -A lumora_pid keepalived_pid

sim_pid=
cleanup() {
  set +e
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  for i in 1 2; do
    [ -n "${lumora_pid[$i]:-}" ] && kill -CONT "${lumora_pid[$i]}" 2>/dev/null && kill "${lumora_pid[$i]}" 2>/dev/null
    [ -n "${keepalived_pid[$i]:-}" ] && kill "${keepalived_pid[$i]}" 2>/dev/null
  done
  sleep 1
  for i in 1 2; do
    [ -n "${lumora_pid[$i]:-}" ] && kill -9 "${lumora_pid[$i]}" 2>/dev/null
    [ -n "${keepalived_pid[$i]:-}" ] && kill -9 "${keepalived_pid[$i]}" 2>/dev/null
  done
  for n in "${ns[1]}" "${ns[2]}" "$ns_t" "$ns_br"; do ip netns del "$n" 2>/dev/null; done
  if [ $keep = 1 ]; then echo "files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

in_ns() { local n=$1; shift; ip netns exec "$n" "$@"; }

# --- the segment ------------------------------------------------------------------------
for n in "$ns_br" "${ns[1]}" "${ns[2]}" "$ns_t"; do
  ip netns add "$n"
  in_ns "$n" ip link set lo up
done
in_ns "$ns_br" ip link add br0 type bridge
# Link-local multicast (VRRP's 224.0.0.18) is flooded anyway; no snooping to wait for.
in_ns "$ns_br" ip link set br0 type bridge mcast_snooping 0 forward_delay 0
in_ns "$ns_br" ip link set br0 up
join() {  # join NAMESPACE PORTNAME: the namespace's eth0, its far end on the bridge
  ip link add "$2" netns "$ns_br" type veth peer name eth0 netns "$1"
  in_ns "$ns_br" ip link set "$2" master br0 up
  in_ns "$1" ip link set eth0 up
}
for i in 1 2; do
  join "${ns[$i]}" "p-r$i"
  in_ns "${ns[$i]}" ip addr add "${addr[$i]}/24" dev eth0
done
join "$ns_t" p-t
for k in $(seq 1 $terminals); do in_ns "$ns_t" ip addr add "10.77.0.$((100 + k))/24" dev eth0; done

# --- the two receivers' folders: the same card list and equipment table, their own history
equip='<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="NumEquipamento" fieldtype="string" WIDTH="2"/><FIELD attrname="IP" fieldtype="string" WIDTH="15"/></FIELDS><PARAMS/></METADATA><ROWDATA>'
numbers=
for k in $(seq 1 $terminals); do
  equip+="<ROW NumEquipamento=\"$(printf %02d "$k")\" IP=\"10.77.0.$((100 + k))\"/>"
  numbers+="${numbers:+,}$(printf %02d "$k")"
done
equip+='</ROWDATA></DATAPACKET>'
cards='<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="NumComanda" fieldtype="string" WIDTH="20"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW NumComanda="0000000000001234"/></ROWDATA></DATAPACKET>'
for i in 1 2; do
  d=$work/r$i
  mkdir -p "$d/run"
  chmod 700 "$d/run"
  # Every address (Endereco_Escuta empty): the standby listens before the virtual address
  # is its own, so taking over is only the address moving.
  printf '[CONFIGS]\r\nInicio_Automatico=1\r\nLista_Branca=1\r\nLista_Negra=0\r\nMonitor_Http=%s\r\n' \
    "$monitor" >"$d/Config.ini"
  printf '%s' "$equip" >"$d/Equip.xml"
  printf '%s' "$cards" >"$d/Comandas.xml"
  cat >"$d/keepalived.conf" <<EOF
global_defs {
  router_id lumora-r$i
  enable_script_security
  script_user root
  vrrp_garp_master_refresh 5
}
vrrp_script lumora_health {
  script "/usr/bin/curl -fs -m 0.8 -o /dev/null http://127.0.0.1:$monitor/health"
  interval 1
  timeout 1
  fall 1
  rise 2
}
vrrp_instance gates {
  state BACKUP
  nopreempt
  interface eth0
  virtual_router_id 51
  priority ${prio[$i]}
  version 3
  advert_int 0.5
  virtual_ipaddress {
    $vip/24 dev eth0
  }
  track_script {
    lumora_health
  }
}
EOF
done

start_lumora() {  # start_lumora I
  local d=$work/r$1
  ip netns exec "${ns[$1]}" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$d/run" \
    LUMORA_PORTA_TCP=$port "$lumora" --program-folder "$d" >>"$d/output.log" 2>&1 &
  lumora_pid[$1]=$!
}
start_keepalived() {
  local d=$work/r$1
  ip netns exec "${ns[$1]}" keepalived -n -l -P -f "$d/keepalived.conf" -p "$d/keepalived.pid" \
    -r "$d/vrrp.pid" -c "$d/checkers.pid" >>"$d/keepalived.log" 2>&1 &
  keepalived_pid[$1]=$!
}
holder() {  # which receiver holds the virtual address now: 1, 2, "1 2" or ""
  local h=
  for i in 1 2; do
    in_ns "${ns[$i]}" ip -4 -o addr show dev eth0 | grep -q " $vip/" && h+="${h:+ }$i"
  done
  echo "$h"
}
holds() { [ "$(holder)" = "$1" ]; }
healthy() { in_ns "${ns[$1]}" curl -fs -m 1 -o /dev/null "http://127.0.0.1:$monitor/health"; }
rows() {  # rows I [STATE-PATTERN]: history rows of receiver I
  cat "$work/r$1"/Historicos/Historico_*.xml 2>/dev/null | grep -o '<ROW [^>]*>' |
    { if [ -n "${2:-}" ]; then grep -c -- "$2"; else grep -c .; fi; } || true
}
now_ms() { date +%s%3N; }
await() {  # await SECONDS COMMAND...: until the command succeeds
  local until=$(($(now_ms) + $1 * 1000)); shift
  until "$@"; do
    [ "$(now_ms)" -lt $until ] || return 1
    sleep 0.1
  done
}

for i in 1 2; do start_lumora $i; done
for i in 1 2; do await 30 healthy $i || { echo "FAIL: receiver $i never healthy"; tail "$work/r$i/output.log"; exit 1; }; done
for i in 1 2; do start_keepalived $i; done
await 15 holds 1 || { echo "FAIL: receiver 1 did not take the virtual address ($(holder))"; exit 1; }
echo "receivers at ${addr[1]} and ${addr[2]}, virtual address $vip on receiver $(holder)"

failed=0
# vip_s: kill to the address on the standby; silent_s: the longest any terminal went without an
# answer; carried: turnstile results sent on a new connection; free_b: "Sentido Livre" rows
# the standby wrote; replaced: old connections of the same terminals the standby closed.
printf '%-5s %-5s %8s %8s %6s %7s %7s %6s %6s %6s %8s %6s %5s\n' round fault vip_s silent_s lost reconn carried rows_a rows_b free_b replaced cycles flap
: >"$work/figures"
round=0
for r in $(seq 1 "$rounds"); do
  for variant in ${variants//,/ }; do
    round=$((round + 1))
    a=$(holder)
    [[ $a == 1 || $a == 2 ]] || { echo "FAIL: no single holder before round $round ($a)"; failed=1; break 2; }
    b=$((3 - a))
    await 20 healthy "$b" || true
    rows_a0=$(rows "$a") rows_b0=$(rows "$b") free_b0=$(rows "$b" 'Sentido Livre')
    replaced_b0=$(grep -c 'conectou de novo' "$work/r$b/output.log" || true)
    out=$work/load.$round
    "$sim" --netns "$ns_t" --load --host $vip --port $port --source 10.77.0.101 \
      --terminals $terminals --terminal-numbers "$numbers" --await-greeting --duration 13 \
      --interval 250 --turn-delay 300 --reply-timeout 1000 --connect-timeout 1000 \
      --reconnect --reconnect-delay 100 --reconnect-max 1000 >"$out" 2>&1 &
    sim_pid=$!
    sleep 4  # the greetings (a second each) and a steady load
    t0=$(now_ms)
    case $variant in
      kill) kill -9 "${lumora_pid[$a]}"; wait "${lumora_pid[$a]}" 2>/dev/null || true ;;
      link) in_ns "$ns_br" ip link set "p-r$a" down ;;
      stop) kill -STOP "${lumora_pid[$a]}" ;;
      *) echo "unknown variant $variant" >&2; exit 2 ;;
    esac
    await 10 holds "$b" || true
    vip_ms=$(($(now_ms) - t0))
    sleep $((6 - vip_ms / 1000 > 0 ? 6 - vip_ms / 1000 : 0))
    case $variant in
      kill) start_lumora "$a" ;;
      link) in_ns "$ns_br" ip link set "p-r$a" up ;;
      stop) kill -CONT "${lumora_pid[$a]}" ;;
    esac
    # Watch the address while the old receiver comes back, until the load ends.
    flap=no
    while kill -0 $sim_pid 2>/dev/null; do
      [ "$(holder)" = "$b" ] || flap=yes
      sleep 0.2
    done
    wait $sim_pid && sim_ok=1 || sim_ok=0
    sleep 0.5  # the last turnstile results' rows
    silent=$(sed -n 's/.*longest without an answer \([0-9.]*\) s.*/\1/p' "$out")
    lost=$(sed -n 's/.*replies lost \([0-9]*\),.*/\1/p' "$out")
    reconn=$(sed -n 's/.*reconnections \([0-9]*\) .*/\1/p' "$out")
    cycles=$(sed -n 's/.*cycles \([0-9]*\),.*/\1/p' "$out")
    carried=$(sed -n 's/.*on a new connection \([0-9]*\),.*/\1/p' "$out")
    rows_a=$(($(rows "$a") - rows_a0)) rows_b=$(($(rows "$b") - rows_b0))
    free_b=$(($(rows "$b" 'Sentido Livre') - free_b0))
    # Old connections of the same terminals that the standby still held (it was frozen and
    # resumed after it lost the address) and closed when they came back: a card pending on
    # one moves to the new connection, by the receiver's rule for a gate that connects again.
    replaced=$(($(grep -c 'conectou de novo' "$work/r$b/output.log" || true) - replaced_b0))
    printf '%-5s %-5s %8.3f %8s %6s %7s %7s %6s %6s %6s %8s %6s %5s\n' "$round" "$variant" \
      "$(awk -v m="$vip_ms" 'BEGIN { print m / 1000 }')" "$silent" "$lost" "$reconn" "$carried" "$rows_a" "$rows_b" \
      "$free_b" "$replaced" "$cycles" "$flap"
    echo "$variant $vip_ms $silent $lost $reconn $rows_a $rows_b $free_b $cycles $flap $carried $replaced" >>"$work/figures"
    ok=1
    [ "$(holder)" = "$b" ] || ok=0
    [ "$flap" = no ] || ok=0
    [ $sim_ok = 1 ] || ok=0
    # Every turnstile result that reached the standby on a new connection found nothing
    # pending there, a "Sentido Livre" row each, unless an old connection's card moved over.
    if [ "$replaced" = 0 ]; then [ "$free_b" = "$carried" ] || ok=0; else [ "$free_b" -le "$carried" ] || ok=0; fi
    [ -n "$silent" ] && awk -v s="$silent" 'BEGIN { exit !(s < 5.0) }' || ok=0
    if [ $ok = 0 ]; then
      echo "FAIL round $round ($variant):"; cat "$out"; failed=1
    fi
    # The old receiver healthy again (a standby) before the next round fails the new one.
    await 30 healthy "$a" || { echo "FAIL: receiver $a not healthy again"; failed=1; break 2; }
    sleep 2.5  # rise 2: keepalived sees it healthy, back to BACKUP
  done
done

echo
echo "per fault: rounds, time to the address moving (mean, max), every terminal answered again (mean, max), replies lost, turnstile results carried to a new connection, rows old side / new side (of which Sentido Livre), flaps"
awk '{ n[$1]++; v[$1]+=$2/1000; if ($2/1000>vm[$1]) vm[$1]=$2/1000; s[$1]+=$3; if ($3>sm[$1]) sm[$1]=$3;
       l[$1]+=$4; ra[$1]+=$6; rb[$1]+=$7; fb[$1]+=$8; f[$1]+=($10=="yes"); c[$1]+=$11 }
     END { for (k in n) printf "%-5s %3d  vip %.2f/%.2f s  answered %.2f/%.2f s  lost %d  carried %d  rows %d / %d (%d)  flaps %d\n",
           k, n[k], v[k]/n[k], vm[k], s[k]/n[k], sm[k], l[k], c[k], ra[k], rb[k], fb[k], f[k] }' "$work/figures"
echo "Sentido Livre rows on the new side:"
for i in 1 2; do
  { cat "$work/r$i"/Historicos/Historico_*.xml 2>/dev/null | grep -o '<ROW [^>]*Sentido Livre[^>]*>' | head -n 2; } || true
done
if [ $failed = 0 ]; then echo "RESULT proven"; else echo "RESULT failed"; exit 1; fi
