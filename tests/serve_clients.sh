#!/usr/bin/env bash
# morvalind-host serve as SAT>IP clients no one here wrote use it, on loopback,
# the stand-in card replaying the tests' recording (ffmpeg's own muxer). One
# case a run:
#   clients    VLC (its satip access over UDP, the stream dumped as received),
#              ffmpeg's RTSP client over UDP and over TCP and curl over HTTP, at
#              once on one transponder with PIDs of their own: VLC's and curl's
#              streams are the recording's packets of their PIDs, in order,
#              none lost, none added; ffprobe names the service and ffmpeg
#              decodes. A fifth asking another transponder meanwhile gets 503;
#              the tuner is free again after the TEARDOWNs, and after a client
#              that vanished without one timed out.
#   ffmpeg     ffmpeg over UDP and TCP records (the win32 build's proof: the
#              server under Wine, the clients native).
#   discovery  SSDP in a network namespace of its own (no multicast leaves):
#              NOTIFY alive at start, the answer to an M-SEARCH, the
#              description it names, byebye at Ctrl-C.
# Usage: serve_clients.sh CASE WORK_FOLDER RECORDING REPLAY_COMPARE -- MORVALIND_HOST...
#   (the host program's command: under Wine, the runner followed by the .exe)
set -uo pipefail
case_name=$1
work=$2/$case_name
recording=$3
compare=$4
shift 5
host=("$@")
program=${host[-1]}
started=$SECONDS
for tool in ffmpeg ffprobe curl; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done
[ -f "$recording" ] || { echo "no recording (ffmpeg makes it): skipped"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
chmod 777 "$work"  # VLC runs as nobody and writes here
cd "$work" || exit 1
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}
passed() { echo "ok: $*"; }

# Under Wine everything is slower; the waits are bounds, not pauses.
limit=30
[[ $program == *.exe ]] && limit=120

# serve OPTIONS...: starts the server on loopback ports of its own; sets
# server, rtsp and http (ports); its JSON lines go to serve.json.
serve() {
  # Started again once where Wine refused the program at its start (a Wine
  # server leaving as it came: "wine client error"), which is no fault of it.
  for attempt in 1 2; do
    "${host[@]}" serve --replay "$recording" --listen 127.0.0.1:0 --http-port 0 --json "$@" \
      >serve.json 2>serve.err &
    server=$!
    for _ in $(seq $((limit * 10))); do
      grep -q '"event":"listening"' serve.json 2>/dev/null && break
      kill -0 "$server" 2>/dev/null || break
      sleep 0.1
    done
    if [ "$attempt" = 1 ] && grep -q '^wine client error' serve.err; then
      wait "$server"
      continue
    fi
    break
  done
  rtsp=$(grep -o '"rtsp":\["rtsp://127.0.0.1:[0-9]*' serve.json | grep -o '[0-9]*$')
  http=$(grep -o '"http":\["http://127.0.0.1:[0-9]*' serve.json | grep -o '[0-9]*$')
  [ -n "$rtsp" ] && [ -n "$http" ] || { cat serve.err; fail "the server did not start"; exit 1; }
}
# Ctrl-C: the server ends cleanly, the card closed.
stop() {
  kill -INT "$server"
  wait "$server"
  local status=$?
  [ "$status" -eq 0 ] || fail "the server ended with status $status: $(tail -3 serve.err)"
  grep -q '"close":{"result":0,"closed":true}' serve.json || fail "the card was not closed"
}
# Waits until COUNT lines of serve.json match PATTERN.
wait_for() { # PATTERN COUNT WHAT
  for _ in $(seq $((limit * 10))); do
    [ "$(grep -c -- "$1" serve.json)" -ge "$2" ] && return 0
    sleep 0.1
  done
  fail "the log never said $3"
  return 1
}
query() { echo "src=1&freq=${2:-11778}&pol=${3:-v}&msys=dvbs&sr=${4:-27500}&pids=$1"; }
other=(12344 h 29700)  # another transponder of the stand-in's
# The tuner taken by no one: another transponder's stream comes (HTTP 200).
tuner_free() { # WHAT
  local code
  code=$(curl -s -o other.ts -w '%{http_code}' --max-time 1 "http://127.0.0.1:$http/?$(query 0 "${other[@]}")")
  if [ "$code" = 200 ] && [ -s other.ts ]; then passed "the tuner is free $1"; else
    fail "the tuner is not free $1 (HTTP $code)"; fi
}
# Whether ffprobe lists PATTERN among the file's programs and streams.
probe() { # FILE PATTERN
  local said
  said=$(ffprobe -v error -show_programs -show_streams -of compact "$1" 2>&1)
  grep -q -- "$2" <<<"$said"
}
# ffmpeg decodes it without a word, but for the last picture or sound of each
# stream, which the client's end may have cut; ffprobe counts its pictures.
decodes() { # FILE WHAT
  local said frames
  "$(dirname "$0")/support/cut_last_units.py" "$1" "$1.whole"
  said=$(ffmpeg -nostdin -v error -i "$1.whole" -f null - 2>&1)
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$1.whole" 2>/dev/null)
  frames=${frames%%$'\n'*}
  if [ -z "$said" ] && [ "${frames:-0}" -gt 0 ]; then passed "$2 decodes ($frames pictures)"; else
    fail "$2 does not decode cleanly: ${said:0:300}"; fi
}
# The stream a client received is the recording's packets of its PIDs.
same_packets() { # FILE PIDS WHAT
  local said
  if said=$("$compare" --joined "$recording" "$1" "$2"); then passed "$3: $(tail -1 <<<"$said")"; else
    fail "$3: $said"; fi
}
vlc() { # DUMP SECONDS URL: VLC (as nobody if this is root, whom it refuses), the stream dumped as it came
  local as=()
  [ "$(id -u)" -ne 0 ] || as=(runuser -u nobody --)
  mkdir -p vlc-home && chmod 777 vlc-home
  "${as[@]}" env HOME="$work/vlc-home" timeout -s INT "$2" \
    cvlc -I dummy --no-video-title-show --demux=dump --demuxdump-file="$work/$1" "$3" vlc://quit \
    >vlc.txt 2>&1
}
ffmpeg_rtsp() { # TRANSPORT FILE QUERY
  timeout "$limit" ffmpeg -nostdin -v error -rtsp_transport "$1" -analyzeduration 1000000 \
    -i "rtsp://127.0.0.1:$rtsp/?$3" -map 0 -c copy -t 3 -f mpegts "$2" >"$2.txt" 2>&1
}

case $case_name in
clients)
  command -v cvlc >/dev/null || { echo "VLC is not installed (vlc-bin, vlc-plugin-base): skipped"; exit 77; }
  serve --no-discovery --session-timeout 2
  # The recording: PAT 0, SDT 17, PMTs 0x1000 and 0x1001, video 0x100 and
  # audio 0x101 of "Replay", audio 0x102 of "Radio".
  vlc_pids=0,17,4096,256,257 udp_pids=0,4096,256,257 tcp_pids=0,17,4097,258 http_pids=0,17,4096,257
  vlc vlc.ts 6 "satip://127.0.0.1:$rtsp/?$(query $vlc_pids)" &
  vlc_client=$!
  ffmpeg_rtsp udp udp.ts "$(query $udp_pids)" &
  udp_client=$!
  ffmpeg_rtsp tcp tcp.ts "$(query $tcp_pids)" &
  tcp_client=$!
  curl -s -o http.ts --max-time 4 "http://127.0.0.1:$http/?$(query $http_pids)" &
  http_client=$!
  if wait_for '"event":"session"' 4 "four sessions"; then
    passed "four clients at once on one transponder: $(grep -o '"transport":"[^"]*"' serve.json | tr '\n' ' ')"
    said=$(ffprobe -v error -rtsp_transport tcp "rtsp://127.0.0.1:$rtsp/?$(query 0 "${other[@]}")" 2>&1)
    if grep -q 503 <<<"$said"; then passed "a fifth on another transponder: ${said##*: }"; else
      fail "a fifth on another transponder is not refused with 503: $said"; fi
  fi
  wait "$vlc_client" "$udp_client" "$tcp_client" "$http_client"
  same_packets vlc.ts $vlc_pids "VLC over UDP"
  same_packets http.ts $http_pids "curl over HTTP"
  if probe vlc.ts 'tag:service_name=Replay'; then passed "ffprobe names the service VLC received: Replay"; else
    fail "ffprobe does not name the service in VLC's stream"; fi
  decodes vlc.ts "VLC's stream"
  probe udp.ts 'codec_name=mpeg2video' || fail "ffmpeg over UDP recorded no video: $(cat udp.ts.txt)"
  probe tcp.ts 'codec_name=mp2' || fail "ffmpeg over TCP recorded no audio: $(cat tcp.ts.txt)"
  decodes udp.ts "ffmpeg's recording over UDP"
  wait_for '"event":"ended"' 4 "four sessions ended"
  sent=$(grep '"event":"ended"' serve.json | grep -o '"reason":"[a-z]*".*"dropped":[0-9]*' | tr '\n' ' ')
  grep '"event":"ended"' serve.json | grep -qv '"dropped":0' && fail "a session lost packets: $sent"
  passed "what each sent: $sent"
  # ffprobe reads a stream over HTTP as a player opens one, and names its service.
  said=$(timeout "$limit" ffprobe -v error -show_programs -of compact \
    "http://127.0.0.1:$http/?$(query $http_pids)" 2>&1)
  if grep -q 'tag:service_name=Replay' <<<"$said"; then passed "ffprobe over HTTP names the service: Replay"; else
    fail "ffprobe over HTTP does not name the service: ${said:0:300}"; fi
  wait_for '"event":"ended"' 5 "ffprobe's session ended"
  tuner_free "after the TEARDOWNs"

  # A client that vanishes without TEARDOWN: its session holds the tuner until it times out.
  ffmpeg -nostdin -v error -rtsp_transport udp -i "rtsp://127.0.0.1:$rtsp/?$(query $udp_pids)" \
    -map 0 -c copy -t 30 -f mpegts vanished.ts >vanished.txt 2>&1 &
  vanishing=$!
  wait_for '"event":"session"' 7 "the seventh session"
  kill -KILL "$vanishing"
  wait "$vanishing" 2>/dev/null
  code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 1 "http://127.0.0.1:$http/?$(query 0 "${other[@]}")")
  [ "$code" = 503 ] || fail "a vanished client's session did not hold the tuner (HTTP $code)"
  wait_for '"reason":"timeout"' 1 "the vanished client's session timed out" &&
    tuner_free "after a client vanished without TEARDOWN ($(grep -o '"reason":"timeout","seconds":[0-9.]*' serve.json))"
  stop
  ;;
ffmpeg)
  serve --no-discovery
  ffmpeg_rtsp udp udp.ts "$(query 0,17,4096,256,257)" &
  udp_client=$!
  ffmpeg_rtsp tcp tcp.ts "$(query 0,17,4096,256,257)" &
  tcp_client=$!
  wait "$udp_client" "$tcp_client"
  for transport in udp tcp; do
    probe $transport.ts 'codec_name=mpeg2video' ||
      fail "ffmpeg over ${transport^^} recorded no video: $(cat $transport.ts.txt)"
    decodes $transport.ts "ffmpeg's recording over ${transport^^}"
  done
  stop
  grep '"event":"ended"' serve.json | grep -o '"reason":"[a-z]*".*"dropped":[0-9]*'
  ;;
discovery)
  # Inside a network namespace of its own: loopback with multicast, and a route for it.
  if ! unshare -n true 2>/dev/null; then
    echo "no network namespace can be made here: skipped"
    exit 77
  fi
  unshare -n bash -c '
    ip link set lo up && ip link set lo multicast on && ip route add 239.0.0.0/8 dev lo src 127.0.0.1 || exit 77
    python3 - "$@" <<"PY"
import re, signal, socket, struct, subprocess, sys, urllib.request
host = sys.argv[1:]
group = ("239.255.255.250", 1900)
listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
listen.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listen.bind(("", 1900))
listen.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                  struct.pack("4s4s", socket.inet_aton(group[0]), socket.inet_aton("127.0.0.1")))
listen.settimeout(10)
server = subprocess.Popen(host + ["serve", "--listen", "127.0.0.1:0", "--http-port", "0", "--json"],
                          stdout=subprocess.PIPE, text=True)
def check():
    print("listening:", server.stdout.readline().strip()[:120])
    def notices(kind, count):
        seen = []
        while len(seen) < count:
            text = listen.recv(2048).decode()
            if "NTS: " + kind in text:
                seen.append(re.search(r"^NT: (.*)\r$", text, re.M).group(1))
        return seen
    print("alive:", notices("ssdp:alive", 3))
    search = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    search.settimeout(10)
    search.sendto(b"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                  b"MX: 1\r\nST: urn:ses-com:device:SatIPServer:1\r\n\r\n", group)
    answer = search.recv(2048).decode()
    location = re.search(r"^LOCATION: (.*)\r$", answer, re.M).group(1)
    print("answer:", answer.splitlines()[0], "LOCATION", location)
    with urllib.request.urlopen(location, timeout=10) as response:
        description = response.read().decode()
        port = response.headers["X-SATIP-RTSP-Port"]
    assert ">DVBS2-1</satip:X_SATIPCAP>" in description, description
    assert port is not None, "no X-SATIP-RTSP-Port"
    print("description: X_SATIPCAP DVBS2-1, X-SATIP-RTSP-Port", port)
    server.send_signal(signal.SIGINT)
    print("byebye:", notices("ssdp:byebye", 3))
    assert server.wait(timeout=20) == 0
try:
    check()
finally:
    if server.poll() is None:
        server.kill()
PY
  ' discovery "${host[@]}"
  status=$?
  [ "$status" -ne 77 ] || { echo "loopback cannot carry multicast here: skipped"; exit 77; }
  [ "$status" -eq 0 ] || fail "SSDP: see above"
  ;;
*)
  echo "no case $case_name"
  exit 2
  ;;
esac
echo "$case_name: $((SECONDS - started)) s"
exit $failed
