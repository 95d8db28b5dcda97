#!/usr/bin/env bash
# The host program as a person and a script use it, on the stand-in card: one
# case a run, each a few program runs whose outputs and exit statuses are
# checked (JSON with python3, the stream with ffprobe).
# Usage: host_program.sh CASE WORK_FOLDER MORVALIND_HOST...
#   (the host program's command: under Wine, the runner followed by the .exe)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
case_name=$1
work=$2/$case_name
shift 2
host=("$@")
program=${host[-1]}
mkdir -p "$work"
cd "$work" || exit 1
tune=(--freq 11778 --pol V --sr 27500 --fec 3/4)
failed=0

fail() {
  echo "FAILED: $*"
  failed=1
}

# Runs the host program; its status in $status, its streams in out.txt and err.txt.
run() {
  "${host[@]}" "$@" >out.txt 2>err.txt
  status=$?
}

# Expects every line of out.txt to be JSON, the last with "exit_status" $1 and
# an "error" exactly when that is not 0; $2.. are Python checks on it (`last`).
expect_json() {
  python3 - "$@" <<'PY' || fail "JSON of: ${host[*]##*/} (see $work/out.txt)"
import json, sys
status, checks = int(sys.argv[1]), sys.argv[2:]
lines = [json.loads(line) for line in open("out.txt", encoding="utf-8") if line.strip()]
last = lines[-1]
assert last["exit_status"] == status, last
assert ("error" in last) == (status != 0), last
for check in checks:
    assert eval(check), check
PY
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, not $1: $(tail -3 err.txt)"
}

expect_said() {  # expect_said FILE TEXT
  grep -q -- "$2" "$1" || fail "$1 does not say '$2': $(tail -5 "$1")"
}

whole_packets() {
  local size
  size=$(stat -c %s "$1")
  [ "$size" -gt 0 ] && [ $((size % 188)) -eq 0 ] || fail "$1 holds $size bytes, not whole packets"
}

# Waits (a bounded while) until the file has data, the program meanwhile running.
wait_for_data() {
  for _ in $(seq 300); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  fail "no data in $1"
}

# Waits (a bounded while) for the program $pid to end by itself, else ends it; its status in $status.
# Tenths of a second a program may take to end: more under Wine, whose
# programs start slowly (in the VM, under emulation, many seconds).
end_ticks=150
[[ $program != *.exe ]] || end_ticks=900
wait_for_end() {  # what it means when it does not end
  for _ in $(seq "$end_ticks"); do kill -0 "$pid" 2>/dev/null && sleep 0.1 || break; done
  ! kill -KILL "$pid" 2>/dev/null || fail "$1"
  wait "$pid"
  status=$?
}

no_partial_files() {  # the recording's name
  ! compgen -G "$1.*partial" >/dev/null || fail "$(compgen -G "$1.*partial") left behind"
}

case $case_name in
stream-to-ffprobe)
  # The stream on standard output, every line of text on standard error.
  if ! command -v ffprobe >/dev/null; then
    echo "ffprobe is not installed (Debian ffmpeg): skipped"
    exit 77
  fi
  "${host[@]}" capture -o - --seconds 3 "${tune[@]}" 2>err.txt |
    ffprobe -v error -show_programs -of compact - >probe.txt 2>probe-errors.txt
  expect_said err.txt "DeviceClose       0 (closed)"
  if [ -s probe-errors.txt ]; then
    fail "ffprobe reported: $(head -3 probe-errors.txt)"
  fi
  for service in "Pellam Sport" "Pellam Sport Extra" "Pellam Talk" "Pellam Classics"; do
    expect_said probe.txt "tag:service_name=$service|"
  done
  ;;
closed-reader)
  # A reader that goes away ends the capture and the watch at once, the card closed.
  "${host[@]}" capture -o - "${tune[@]}" 2>err.txt | head -c 1000 >/dev/null
  status=${PIPESTATUS[0]}
  cp err.txt capture-err.txt  # kept whole: the watch below writes err.txt again
  expect_status 0
  expect_said err.txt "stopped by the reader going away"
  expect_said err.txt "DeviceClose       0 (closed)"
  "${host[@]}" signal --watch "${tune[@]}" 2>err.txt | head -5 >out.txt
  status=${PIPESTATUS[0]}
  expect_status 0
  expect_said out.txt "Transponder"
  # A reader slower than the stream: the capture still ends at its time.
  "${host[@]}" capture -o - --seconds 1 "${tune[@]}" 2>err.txt | python3 -c '
import sys, time
for _ in range(1000):
    if not sys.stdin.buffer.read(16384):
        break
    time.sleep(0.02)'
  status=${PIPESTATUS[0]}
  expect_status 0
  expect_said err.txt "Captured"
  ! grep -q "stopped by" err.txt || fail "a slow reader kept the capture past its time: $(grep Captured err.txt)"
  ;;
interrupt)
  # Ctrl-C (and natively SIGTERM) mid-capture: whole packets, the summary, the card closed.
  signals=(INT)
  [[ $program == *.exe ]] || signals+=(TERM HUP)  # under Wine, SIGTERM ends a program at once
  for signal in "${signals[@]}"; do
    rm -f capture.ts
    "${host[@]}" capture -o capture.ts "${tune[@]}" >out.txt 2>err.txt &
    pid=$!
    wait_for_data capture.ts
    kill -"$signal" "$pid"
    wait "$pid"
    status=$?
    expect_status 0
    whole_packets capture.ts
    expect_said out.txt "stopped by"
    expect_said out.txt "DeviceClose       0 (closed)"
  done
  # A watch for aligning a dish, on a transponder that does not lock, ended by Ctrl-C: done.
  "${host[@]}" signal --watch --freq 11000 --pol V --sr 27500 >out.txt 2>err.txt &
  pid=$!
  for _ in $(seq 300); do grep -q "no lock in" out.txt && break || sleep 0.1; done
  kill -INT "$pid"
  wait "$pid"
  status=$?
  expect_status 0
  expect_said out.txt "DeviceClose       0 (closed)"
  if [[ $program != *.exe ]]; then
    # Ctrl-C at a 40-column terminal: progress lines that fit, each beginning
    # with the time, and the summary on a line of its own, not after the ^C.
    python3 - "${host[@]}" capture -o capture.ts "${tune[@]}" --service 3001 <<'PY' ||
import fcntl, os, pty, re, select, struct, sys, termios, time
pid, terminal = pty.fork()
if pid == 0:
    os.execvp(sys.argv[1], sys.argv[1:])
fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 40, 0, 0))
out, sent, deadline = b"", False, time.monotonic() + 30
while time.monotonic() < deadline:
    ready = select.select([terminal], [], [], 0.1)[0]
    try:
        chunk = os.read(terminal, 4096) if ready else b""
    except OSError:
        break
    if ready and not chunk:
        break
    out += chunk
    if not sent and out.count(b"Mbit/s") >= 3:
        os.write(terminal, b"\x03")
        sent = True
os.waitpid(pid, 0)
text = out.decode("utf-8", "replace")
progress = [part for part in re.split(r"[\r\n]+", text) if "Mbit/s" in part and "Packets" not in part]
assert sent, "no progress line came"
assert all(len(part.rstrip()) <= 40 for part in progress), "a progress line wider than 40 columns"
assert all(re.match(r"\d+:\d\d:\d\d ", part) for part in progress), "a progress line without its time"
assert re.search(r"\r?\nCaptured ", text) and "^CCaptured" not in text, "the summary follows the ^C"
PY
      fail "the progress line at a terminal of 40 columns"
  fi
  if [[ $program != *.exe ]] && command -v script >/dev/null; then
    # The stream is not written to a terminal.
    script -qec "${host[*]} capture -o - ${tune[*]}" /dev/null >out.txt
    status=$?
    expect_status 2
    expect_said out.txt "which is a terminal"
  fi
  if [[ $program != *.exe ]]; then
    # A reader that takes nothing: SIGINT ends the write that waits for it.
    rm -f stalled
    mkfifo stalled
    exec 3<>stalled
    "${host[@]}" capture -o - "${tune[@]}" >stalled 2>err.txt &
    pid=$!
    for _ in $(seq 300); do grep -qs pipe_write /proc/"$pid"/task/*/wchan && break || sleep 0.1; done
    kill -INT "$pid"
    wait_for_end "a capture waiting for its reader went on after SIGINT"
    exec 3>&-
    expect_status 0
    expect_said err.txt "stopped by SIGINT"
    expect_said err.txt "DeviceClose       0 (closed)"
  fi
  ;;
full-disk)
  # The first failed write stops the capture with the system's reason, status 6.
  run capture -o /dev/full --seconds 60 "${tune[@]}" --json
  expect_status 6
  expect_json 6 "'/dev/full' in last['error']" "last['capture']['outputs'][0]['packets'] == 0" \
    "last['capture']['seconds'] < 30" "last['close']['closed']"
  if [[ $program != *.exe ]]; then
    # A first write that fits in part: the whole packets that reached the file
    # replace the earlier recording, and the summary counts them (a 1 KiB file limit).
    echo "an earlier recording" >capture.ts
    (trap '' XFSZ && ulimit -f 1 && exec "${host[@]}" capture -o capture.ts --seconds 60 \
      "${tune[@]}" --json) 2> >(cat >err.txt) | cat >out.txt
    status=${PIPESTATUS[0]}
    expect_json 6 "'File too large' in last['error']" "last['capture']['outputs'][0]['packets'] == 5"
    [ "$(stat -c %s capture.ts)" -eq 940 ] || fail "capture.ts holds $(stat -c %s capture.ts) bytes, not 5 packets"
    no_partial_files capture.ts
  fi
  ;;
stalled-output)
  # An output that takes nothing holds neither the capture's time nor the
  # card: what it did not take is dropped and counted.
  rm -f stalled
  mkfifo stalled
  exec 3<>stalled
  "${host[@]}" capture -o - --seconds 1 "${tune[@]}" >stalled 2>err.txt &
  pid=$!
  wait_for_end "a capture of 1 s went on while its reader took nothing"
  exec 3>&-
  expect_status 0
  expect_said err.txt "Dropped  *[1-9][0-9]* packets (standard output did not take them in time)"
  expect_said err.txt "DeviceClose       0 (closed)"
  if [[ $program != *.exe ]] && unshare -n true 2>/dev/null && command -v tc >/dev/null; then
    # A UDP destination behind a slow link: loopback at 2 Mbit/s, in a network namespace of its own.
    unshare -n bash -c 'ip link set lo up && tc qdisc add dev lo root tbf rate 2mbit burst 8kb limit 50mb &&
      exec "$@"' - "${host[@]}" capture --json --udp 127.0.0.1:9 --seconds 1 "${tune[@]}" >out.txt 2>err.txt &
    pid=$!
    wait_for_end "a capture of 1 s went on while its UDP destination was slow"
    expect_json 0 "0 < last['capture']['outputs'][0]['dropped'] < last['capture']['packets']"
  fi
  ;;
replace-file)
  # An existing recording stays as it was when the tune fails, and is replaced
  # once a capture delivers.
  echo "an earlier recording" >capture.ts
  run capture -o capture.ts --seconds 2 --freq 11000 --pol V --sr 27500
  expect_status 5
  [ "$(cat capture.ts)" = "an earlier recording" ] || fail "a failed tune changed capture.ts"
  no_partial_files capture.ts
  run capture -o=capture.ts --seconds 1 "${tune[@]}"
  expect_status 0
  whole_packets capture.ts
  no_partial_files capture.ts
  if [[ $program != *.exe ]]; then  # Wine shows a Linux link as the file it leads to
    # A link is written through: its file replaced, the link kept.
    mkdir -p target
    echo "an earlier recording" >target/kept.ts
    ln -sfn target/kept.ts link.ts
    run capture -o link.ts --seconds 1 "${tune[@]}"
    expect_status 0
    [ -L link.ts ] || fail "the capture replaced the link link.ts"
    grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}  0:00:01 of 0:00:01  ' out.txt ||
      fail "a progress line to a file without the time of day, or the elapsed time of the whole"
    whole_packets target/kept.ts
    no_partial_files target/kept.ts
  fi
  # A service whose tables cannot be read (its PMT's descriptors run past the
  # section) keeps nothing: the earlier recording stays as it was.
  cp capture.ts earlier.ts
  python3 "$here/make_stream.py" bad-pmt bad-pmt.ts
  run capture --replay bad-pmt.ts --service 1 -o capture.ts --seconds 1 "${tune[@]}"
  expect_status 1
  expect_said err.txt "the service's tables were not read"
  expect_said out.txt "Written           nothing (capture.ts left as it was)"
  cmp -s capture.ts earlier.ts || fail "a capture that kept nothing changed capture.ts"
  no_partial_files capture.ts
  # A second capture to a file that one writes is refused; the first's file is its own.
  rm -f capture.ts
  "${host[@]}" capture -o capture.ts "${tune[@]}" >first.txt 2>&1 &
  first=$!
  wait_for_data capture.ts
  run capture -o capture.ts --seconds 1 --freq 11258 --pol V --sr 27500
  kill -INT "$first"
  wait "$first"
  expect_status 6
  expect_said err.txt "cannot write capture.ts: another capture is writing it"
  written=$(sed -n 's/^Written *\([0-9]*\) packets.*/\1/p' first.txt)
  [ "$((${written:-0} * 188))" -eq "$(stat -c %s capture.ts)" ] ||
    fail "capture.ts holds $(stat -c %s capture.ts) bytes; the first capture wrote ${written:-?} packets"
  no_partial_files capture.ts
  # A folder is refused before the card is tuned.
  mkdir -p folder
  run capture -o folder --seconds 1 "${tune[@]}"
  expect_status 6
  expect_said err.txt "cannot write folder"
  no_partial_files folder
  ;;
json)
  # Every command answers in JSON, also when it fails, one field name a concept
  # (a service has one shape; every command that opened the card says how it
  # closed), with the card library's reason in a failure's error.
  run info --json
  expect_json 0 "last['descriptor']['product_version'] == '1.1.0.0'" \
    "last['descriptor']['fixed_words'] == {'offset_520': 0, 'offset_524': 1}"
  if [[ $program == *.exe ]]; then
    expect_json 0 "last['version_resource']['strings']['ProductVersion'] == '1.1.0'" \
      "[(e['ordinal'], e['name']) for e in last['exports']] == \
       [(1, 'DeviceGetInterface'), (2, 'DeviceGetInterfaceInfo')]" \
      "last['export_name'] == 'Morvalind.dev'"
  fi
  run open --json
  expect_json 0 "last['open']['opened'] and last['close']['closed']"
  run tune --json --freq 11778.125 --pol V --sr 27500 --port 1
  expect_json 0 "last['transponder']['frequency_mhz'] == 11778.125" "last['tune']['locked']" \
    "last['dish']['port'] == 1 and last['dish']['burst'] is None" "last['close']['closed']"
  run tune --json --freq 11000 --pol V --sr 27500
  expect_json 5 "not last['tune']['locked']" "last['close']['closed']"
  run signal --json --watch 1 "${tune[@]}"
  expect_json 0 "len(lines) >= 3" "all(l['time'] > 1.6e9 and 'locked' in l['signal'] for l in lines[:-1])" \
    "last['close']['closed']"
  run diseqc --json --burst B
  expect_json 0 "last['diseqc']['burst'] == 'B' and last['diseqc']['sent']" "last['close']['closed']"
  run capture --json -o capture.ts --seconds 1 "${tune[@]}"
  expect_json 0 "len(last['capture']['services']) == 4" \
    "last['capture']['outputs'][0]['packets'] == last['capture']['packets']"
  cp out.txt capture.json
  run demo --json --out . --seconds 1
  expect_json 0 "len(last['lineup']) == 6" "last['capture']['stopped_by'] == 'time'"
  cp out.txt demo.json
  run scan --json ttlcdacc-transponders.conf -o channels.conf
  python3 - <<'PY' || fail "a service has another shape in capture, demo or scan"
import json
shape = lambda s: sorted(s)
capture = json.load(open("capture.json"))["capture"]["services"][0]
demo = json.load(open("demo.json"))["lineup"][0]["services"][0]
scan = json.load(open("out.txt"))["transponders"][0]["services"][0]
assert shape(capture) == shape(demo) == shape(scan), (capture, demo, scan)
assert scan["streams"][0].keys() == capture["streams"][0].keys()
PY
  echo '{"rate": "fast"}' >bad-lineup.json
  MORVALIND_SIM_LINEUP=bad-lineup.json run open --json
  expect_json 4 "'the card library says: lineup file' in last['error']" "'is not a number' in last['error']"
  run tune --json --freq 0x2E02 --pol V --sr 27500
  expect_json 2 "'--freq' in last['error']"
  run info --json --module no-such.dev
  expect_json 3
  # A module with no card library beside it, nor in the working folder: the card does not open.
  mkdir -p alone
  cp "$(dirname "$program")"/{morvalind-host*,Morvalind.dev} alone/
  cp "$(dirname "$program")"/*.so alone/ 2>/dev/null
  host[-1]=alone/$(basename "$program")
  run open --json
  expect_json 4 "not last['open']['opened']"
  ;;
card-library)
  # Which card library the card opens with: beside the program, else the stand-in in
  # virtual-card/ (in a copied folder), a chosen path, and chosen ones that cannot serve.
  bin=$(dirname "$program")
  run open --json
  expect_json 0 "last['card_library'].replace('\\\\', '/').endswith('bin/ttlcdacc.dll')"
  rm -rf copied
  mkdir -p copied/virtual-card
  cp "$bin"/{morvalind-host*,Morvalind.dev} copied/
  cp "$bin/ttlcdacc.dll" copied/virtual-card/
  copied=("${host[@]}")
  copied[-1]=copied/$(basename "$program")
  "${copied[@]}" open --json >out.txt 2>err.txt
  status=$?
  expect_json 0 "last['card_library'].replace('\\\\', '/').endswith('copied/virtual-card/ttlcdacc.dll')"
  run open --json --card "$bin/alone/layout-79b0/ttlcdacc.dll"
  expect_json 0 "last['card_library'].replace('\\\\', '/').endswith('layout-79b0/ttlcdacc.dll')"
  run open --json --card no-such-folder/ttlcdacc.dll
  expect_json 4 "'no card library at no-such-folder/ttlcdacc.dll' in last['error']"
  mkdir -p text
  echo "not a library" >text/ttlcdacc.dll
  run tune --json --card text/ttlcdacc.dll "${tune[@]}"
  expect_json 4 "'cannot load the card library text/ttlcdacc.dll' in last['error']"
  run open --json --card "$bin/Morvalind.dev"
  expect_json 4 "'is not named ttlcdacc.dll' in last['error'] or 'SONAME' in last['error']"
  if [[ $program == *.exe ]]; then
    run open --json --card linux
    expect_json 2 "'Linux build' in last['error']"
  else
    # No DVB adapter here: the Linux library loads and says so, the card does not open.
    if [ -f "$bin/linuxdvb/ttlcdacc.dll" ] && [ ! -e /dev/dvb/adapter7 ]; then
      run open --json --card linux:adapter7
      expect_json 4 "last['card_library'].endswith('linuxdvb/ttlcdacc.dll')"
      expect_said err.txt "adapter7"
      run adapters --json
      expect_json 0 "last['card_library'].endswith('linuxdvb/ttlcdacc.dll')" \
        "isinstance(last['adapters'], list)"
    fi
    run open --json --card linux:seven
    expect_json 2 "'linux:seven' in last['error']"
  fi
  ;;
channels)
  # A scan of the stand-in's transponder file finds every service of its
  # lineup, one named with a DVB character table (UTF-8 in JSON and in the
  # channel file, never raw bytes); its entries then tune and capture by name.
  # Without -o there is no FILE.partial: a user's own ./.partial is not removed.
  echo "mine" >.partial
  run scan "$(dirname "$program")/ttlcdacc-transponders.conf" --module no-such.dev
  expect_status 3
  [ -e .partial ] || fail "a scan without -o removed ./.partial"
  run scan --json "$(dirname "$program")/ttlcdacc-transponders.conf" -o channels.conf
  expect_json 0 "last['scan']['transponders'] == 6 and last['scan']['locked'] == 6" \
    "last['scan']['services'] == 16 and last['scan']['file'] == 'channels.conf'" \
    "'Drossel V\u00f6gel' in [s['name'] for t in last['transponders'] for s in t['services']]" \
    "all(t['complete'] for t in last['transponders'])"
  grep -qx "\[Drossel Vögel\]" channels.conf || fail "channels.conf lacks [Drossel Vögel]"
  # Every entry names the LNB and switch port scanned with, for dvbv5-zap.
  [ "$(grep -c 'LNB = UNIVERSAL' channels.conf)" -eq 16 ] || fail "entries without LNB = UNIVERSAL"
  [ "$(grep -c 'SAT_NUMBER = 1' channels.conf)" -eq 5 ] || fail "Lumenor 4's 5 services lack SAT_NUMBER = 1"
  # The NIT of the generated streams: two transponders of the file lead to the
  # rest of both satellites, a DVB-S2 one skipped and counted; -F keeps to the file.
  printf '[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11778000\n\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 27500000\n\tSAT_NUMBER = 0\n[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11362000\n\tPOLARIZATION = HORIZONTAL\n\tSYMBOL_RATE = 22000000\n[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 12012000\n\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 30000000\n\tSAT_NUMBER = 1\n' \
    >two.conf
  MORVALIND_SIM_LINEUP='' run scan --json two.conf -o followed.conf
  expect_json 0 "last['scan']['transponders'] == 6 and last['scan']['from_network'] == 4" \
    "last['scan']['services'] == 16 and last['scan']['skipped_dvb_s2'] == 2" \
    "[t['network']['name'] for t in last['transponders']].count('Lumenor 4') == 2"
  MORVALIND_SIM_LINEUP='' run scan -F two.conf -o file-only.conf
  expect_status 0
  expect_said out.txt "Scanned           2 transponders, 2 locked, 6 services"
  expect_said out.txt "Skipped           1 DVB-S2 transponder, which this DVB-S card does not receive"
  # A scan that locks nothing leaves the channel file as it was.
  cp channels.conf scanned.conf
  printf '[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11000000\n\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 27500000\n' \
    >nothing.conf
  run scan --json nothing.conf -o channels.conf
  expect_json 5 "last['scan']['file'] is None"
  expect_said err.txt "channels.conf left as it was"
  cmp -s channels.conf scanned.conf || fail "a scan that locked nothing changed channels.conf"
  [ ! -e channels.conf.partial ] || fail "channels.conf.partial left behind"
  run tune --json "drossel vögel" -c channels.conf
  expect_json 0 "last['dish']['port'] == 2 and last['tune']['locked']" \
    "last['transponder']['frequency_mhz'] == 12012"
  # A channel by name records its service alone; --pids all its transponder.
  run capture --json -o talk.ts --seconds 1 --channels channels.conf --channel "Pellam Talk"
  expect_json 0 "last['capture']['kept'] == {'program': 3003, 'name': 'Pellam Talk'}" \
    "0 < last['capture']['outputs'][0]['packets'] < last['capture']['packets'] / 50"
  run capture --json "Pellam Talk" -c channels.conf --pids all -o all.ts --seconds 1
  expect_json 0 "last['capture']['outputs'][0]['packets'] == last['capture']['packets']" \
    "'kept' not in last['capture']"
  run tune --json --channels channels.conf --channel "Pellam"
  expect_json 2 "'Pellam Sport Extra' in last['error']"
  rm -f none.ts
  run capture --json -o none.ts --seconds 5 "${tune[@]}" --service 9999
  expect_json 1 "'3004' in last['error']" "last['capture']['seconds'] < 4.5" \
    "last['capture']['outputs'][0]['left_as_it_was']"
  [ ! -e none.ts ] || fail "a capture that kept nothing made none.ts"
  # The PAT drops the kept service: what the transponder carries then, without it.
  python3 "$here/make_stream.py" pat-drops pat-drops.ts
  run capture -o drops.ts --replay pat-drops.ts --seconds 5 "${tune[@]}" --service 1
  expect_status 1
  expect_said err.txt "which carries: 2 Two"
  ! grep -q "1 One" err.txt || fail "the service the PAT dropped is said to be carried: $(cat err.txt)"
  ;;
udp)
  # Datagrams of seven whole packets.
  rm -f port.txt
  python3 - >received.txt <<'PY' &
import socket
receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
receiver.bind(("127.0.0.1", 0))
open("port.txt", "w").write(str(receiver.getsockname()[1]))
receiver.settimeout(20)
sizes = set()
for _ in range(200):
    data = receiver.recv(2048)
    sizes.add(len(data))
    assert all(data[i] == 0x47 for i in range(0, len(data), 188)), "not whole packets"
print(sorted(sizes))
PY
  receiver=$!
  for _ in $(seq 100); do [ -s port.txt ] && break; sleep 0.1; done
  run capture --udp "127.0.0.1:$(cat port.txt)" --seconds 1 "${tune[@]}"
  wait "$receiver" || fail "the receiver got no whole datagrams"
  expect_status 0
  [ "$(cat received.txt)" = "[1316]" ] || fail "datagrams of $(cat received.txt) bytes"
  # No receiver: the refusals its ICMP answers bring are no failure, and every datagram is sent.
  port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  run capture --json --udp "127.0.0.1:$port" --seconds 1 "${tune[@]}"
  expect_json 0 "last['capture']['outputs'][0]['packets'] == last['capture']['packets'] > 0"
  # Several outputs of one tuner, each counted apart: RTP of one service to
  # [::1] (payload type 33, seven packets a datagram, numbered in turn, 90 kHz
  # time), another service to a file, one PID to another.
  rm -f port.txt
  python3 - >received.txt <<'PY' &
import socket, struct
receiver = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
receiver.bind(("::1", 0))
open("port.txt", "w").write(str(receiver.getsockname()[1]))
receiver.settimeout(20)
heads, packets = [], 0
while packets < 150:
    data = receiver.recv(2048)
    assert data[0] == 0x80 and data[1] & 0x7F == 33, "not RTP of MP2T"
    assert (len(data) - 12) % 188 == 0 and all(data[i] == 0x47 for i in range(12, len(data), 188))
    heads.append(struct.unpack(">HI", data[2:8]))
    packets += (len(data) - 12) // 188
assert all((b[0] - a[0]) & 0xFFFF == 1 for a, b in zip(heads, heads[1:])), "sequence numbers skip"
assert 0 < (heads[-1][1] - heads[0][1]) & 0xFFFFFFFF < 90000 * 20, "not a 90 kHz clock"
print("rtp")
PY
  receiver=$!
  for _ in $(seq 100); do [ -s port.txt ] && break; sleep 0.1; done
  run capture --json --seconds 2 --output "Pellam Talk=rtp://[::1]:$(cat port.txt)" \
    --output 3001=sport.ts --output pids:0x1212=audio.ts --ttl 2 "${tune[@]}"
  wait "$receiver" || fail "the RTP receiver got no datagrams of Pellam Talk"
  expect_json 0 "[o['kept']['program'] for o in last['capture']['outputs'][:2]] == [3003, 3001]" \
    "last['capture']['outputs'][1]['packets'] * 188 == $(stat -c %s sport.ts)" \
    "last['capture']['outputs'][2]['packets'] * 188 == $(stat -c %s audio.ts)" \
    "len({o['packets'] for o in last['capture']['outputs']}) == 3"
  # Addresses that cannot be sent to are usage mistakes, before the card opens.
  for address in 127.0.0.1:99999 127.0.0.1:0 ::1:5008 http://127.0.0.1:5008 rtp://127.0.0.1; do
    run capture --udp "$address" --seconds 1 "${tune[@]}"
    expect_status 2
  done
  expect_said err.txt "give HOST:PORT"
  ;;
*)
  fail "no case $case_name"
  ;;
esac
[ "$failed" -eq 0 ] && echo "$case_name: passed"
exit "$failed"
