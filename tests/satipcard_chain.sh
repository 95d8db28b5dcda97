#!/usr/bin/env bash
# The whole chain on loopback: morvalind-host (CLIENT) -> Morvalind.dev -> the
# SAT>IP card library -> morvalind-host serve (SERVER, native) ->
# Morvalind.dev -> the stand-in card replaying a recording. Signal and lock
# come through, a switch port reaches the stand-in's dish (its second
# satellite is in view on port 2 only), and a capture over UDP and one over
# TCP are the recording's packets byte for byte (replay_compare). The client
# is the native program, or the Windows one under Wine (Wine's sockets are
# the machine's).
# Usage: satipcard_chain.sh WORK_FOLDER RECORDING SERVER_HOST REPLAY_COMPARE... -- CLIENT_HOST...
#   (each command: under Wine, the runner followed by the .exe)
set -uo pipefail
work=$1
recording=$2
server_host=$3
shift 3
compare=()
while [ "$1" != "--" ]; do
  compare+=("$1")
  shift
done
shift
client=("$@")
if [ ! -f "$recording" ]; then
  echo "no recording to replay (ffmpeg is needed to make it): skipped"
  exit 77
fi
if [ ! -x "$server_host" ]; then
  echo "no native morvalind-host at $server_host to serve the card (build the native preset): skipped"
  exit 77
fi
if ! "$server_host" help serve >/dev/null 2>&1; then
  echo "$server_host has no serve command: skipped"
  exit 77
fi
mkdir -p "$work"
cd "$work" || exit 1
rm -f ./*.ts ./*.txt ./*.log ./*.ini
failed=0
started=$SECONDS
fail() {
  echo "FAILED: $*"
  failed=1
}

# The server, on a free port of the loopback.
port=0
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 30000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
"$server_host" serve --replay "$recording" --listen "127.0.0.1:$port" --no-discovery \
  >server.txt 2>&1 &
server=$!
trap 'kill -INT $server 2>/dev/null; wait $server 2>/dev/null' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
card=(--card "satip:127.0.0.1:$port")

# run NAME TRANSPORT ARGUMENTS...: the client with a settings file of its own
# (its msys: $msys).
msys=auto
run() {
  local name=$1 transport=$2
  shift 2
  printf 'transport = %s\nmsys = %s\nlog = %s-card.log\n' "$transport" "$msys" "$name" >"$name.ini"
  MORVALIND_SATIP_SETTINGS=$name.ini "${client[@]}" "$@" >"$name.txt" 2>"$name-err.txt"
  status=$?
}
json() {  # json NAME PYTHON-CHECK...: checks on the last JSON line of NAME.txt, as `last`
  python3 - "$@" <<'PY' || fail "$1: $(tail -3 "$1-err.txt")"
import json, sys
last = json.loads(open(sys.argv[1] + ".txt").read().splitlines()[-1])
for check in sys.argv[2:]:
    assert eval(check), check
PY
}

tune=(--freq 11778 --pol V --sr 27500 --fec 3/4)
run signal udp signal "${card[@]}" --json "${tune[@]}"
json signal "last['exit_status'] == 0" "last['signal']['locked']" "last['signal']['strength'] > 0"

# The stand-in's second satellite (11095 MHz H) is in view on switch port 2 only.
run port2 udp tune "${card[@]}" --port 2 --json --freq 11095 --pol H --sr 27500 --fec 3/4
json port2 "last['exit_status'] == 0" "last['tune']['locked']"
# DVB-S only: with msys auto the client would ask for DVB-S2 while the server's
# card is still in its 3 s wait for a lock that never comes, and that second
# futile tune would hold the card into the next client's tune.
msys=dvbs
run port1 udp tune "${card[@]}" --port 1 --json --freq 11095 --pol H --sr 27500 --fec 3/4
msys=auto
json port1 "last['exit_status'] == 5" "not last['tune']['locked']"

for transport in udp tcp; do
  run "capture-$transport" "$transport" capture "${card[@]}" -o "capture-$transport.ts" \
    --seconds 3 "${tune[@]}"
  [ "$status" -eq 0 ] || fail "capture over $transport: status $status: $(tail -3 "capture-$transport-err.txt")"
  # The server's card plays on between clients on one transponder: a capture
  # may join the replay in any loop.
  said=$("${compare[@]}" --joined "$recording" "capture-$transport.ts")
  compared=$?
  echo "over $transport: $(tail -1 <<<"$said")"
  [ "$compared" -eq 0 ] || fail "capture over $transport: not the recording's packets"
  grep "^Card figures" "capture-$transport.txt"
done
echo "chain took $((SECONDS - started)) s"
exit $failed
