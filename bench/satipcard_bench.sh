#!/usr/bin/env bash
# The SAT>IP card library's benchmark through the native chain, in a network
# namespace of its own (unshare -n; root, also for satipcard_bench's packet
# socket): morvalind-host serve on its loopback with the stand-in card at the
# highest DVB-S rate (72.576 Mbit/s, its generated multiplex), and
# satipcard_bench as the host, over UDP and then over TCP (the tests'
# responder at that rate where the program has no serve command). Prints the packets
# lost, the receiver thread's CPU per received Mbit and the time from the
# server's send to the host's callback (p50, p99).
# Usage: bench/satipcard_bench.sh [BIN [SECONDS]]   (BIN: build/native/bin)
set -euo pipefail
bin=$(cd "${1:-build/native/bin}" && pwd)
seconds=${2:-10}
if [ -z "${SATIPCARD_BENCH_NAMESPACE:-}" ]; then
  SATIPCARD_BENCH_NAMESPACE=1 exec unshare -n "$(readlink -f "$0")" "$bin" "$seconds"
fi
ip link set dev lo up
work=$(mktemp -d)
stop=INT  # serve ends on it; the responder, a background Python, ignores it
trap 'kill -$stop $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$work"' EXIT
if "$bin/morvalind-host" help serve >/dev/null 2>&1; then
  echo '{"rate": 72576000}' >"$work/lineup.json"
  MORVALIND_SIM_LINEUP=$work/lineup.json "$bin/morvalind-host" serve --listen 127.0.0.1:8554 \
    --no-discovery >"$work/serve.txt" 2>&1 &
  server=$!
  port=8554
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
else
  # A program without serve: the tests' responder sends at the same rate, so
  # that the library's own figures can still be had.
  echo "no serve command in $bin/morvalind-host: the test responder serves at 72.576 Mbit/s"
  python3 "$(dirname "$(readlink -f "$0")")/../tests/satip_responder.py" --ports "$work/ports" \
    --rate 72.576 >"$work/serve.txt" 2>&1 &
  server=$!
  stop=TERM
  for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
  read -r port _ <"$work/ports"
fi
for transport in udp tcp; do
  "$bin/satipcard_bench" --server "127.0.0.1:$port" --seconds "$seconds" --transport "$transport"
done
