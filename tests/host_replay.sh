#!/usr/bin/env bash
# A recording made by ffmpeg's own muxer, replayed by the stand-in card on the
# transponder that morvalind-host capture tunes (--replay), at the
# pace of its PCR: the capture must be the recording's packets from wherever it
# began, byte for byte up to the loop point and carried on after it, nothing
# added, nothing lost (replay_compare). A recording that is missing keeps the
# card from opening, and the console says why.
# Usage: host_replay.sh WORK_FOLDER RECORDING REPLAY_COMPARE... -- MORVALIND_HOST...
#   (each command: under Wine, the runner followed by the .exe)
set -euo pipefail
work=$1
recording=$2
shift 2
compare=()
while [ "$1" != "--" ]; do
  compare+=("$1")
  shift
done
shift
host=("$@")
if [ ! -f "$recording" ]; then
  echo "no recording to replay (ffmpeg is needed to make it): skipped"
  exit 77
fi
mkdir -p "$work"
tune=(--freq 11778 --pol V --sr 27500 --fec 3/4)

capture=$work/replay-capture.ts
rm -f "$capture"
"${host[@]}" capture --replay "$recording" -o "$capture" --seconds 3 "${tune[@]}" \
  >"$work/capture.txt"
"${compare[@]}" "$recording" "$capture"

# A recording that is not there is refused before the card is touched, by the
# option's name; one damaged within keeps the card from opening, and says where.
status=0
"${host[@]}" capture --replay "$work/no-such-recording.ts" -o "$work/none.ts" \
  --seconds 1 "${tune[@]}" >"$work/missing.txt" 2>&1 || status=$?
if [ "$status" -ne 2 ] || ! grep -q -- "--replay .*no-such-recording.ts:" "$work/missing.txt"; then
  cat "$work/missing.txt"
  echo "a missing recording: exit status $status, not 2 with --replay named"
  exit 1
fi
{ head -c 3760 "$recording"; printf "xx"; head -c 3760 "$recording"; } >"$work/damaged.ts"
status=0
"${host[@]}" capture --replay "$work/damaged.ts" -o "$work/none.ts" \
  --seconds 1 "${tune[@]}" >"$work/damaged.txt" 2>&1 || status=$?
for said in "damaged.ts\": packet 20 " "OpenDevice not successful"; do
  if ! grep -q -- "$said" "$work/damaged.txt"; then
    cat "$work/damaged.txt"
    echo "a damaged recording: the console does not say '$said'"
    exit 1
  fi
done
if [ "$status" -ne 4 ] || grep -q MORVALIND_SIM_REPLAY "$work/damaged.txt"; then
  echo "a damaged recording: exit status $status, not 4 (the card did not open), or the variable named"
  exit 1
fi
echo "a damaged recording keeps the card from opening: $(grep -m1 'stand-in card' "$work/damaged.txt")"
