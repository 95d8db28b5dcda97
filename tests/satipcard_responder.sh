#!/usr/bin/env bash
# The SAT>IP card library through the host program against a test responder
# (satip_responder.py) that answers as the widely used servers do where they
# differ: ro=35 in its reports, RTCP late or never (the status then comes from
# DESCRIBE), a Session timeout of 30 s or of 2 s (kept alive), RTP only inside
# the RTSP connection (UDP refused with 461), 503 and 404 when no tuner
# is free, and a server that vanishes mid-capture. The responder numbers its
# packets, so a capture shows every packet lost, doubled or out of order.
# Usage: satipcard_responder.sh WORK_FOLDER RESPONDER -- MORVALIND_HOST...
#   (the host program's command: under Wine, the runner followed by the .exe)
set -uo pipefail
work=$1
responder=$2
shift 3
host=("$@")
mkdir -p "$work"
cd "$work" || exit 1
rm -f ./*.log ./*.ts ./*.txt
tune=(--freq 11778 --pol V --sr 27500 --fec 3/4)
failed=0
started=$SECONDS
responder_pid=""

fail() {
  echo "FAILED: $*"
  failed=1
}
stop_responder() {
  if [ -n "$responder_pid" ]; then kill "$responder_pid" 2>/dev/null; wait "$responder_pid" 2>/dev/null; fi
  responder_pid=""
}
trap stop_responder EXIT

# start CASE RESPONDER-OPTIONS...: a responder of its own; $server, a settings file CASE.ini.
start() {
  stop_responder
  name=$1
  shift
  rm -f ports
  python3 "$responder" --ports ports --log "$name-server.log" "$@" &
  responder_pid=$!
  for _ in $(seq 100); do [ -s ports ] && break; sleep 0.05; done
  read -r rtsp_port http_port <ports || { echo "FAILED: $name: the responder did not start"; exit 1; }
  server=127.0.0.1:$rtsp_port
  printf 'log = %s-card.log\n' "$name" >"$name.ini"
  export MORVALIND_SATIP_SETTINGS=$name.ini
}

# run CASE ARGUMENTS...: the host program; status in $status, output in CASE.txt, CASE-err.txt.
run() {
  local name=$1
  shift
  "${host[@]}" "$@" >"$name.txt" 2>"$name-err.txt"
  status=$?
}

expect_status() {  # expect_status CASE STATUS
  [ "$status" -eq "$2" ] || fail "$1: exit status $status, not $2: $(tail -3 "$1-err.txt")"
}

expect_said() {  # expect_said FILE TEXT
  grep -q -- "$2" "$1" || fail "$1 does not say '$2': $(tail -3 "$1")"
}

# check_capture CASE FILE PYTHON-CHECK...: the numbered packets in order,
# nothing doubled, every gap counted by the library; the JSON report as `last`
# and its card figures as `figures`, the packets' gaps as `gaps`.
check_capture() {
  python3 - "$@" <<'PY' || fail "$1: the capture or its report (see $PWD/$1.txt)"
import json, struct, sys
name, path, checks = sys.argv[1], sys.argv[2], sys.argv[3:]
data = open(path, "rb").read()
assert len(data) % 188 == 0 and data, "%d bytes: not whole packets" % len(data)
numbers = [struct.unpack(">Q", data[i + 4:i + 12])[0] for i in range(0, len(data), 188)]
steps = [b - a for a, b in zip(numbers, numbers[1:])]
assert all(step > 0 for step in steps), "packets doubled or out of order"
gaps = sum(step - 1 for step in steps)
last = [json.loads(line) for line in open(name + ".txt") if line.strip()][-1]
figures = last["capture"]["card_figures"]
counted = 7 * figures["missing"] + figures["ring_full"]
assert gaps <= counted, "%d packets missing, %d counted" % (gaps, counted)
for check in checks:
    assert eval(check), check
print("%s: %d packets in order, %d missing (the library counted %d datagrams missing, "
      "%d reordered, %d late)" % (name, len(numbers), gaps, figures["missing"],
                                  figures["reordered"], figures["late"]))
PY
}

# 1. Reports that write ro=35 and come late (DESCRIBE tells meanwhile), a
#    timeout of 30 s, the switch port as src, a positioner command refused.
start late --ro35 --rtcp late --timeout 30
run late capture --card "satip:$server" --port 3 -o late.ts --seconds 4 --json "${tune[@]}"
expect_status late 0
expect_said late-server.log "SETUP rtsp://$server/?src=3&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=all"
expect_said late-server.log "DESCRIBE rtsp://$server/stream=1"
check_capture late late.ts "gaps == 0" "figures['level'] == 224 and figures['quality'] == 15" \
  "last['tune']['locked']" "last['signal']['strength'] == 88"
run positioner diseqc --card "satip:$server" --goto 1
expect_status positioner 1
expect_said positioner-err.txt "SAT>IP carries only switch inputs"

# 2. RTP only inside the RTSP connection, no RTCP at all, a timeout of 2 s
#    that keep-alives must beat.
start tcp --tcp-only --rtcp none --timeout 2
run tcp capture --card "satip:$server" -o tcp.ts --seconds 5 --json "${tune[@]}"
expect_status tcp 0
expect_said tcp-server.log "Transport=RTP/AVP/TCP;unicast;interleaved=0-1"
expect_said tcp-server.log "OPTIONS rtsp://$server/ Session=1a2b3c"
if grep -q "timed out" tcp-server.log; then fail "tcp: the session timed out: no keep-alive"; fi
check_capture tcp tcp.ts "gaps == 0" "figures['level'] == 224" "figures['datagrams'] > 0"

# 3. No free tuner, said with 503 or, as some servers do, 404: the tune
# fails, with the server's answer.
for busy in "503 Service Unavailable" "404 Not Found"; do
  start busy --busy-freq 12012 --busy-status "${busy%% *}"
  run busy tune --card "satip:$server" --freq 12012 --pol V --sr 30000 --fec 5/6
  expect_status busy 5
  expect_said busy-err.txt "$busy"
done

# 4. Over HTTP: the signal from DESCRIBE, the stream whole.
start http
printf 'transport = http\nhttp_port = %s\nlog = http-card.log\n' "$http_port" >http.ini
run http capture --card "satip:$server" -o http.ts --seconds 3 --json "${tune[@]}"
expect_status http 0
expect_said http-server.log "GET /?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=all"
check_capture http http.ts "gaps == 0" "figures['quality'] == 15" "figures['datagrams'] == 0"

# 5. The server vanishes mid-capture: what came is kept whole, the stream's
#    loss stops the capture (status 1), the card closes, the log says why.
start vanish --vanish-after 1.5
run vanish capture --card "satip:$server" -o vanish.ts --seconds 20 --json "${tune[@]}"
expect_status vanish 1
expect_said vanish-card.log "ended: "
check_capture vanish vanish.ts "figures['stream_errors'] == 1" \
  "last['capture']['stopped_by'] == \"the card's stream failing\"" "last['close']['result'] == 0"

# 6. No server there: the card does not open (the module's message, status 4),
#    and the reason is on stderr and in the log.
stop_responder
printf 'log = gone-card.log\n' >gone.ini
export MORVALIND_SATIP_SETTINGS=gone.ini
run gone open --card "satip:127.0.0.1:$rtsp_port"
expect_status gone 4
expect_said gone-err.txt "OpenDevice not successful"
expect_said gone-err.txt "cannot reach 127.0.0.1:$rtsp_port"
expect_said gone-card.log "the card does not open"

echo "responder cases took $((SECONDS - started)) s"
exit $failed
