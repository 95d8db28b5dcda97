#!/usr/bin/env bash
# The demo's capture as programs we did not write read it: morvalind-host demo
# tunes the stand-in card's lineup and captures 11778 MHz V, which plays a
# recording made with ffmpeg and loops it; ffmpeg must decode every picture and
# sound of the capture without a word (but for the last of each stream, which
# the capture's end may cut short), and ffprobe list the transponder's four
# services with their names, video and audio streams.
# Usage: host_demo_decodes.sh WORK_FOLDER MORVALIND_HOST...
#   (the host program's command: under Wine, the runner followed by the .exe)
set -euo pipefail
work=$1
shift
host=("$@")
if ! command -v ffprobe >/dev/null; then
  echo "ffmpeg is not installed (Debian ffmpeg): skipped"
  exit 77
fi
mkdir -p "$work"
file=$work/morvalind-demo.ts
rm -f "$file"
"${host[@]}" demo --out "$work" >"$work/demo.txt"
size=$(stat -c %s "$file")
if [ "$size" -eq 0 ] || [ $((size % 188)) -ne 0 ]; then
  echo "the capture holds $size bytes, not a whole number of 188-byte packets"
  exit 1
fi

# Each PID's packets from its last payload start on are left out: the last
# picture or sound of a stream, which the capture may have ended inside.
"$(dirname "$0")/support/cut_last_units.py" "$file" "$work/decoded.ts"
if ! ffmpeg -nostdin -v error -i "$work/decoded.ts" -f null - >"$work/decode.txt" 2>&1 ||
  [ -s "$work/decode.txt" ]; then
  cat "$work/decode.txt"
  echo "ffmpeg did not decode the capture cleanly"
  exit 1
fi

ffprobe -v error -show_programs -show_streams -of compact "$file" >"$work/probe.txt"
failed=0
expect() {  # expect PATTERN WHAT
  if ! grep -q -- "$1" "$work/probe.txt"; then
    echo "ffprobe does not list $2"
    failed=1
  fi
}
for service in "Pellam Sport" "Pellam Sport Extra" "Pellam Talk" "Pellam Classics"; do
  expect "tag:service_name=$service|" "the service $service"
done
expect "program_num=3001|nb_streams=2|pmt_pid=4608|" "program 3001 with two streams on PMT 0x1200"
expect "program_num=3003|nb_streams=1|pmt_pid=4610|" "program 3003 (radio) with one stream on PMT 0x1202"
for pid in 0x1211 0x1221 0x1241; do
  expect "codec_name=mpeg2video|.*|id=$pid|" "an MPEG-2 video stream on PID $pid"
done
for pid in 0x1212 0x1222 0x1232 0x1242; do
  expect "codec_name=mp2|.*|id=$pid|" "an MPEG audio stream on PID $pid"
done
if [ "$failed" -ne 0 ]; then
  cat "$work/probe.txt"
  exit 1
fi
echo "ffmpeg decodes the demo's capture ($((size / 188)) packets) without a word; ffprobe lists 4 services, 7 streams"
