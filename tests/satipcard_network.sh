#!/usr/bin/env bash
# The SAT>IP card library on networks of the test's own, in network namespaces
# (unshare -n, as root), so that nothing leaves the machine:
#   discovery  no server named: the library finds the responder by SSDP, on a
#              loopback of its own with a route for multicast
#   netem      the responder behind a veth pair whose far end loses 1 % of the
#              datagrams and reorders them (tc netem): every packet of the
#              capture in order, every one lost counted, no crash
# Exits 77 (skipped) where namespaces or netem cannot be had here.
# Usage: satipcard_network.sh CASE WORK_FOLDER RESPONDER MORVALIND_HOST
set -uo pipefail
self=$(readlink -f "$0")
case_name=$1
work=$2/$case_name
responder=$3
host=$4
mkdir -p "$work"
cd "$work" || exit 1
rm -f ./*.log ./*.ts ./*.txt ports
tune=(--freq 11778 --pol V --sr 27500 --fec 3/4)
started=$SECONDS

if [ "$(id -u)" -ne 0 ] || ! unshare -n true 2>/dev/null; then
  echo "network namespaces need root here: skipped"
  exit 77
fi

# In a namespace of its own from here on (the script runs itself there).
if [ -z "${SATIPCARD_IN_NAMESPACE:-}" ]; then
  SATIPCARD_IN_NAMESPACE=1 exec unshare -n "$self" "$@"
fi
ip link set dev lo up

wait_ports() {
  for _ in $(seq 200); do [ -s ports ] && break; sleep 0.05; done
  read -r rtsp_port _ <ports || { echo "FAILED: the responder did not start"; exit 1; }
}

case $case_name in
discovery)
  ip link set dev lo multicast on
  ip route add 239.0.0.0/8 dev lo
  python3 "$responder" --ports ports --log server.log --ssdp &
  responder_pid=$!
  trap 'kill $responder_pid 2>/dev/null' EXIT
  wait_ports
  printf 'log = card.log\n' >card.ini  # no server: SSDP finds one
  MORVALIND_SATIP_SETTINGS=card.ini "$host" tune --card satip "${tune[@]}" >tune.txt 2>&1
  status=$?
  grep -q "SSDP: Test responder at 127.0.0.1:$rtsp_port" card.log && [ "$status" -eq 0 ] || {
    echo "FAILED: discovery (status $status): $(tail -3 tune.txt) / $(tail -3 card.log)"
    exit 1
  }
  echo "discovery: $(grep SSDP card.log | cut -d' ' -f3-), tuned in $((SECONDS - started)) s"
  ;;
netem)
  if ! { ip link add name sc-probe type veth peer name sc-probe2 &&
    tc qdisc add dev sc-probe root netem loss 1%; } 2>/dev/null; then
    echo "this kernel has no netem (sch_netem) or veth: skipped"
    exit 77
  fi
  ip link del sc-probe
  # The server's side: a namespace of its own, at the far end of the pair.
  ip link add name sc-client type veth peer name sc-server
  unshare -n bash -c '
    until ip link show sc-server >/dev/null 2>&1; do sleep 0.05; done
    ip link set dev lo up
    ip addr add 192.0.2.2/24 dev sc-server
    ip link set dev sc-server up
    tc qdisc add dev sc-server root netem delay 10ms reorder 25% 50% loss 1%
    exec python3 "$1" --address 192.0.2.2 --ports ports --log server.log --rate 6' server "$responder" &
  responder_pid=$!
  trap 'kill $responder_pid 2>/dev/null' EXIT
  for _ in $(seq 100); do
    [ "$(readlink "/proc/$responder_pid/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.02
  done
  ip link set sc-server netns "$responder_pid"
  ip addr add 192.0.2.1/24 dev sc-client
  ip link set dev sc-client up
  wait_ports
  printf 'log = card.log\n' >card.ini
  MORVALIND_SATIP_SETTINGS=card.ini "$host" capture --card "satip:192.0.2.2:$rtsp_port" \
    -o netem.ts --seconds 8 --json "${tune[@]}" >netem.txt 2>netem-err.txt
  status=$?
  [ "$status" -eq 0 ] || { echo "FAILED: capture status $status: $(tail -3 netem-err.txt)"; exit 1; }
  python3 - <<'PY' || exit 1
import json, struct
data = open("netem.ts", "rb").read()
assert len(data) % 188 == 0 and data, "not whole packets"
numbers = [struct.unpack(">Q", data[i + 4:i + 12])[0] for i in range(0, len(data), 188)]
steps = [b - a for a, b in zip(numbers, numbers[1:])]
assert all(step > 0 for step in steps), "FAILED: packets doubled or out of order"
gaps = sum(step - 1 for step in steps)
last = json.loads(open("netem.txt").read().splitlines()[-1])
f = last["capture"]["card_figures"]
counted = 7 * f["missing"] + f["ring_full"]
print("netem: %d packets in order, %d missing in the file; the library: %d datagrams, %d missing,"
      " %d reordered and put back, %d late, %d dropped in a full ring; host CC errors %d" %
      (len(numbers), gaps, f["datagrams"], f["missing"], f["reordered"], f["late"], f["ring_full"],
       last["capture"]["continuity_errors"]))
assert gaps <= counted, "FAILED: %d packets missing, %d counted" % (gaps, counted)
assert f["missing"] > 0 and gaps > 0, "FAILED: 1 % loss, and none seen"
assert f["reordered"] > 0, "FAILED: reordering, and none seen"
PY
  echo "netem case took $((SECONDS - started)) s"
  ;;
*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
