#!/usr/bin/env bash
# One service as a program we did not write reads it: morvalind-host capture
# --service keeps "Pellam Sport Extra" (program 3002, PMT 0x1201) of the
# stand-in's four-service 11778 MHz transponder, and ffprobe must see exactly
# that one program, by its name, with its video and audio stream and nothing else.
# Usage: host_service_ffprobe.sh WORK_FOLDER MORVALIND_HOST...
#   (the program's command: under Wine, the runner followed by the .exe)
set -euo pipefail
work=$1
shift
host=("$@")
if ! command -v ffprobe >/dev/null; then
  echo "ffprobe is not installed (Debian ffmpeg): skipped"
  exit 77
fi
mkdir -p "$work"
file=$work/service.ts
rm -f "$file"
"${host[@]}" capture -o "$file" --seconds 2 --service "Pellam Sport Extra" \
  --freq 11778 --pol V --sr 27500 >"$work/capture.txt"

ffprobe -v error -show_programs -show_streams -of compact "$file" >"$work/probe.txt" 2>"$work/probe-errors.txt"
# The capture begins mid-stream: a decoder may miss its first frame; anything
# the transport stream reader says is a fault of the filter.
if grep -v -e '^\[mpeg2video @' -e '^\[mp2float @' -e '^\[mp3float @' -e 'Last message repeated' \
     "$work/probe-errors.txt" | grep .; then
  echo "ffprobe reported the errors above"
  exit 1
fi
failed=0
if [ "$(grep -c '^program|' "$work/probe.txt" || true)" -ne 1 ] ||
   ! grep -q '^program|program_id=[0-9]*|program_num=3002|nb_streams=2|pmt_pid=4609|.*|tag:service_name=Pellam Sport Extra|' "$work/probe.txt"; then
  echo "ffprobe does not see exactly one program, 3002 on PMT 0x1201, named Pellam Sport Extra"
  failed=1
fi
streams=$(ffprobe -v error -show_entries stream=codec_type,id -of csv=p=0 "$file" 2>/dev/null |
  sed 's/,*$//' | grep . | sort -u | tr '\n' ' ')  # a video stream's side data adds commas
if [ "$streams" != "audio,0x1222 video,0x1221 " ]; then
  echo "ffprobe sees the streams '$streams', not the video 0x1221 and audio 0x1222 alone"
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  cat "$work/probe.txt"
  exit 1
fi
echo "ffprobe reads one program, 3002, with its video 0x1221 and audio 0x1222"
