#!/usr/bin/env bash
# The remote half of the vidtv proof, run by vidtv-vm.sh on this side of
# qemu's port forward while dvbv5-daemon serves vidtv's adapter in the VM:
# libdvbv5's own client (dvbv5-zap -H) first, then morvalind-host with
# --card remote:127.0.0.1:PORT. Writes remote-report.txt and
# remote-checks.txt into OUT.
# Usage: MORVALIND_PORT=PORT remote.sh BIN OUT
set -u
bin=$1
out=$2
port=$MORVALIND_PORT
# morvalind-host COMMAND ... on the Linux DVB card library and the daemon's adapter.
host() { "$bin/morvalind-host" "$1" --card "remote:127.0.0.1:$port" "${@:2}"; }
report=$out/remote-report.txt
checks=$out/remote-checks.txt
: >"$report"
: >"$checks"
export MORVALIND_DVB_VERBOSE=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
read -r name mhz pol ksyms fec <"$out/remote-transponder"
tune=(--freq "$mhz" --pol "$pol" --sr "$ksyms" --fec "$fec")

line() { printf '%s\n' "$*" >>"$report"; }
check() { # check NAME CONDITION: the condition is shell code, run at once
  if eval "$2"; then printf 'ok   %s\n' "$1" >>"$checks"; else printf 'FAIL %s\n' "$1" >>"$checks"; fi
}
echo "remote: dvbv5-daemon on 127.0.0.1:$port (forwarded into the VM)"
line "== remote: dvbv5-daemon in the VM, reached at 127.0.0.1:$port through qemu's port forward"

# libdvbv5's own remote client, for comparison.
# (in a subshell of its own, whose report of how it ended stays out of the way)
(timeout 30 dvbv5-zap -H 127.0.0.1 -T "$port" -c "$out/channels.conf" -l EXTENDED -t 3 "$name" \
  >zap.txt 2>&1) 2>/dev/null
zap=$?
line "dvbv5-zap -H (libdvbv5 $(dpkg-query -W -f='${Version}' libdvbv5-0 2>/dev/null)): exit $zap; $(grep -v '^ *$' zap.txt | tail -n 2 | tr '\n' ' ')"

host tune "${tune[@]}" >tune.txt 2>tune.err
status=$?
line "morvalind-host tune $mhz $pol: exit $status; $(tr '\n' ' ' <tune.err)"
if grep -q 'need libdvbv5 newer' tune.err; then
  check "remote: the library refuses the daemon's adapter with this libdvbv5, cleanly (exit 4)" \
    '[ "$status" -eq 4 ]'
  line "remote tune and capture, and the daemon going away mid-capture: not run, this libdvbv5's"
  line "remote client cannot tune (see linuxdvb/README.md, Remote adapters)"
  exit 0
fi

# A libdvbv5 whose remote client works: the same tune and capture from here.
check "remote: tune $mhz $pol through the daemon locks (exit 0)" '[ "$status" -eq 0 ]'
host capture -o remote.ts --seconds 5 "${tune[@]}" >capture.txt 2>capture.err
status=$?
bytes=$(stat -c %s remote.ts 2>/dev/null || echo 0)
line "morvalind-host capture 5 s through the daemon: exit $status, $bytes bytes; $(grep -E '^(Packets|Continuity)' capture.txt | tr '\n' ' ')"
check "remote: capture through the daemon, whole packets, continuity errors 0" \
  '[ "$status" -eq 0 ] && [ "$bytes" -gt 0 ] && [ $((bytes % 188)) -eq 0 ] && grep -q "^Continuity errors 0" capture.txt'

# The daemon goes away in the middle of a capture.
host capture -o away.ts --seconds 8 "${tune[@]}" >away.txt 2>away.err &
capture=$!
sleep 4
touch "$out/stop-daemon"
wait "$capture"
status=$?
bytes=$(stat -c %s away.ts 2>/dev/null || echo 0)
line "daemon stopped mid-capture: exit $status, $bytes bytes; $(tr '\n' ' ' <away.err)"
check "remote, daemon gone mid-capture: a clear message, the card closed, whole packets in the file" \
  '[ "$status" -eq 1 ] && grep -q "stream failed" away.err && [ $((bytes % 188)) -eq 0 ]'
