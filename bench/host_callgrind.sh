#!/usr/bin/env bash
# Instructions the host program spends per packet on its packet path, counted
# by callgrind over a 3-second capture from the stand-in card to a file: the
# packet callback on the module's capture thread (into the ring), and on the
# writer's thread the statistics, the table reading and the file's writes;
# then the writer again with --service, whose filter keeps one service.
# Usage: bench/host_callgrind.sh [BUILD_FOLDER]   (default build/native)
set -euo pipefail
build=${1:-build/native}
host=$build/bin/morvalind-host
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the capture (with the options in $extra) with callgrind counting only
# inside the functions named; prints the instructions counted.
extra=()
count() {
  local toggles=() name
  for name in "$@"; do toggles+=("--toggle-collect=$name"); done
  valgrind --tool=callgrind --collect-atstart=no "${toggles[@]}" \
    --callgrind-out-file="$work/callgrind.out" "$host" capture -o "$work/capture.ts" --seconds 3 \
    --freq 11778 --pol V --sr 27500 "${extra[@]}" --json >"$work/capture.json" 2>"$work/valgrind.txt"
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/valgrind.txt"
}

callback=$(count '*ReceivePacket*')
# The callback also runs before the capture starts and until the card closes:
# its calls, as callgrind recorded them.
calls=$(python3 - "$work/callgrind.out" <<'PY'
import re, sys
names, called, calls = {}, None, 0
for line in open(sys.argv[1]):
    found = re.match(r"c?fn=\((\d+)\)(?: (.*))?", line)
    if found and line.startswith("fn="):
        names.setdefault(found[1], found[2] or "")
    elif found:
        names.setdefault(found[1], found[2] or "")
        called = names[found[1]]
    elif line.startswith("calls=") and called and "ReceivePacket" in called:
        calls += int(line[6:].split()[0])
print(calls)
PY
)
writer=$(count 'StreamStats::Add*' '*FileSink::Write*')
received() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["capture"]["packets"])' \
    "$work/capture.json"
}
packets=$(received)
extra=(--service "Pellam Sport Extra")
service=$(count 'StreamStats::Add*' '*FileSink::Write*' 'ServiceFilter::Filter*')
service_packets=$(received)
python3 - "$callback" "$calls" "$writer" "$packets" "$service" "$service_packets" <<'PY'
import sys
callback, calls, writer, packets, service, service_packets = (int(x) for x in sys.argv[1:])
callback /= calls
writer /= packets
service /= service_packets
print(f"packets            {packets} written, {calls} through the callback")
print(f"callback           {callback:6.1f} instructions per packet")
print(f"writer             {writer:6.1f} instructions per packet (statistics, tables, file)")
print(f"host, in all       {callback + writer:6.1f} instructions per packet")
print(f"writer, --service  {service:6.1f} instructions per packet (the filter too)")
print(f"host, --service    {callback + service:6.1f} instructions per packet")
PY
