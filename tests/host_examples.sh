#!/usr/bin/env bash
# Every example of the program's own help (the commands as its --help lists
# them, so that a command added later is covered too) and of the README runs
# as written against the stand-in card and must end with status 0: a wrong
# example fails the build. The README's are Linux shell lines (paths, ~,
# pipes): they run in the native build only.
#
# By rule, not by list:
#   - an example whose note says it needs "a real card", or one that chooses
#     a real card's library (--card linux..., --card remote:..., -a N) or a
#     SAT>IP tuner's (--card satip...), or that runs under Wine, is skipped
#     and counted;
#   - outputs land in a folder of their own (the working folder, and HOME for
#     ~/...), a --udp destination becomes one on loopback, a player (ffplay)
#     becomes a reader that takes a little of the stream and goes;
#   - each runs for at most a few seconds: then it gets SIGINT, as from Ctrl-C,
#     which a capture or watch takes as done (status 0).
# The files the examples read are made first: channels.conf (a scan of the
# stand-in's transponders) and my-recording.ts (a second of a capture).
# Usage: host_examples.sh WORK_FOLDER README MORVALIND_HOST...
#   (the host program's command: under Wine, the runner followed by the .exe)
set -uo pipefail
work=$1/examples
readme=$(realpath "$2")
shift 2
host=("$@")
program=${host[-1]}
# Seconds an example may run (more under Wine, whose programs start slowly).
limit=${MORVALIND_EXAMPLE_SECONDS:-$([[ $program == *.exe ]] && echo 8 || echo 3)}
rm -rf "$work"
mkdir -p "$work/home"
cd "$work" || exit 1
export HOME=$work/home XDG_CONFIG_HOME=
failed=0
ran=0
skipped=0

# The program as the examples name it, stopped by SIGINT after $limit seconds.
morvalind-host() {
  timeout --foreground --preserve-status -s INT -k 30 "$limit" "${host[@]}" "$@"
}
# A player: it takes a little of the stream and goes, as a closed player does.
ffplay() {
  head -c 1000000 >/dev/null
}

# A free UDP port on loopback, for --udp examples.
free_port() {
  python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Runs an example (from `where`, with the note it has) in a folder of its own,
# beside the others (at most $parallel at once), or skips it by rule.
parallel=${MORVALIND_EXAMPLE_JOBS:-6}
run_example() {
  local where=$1 line=$2 note=$3
  if [[ $note == *"real card"* || $line =~ --card[=\ ](linux|remote:|satip) || $line =~ \ -a\ [0-9] ||
        $line == *wine* ]]; then
    echo "skipped ($where): $line"
    skipped=$((skipped + 1))
    return
  fi
  # The program by any path is the program under test; a stream's destination
  # (--udp HOST:PORT, udp:// or rtp://) one on loopback.
  local port folder
  port=$(free_port)
  line=$(sed -E 's#^[^ ]*morvalind-host(\.exe)? #morvalind-host #' <<<"$line")
  line=$(sed -E "s#(udp|rtp)://[^ '\"]+#\\1://127.0.0.1:$port#g
    s#(--udp[ =])([^ /]+):[0-9]+#\\1127.0.0.1:$port#g" <<<"$line")
  # A server listens on loopback only, on free ports, and announces nothing:
  # no multicast leaves the machine, and servers side by side do not collide.
  if [[ $line =~ ^morvalind-host\ serve ]]; then
    line=$(sed -E 's/ --(listen|allow|http-port)[ =][^ ]+//g; s/ --no-discovery//' <<<"$line")
    line+=" --listen 127.0.0.1:$port --http-port $(free_port) --no-discovery"
  fi
  ran=$((ran + 1))
  folder=$work/example-$ran
  mkdir -p "$folder/tmp"
  ln -s "$work/channels.conf" "$work/my-recording.ts" "$folder/"
  printf '%s\t%s\n' "$where" "$line" >"$folder/example.txt"
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n; done
  # The program's status, also where it writes into a pipe.
  (cd "$folder" && export TMPDIR=$folder/tmp TEMP=$folder/tmp TMP=$folder/tmp &&
    (eval "$line"$'\n''exit ${PIPESTATUS[0]}') >out.txt 2>err.txt </dev/null
    echo $? >status) &
}

# What each example did, once all have ended.
report_examples() {
  wait
  local folder status where line
  for folder in "$work"/example-*; do
    IFS=$'\t' read -r where line <"$folder/example.txt"
    status=$(cat "$folder/status" 2>/dev/null || echo none)
    if [ "$status" != 0 ]; then
      echo "FAILED ($where, status $status): $line"
      tail -3 "$folder/err.txt"
      failed=1
    else
      echo "ran ($where): $line"
    fi
  done
}

# The examples of a help text: the lines after "Examples:" up to a blank one;
# a note after the command, in parentheses, says what it needs.
help_examples() {
  sed -n '/^Examples:$/,/^$/p' | sed -n 's/^  \(morvalind-host .*\)$/\1/p'
}

# Made first, without the examples' time limit (a slow machine or a sanitizer
# build may take longer): what the examples read.
"${host[@]}" scan ttlcdacc-transponders.conf -o channels.conf -q ||
  { echo "FAILED: the scan for channels.conf"; exit 1; }
"${host[@]}" capture -o my-recording.ts -t 1 --freq 11778 --pol V --sr 27500 -q ||
  { echo "FAILED: the capture for my-recording.ts"; exit 1; }
# The default channel file, as the README's scan into it makes it: the
# examples run side by side, so none waits for another's file.
mkdir -p "$HOME/.config/morvalind"
cp channels.conf "$HOME/.config/morvalind/channels.conf"

# The program's help, without the carriage returns of Windows line ends.
help_text() {
  "${host[@]}" "$@" | tr -d '\r'
}

commands=$(help_text --help | sed -n '/^Commands:$/,/^$/p' | sed -n 's/^  \([a-z-]*\) .*/\1/p')
[ -n "$commands" ] || { echo "FAILED: --help lists no commands"; exit 1; }
{
  help_text --help | help_examples | sed 's/^/--help\t/'
  for command in $commands; do
    help_text help "$command" | help_examples | sed "s/^/help $command\t/"
  done
} >help-examples.txt
while IFS=$'\t' read -r where example; do
  note=$(sed -nE 's/.*  \((.*)\)$/\1/p' <<<"$example")
  run_example "$where" "$(sed -E 's/  +\(.*\)$//' <<<"$example")" "$note"
done <help-examples.txt

if [[ $program != *.exe ]]; then
  # The README's shell blocks: lines that run the program (a path before its
  # name allowed), with a line ending in \ joined to the next, and the note
  # after # taken off.
  awk '/^```sh$/ {on = 1; next} /^```$/ {on = 0} on' "$readme" |
    awk '{ if (sub(/\\$/, "")) { held = held $0; next } print held $0; held = "" }' |
    grep -E '^[^ #]*morvalind-host ' >readme-examples.txt
  while IFS= read -r example; do
    note=$(sed -nE 's/^[^#]*#(.*)$/\1/p' <<<"$example")
    run_example README "$(sed -E 's/ +#.*$//' <<<"$example")" "$note"
  done <readme-examples.txt
fi

report_examples
echo "examples: $ran ran, $skipped skipped"
[ "$ran" -gt 0 ] || failed=1
exit "$failed"
