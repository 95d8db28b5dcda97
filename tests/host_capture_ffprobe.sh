#!/usr/bin/env bash
# A capture as a program we did not write reads it: morvalind-host captures two
# seconds of the stand-in card's 11778 MHz V transponder, and ffprobe must read
# the file without a demuxing error and list the transponder's four services
# with their video and audio streams.
# Usage: host_capture_ffprobe.sh WORK_FOLDER MORVALIND_HOST...
#   (the host program's command: under Wine, the runner followed by the .exe)
set -euo pipefail
work=$1
shift
host=("$@")
if ! command -v ffprobe >/dev/null; then
  echo "ffprobe is not installed (Debian ffmpeg): skipped"
  exit 77
fi
mkdir -p "$work"
file=$work/ffprobe-capture.ts
rm -f "$file"
"${host[@]}" capture -o "$file" --seconds 2 --freq 11778 --pol V --sr 27500 --fec 3/4 >"$work/capture.txt"
size=$(stat -c %s "$file")
if [ "$size" -eq 0 ] || [ $((size % 188)) -ne 0 ]; then
  echo "the capture holds $size bytes, not a whole number of 188-byte packets"
  exit 1
fi

ffprobe -v error -show_programs -show_streams -of compact "$file" >"$work/probe.txt" 2>"$work/probe-errors.txt"
# The stand-in's elementary streams carry numbered filler, not pictures or
# sound, so ffprobe's decoders complain about their headers; anything said by
# the transport stream reader itself is a fault of the capture.
if grep -v -e '^\[mpeg1video @' -e '^\[mpeg2video @' -e '^\[mp3float @' -e '^\[mp2float @' \
     -e 'Last message repeated' "$work/probe-errors.txt" | grep .; then
  echo "ffprobe reported the errors above"
  exit 1
fi

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
expect "program_num=3003|nb_streams=1|pmt_pid=4640|" "program 3003 (radio) with one stream on PMT 0x1220"
for pid in 0x1201 0x1211 0x1231; do
  expect "codec_type=video|.*|id=$pid|" "a video stream on PID $pid"
done
for pid in 0x1202 0x1212 0x1222 0x1232; do
  expect "codec_type=audio|.*|id=$pid|" "an audio stream on PID $pid"
done
if [ "$failed" -ne 0 ]; then
  cat "$work/probe.txt"
  exit 1
fi
echo "ffprobe reads the capture: 4 services, 7 streams"
