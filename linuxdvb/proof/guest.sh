#!/usr/bin/env bash
# The proof inside the VM (started by vidtv-vm.sh through init): this
# machine's morvalind-host drives Morvalind.dev and the Linux DVB card library
# against vidtv's adapter0, and dvbv5-zap does the same transponders side by
# side. What arrived at the driver is read back from the kernel: tuning
# properties from dvb-core's debug log (dmesg), LNB supply, tone, DiSEqC
# messages and bursts from kprobes on vidtv's own handlers (the trace buffer).
# Writes report.txt, table.txt and checks.txt (one "ok" or "FAIL" line a
# check) into $OUT, with the first capture for ffprobe and ffmpeg outside; a
# check that fails does not stop the others.
# Environment: BIN (the native programs), OUT, BRIDGE (vidtv's bridge module).
set -u
# morvalind-host COMMAND ... on the Linux DVB card library and vidtv's adapter.
card=linux:adapter0
host() { "$BIN/morvalind-host" "$1" --card "$card" "${@:2}"; }
export MORVALIND_DVB_VERBOSE=1
work=/tmp/proof
mkdir -p "$work"
cd "$work" || exit 1
report=$OUT/report.txt
table=$OUT/table.txt
checks=$OUT/checks.txt
: >"$report"
: >"$checks"
tracing=/sys/kernel/tracing
capture_seconds=2
cpu_seconds=12  # the first transponder's captures: their CPU per byte is compared

# The transponders vidtv carries, as dish frequencies behind a universal LNB:
# name, MHz, polarisation, kSym/s, FEC. vidtv takes them in kHz and compares
# them with what its tuner receives after the LNB.
transponders=("t1 11362 H 27500 3/4" "t2 11778 V 27500 3/4" "t3 12344 H 29700 2/3")
absent="t0 11500 V 27500 3/4"
poor="t1 11362.05 H 27500 3/4"  # 50 kHz off t1: a poor signal
valid_khz=11362000,11778000,12344000

say() { printf 'guest: %6.1f s  %s\n' "$(cut -d' ' -f1 /proc/uptime)" "$*"; }
line() { printf '%s\n' "$*" >>"$report"; }
pass() { printf 'ok   %s\n' "$*" >>"$checks"; }
fail() { printf 'FAIL %s\n' "$*" >>"$checks"; }
check() { # check NAME CONDITION: the condition is shell code, run at once
  if eval "$2"; then pass "$1"; else fail "$1"; fi
}
now() { echo "${EPOCHREALTIME/,/.}"; }  # for a variable; timestamped() needs no process
tune_options() { # name MHz pol ksyms fec
  echo "--freq $2 --pol $3 --sr $4 --fec $5"
}
# The command's CPU time (perf's task-clock of its threads and children) in ms
# into FILE; empty without perf.
measured() { # file command...
  local file=$1
  shift
  if command -v perf >/dev/null; then
    perf stat -x, -e task-clock -o "$file" -- "$@"
  else
    : >"$file"
    "$@"
  fi
}
task_ms() { awk -F, '$3 == "task-clock" { printf "%.1f", $1 }' "$1"; }
ms_per_mb() { # ms bytes
  awk -v m="$1" -v b="$2" 'BEGIN { if (m == "" || b == 0) print "-"; else printf "%.2f", m / (b / 1e6) }'
}

# Lines on stdin, each behind the time it arrived; the first that matches
# `until` (if given) ends it, so that the writer ends at its next write.
timestamped() { # [until]
  local text
  while IFS= read -r text; do
    printf '%s %s\n' "${EPOCHREALTIME/,/.}" "$text"
    [ -n "${1:-}" ] && [[ $text =~ $1 ]] && break
  done
}
# Seconds from `start` to the first timestamped line matching `pattern`.
seconds_to() { # start pattern file
  awk -v s="$1" -v p="$2" '$0 ~ p { printf "%.2f", $1 - s; exit }' "$3"
}

load_vidtv() { # extra module parameters
  rmmod dvb_vidtv_bridge 2>/dev/null
  insmod "$BRIDGE" vidtv_valid_dvb_s_freqs=$valid_khz "$@" || return 1
  for _ in $(seq 50); do
    [ -e /dev/dvb/adapter0/frontend0 ] && [ -e /dev/dvb/adapter0/dvr0 ] && return 0
    sleep 0.1
  done
  return 1
}

# ---- The driver and what reads back from it.
say "loading dvb-core and vidtv"
while read -r module; do insmod "$module" || say "insmod $module failed"; done <"$OUT/dvb-modules"
if ! load_vidtv; then
  fail "vidtv loads and gives /dev/dvb/adapter0"
  touch "$OUT/guest-finished"
  exit 0
fi
pass "vidtv loads and gives /dev/dvb/adapter0"
echo 'func dtv_property_process_set +p' >/sys/kernel/debug/dynamic_debug/control
for probe in \
  'voltage dvb_vidtv_demod:vidtv_demod_set_voltage voltage=%si:u32' \
  'tone dvb_vidtv_demod:vidtv_demod_set_tone tone=%si:u32' \
  'burst dvb_vidtv_demod:vidtv_diseqc_send_burst burst=%si:u32' \
  'diseqc dvb_vidtv_demod:vidtv_send_diseqc_msg len=+6(%si):u8 m0=+0(%si):x8 m1=+1(%si):x8 m2=+2(%si):x8 m3=+3(%si):x8 m4=+4(%si):x8 m5=+5(%si):x8' \
  'release dvb_core:dvb_frontend_release'; do
  echo "p:morvalind/$probe" >>"$tracing/kprobe_events"
done
echo 1 >"$tracing/events/morvalind/enable"
kernel_log_clear() { dmesg -C; }
trace_clear() { : >"$tracing/trace"; }
# Trace events as "seconds process event fields", without the header.
trace_events() {
  grep -v '^#' "$tracing/trace" | sed -E 's/^ *([^ ]+)-[0-9]+ +\[[0-9]+\] +[^ ]+ +([0-9.]+): ([a-z]+): \([^)]*\) ?/\2 \1 \3 /'
}
# SEC values as the API numbers them.
voltage_names=(13V 18V off)
tone_names=(on off)

line "== vidtv in a qemu VM, kernel $(uname -r); DVB-S transponders ${valid_khz//,/, } kHz (dish)"
# ---- Open and close; the adapter list.
say "open"
host open >open.txt 2>&1
status=$?
library=$(sed -n 's/^Card library *//p' open.txt)
line "   morvalind-host: $BIN/morvalind-host --card $card"
line "   card library:   ${library:-?}"
line ""
line "open                      exit $status"
check "open: the card opens through the module and the library (exit 0)" '[ "$status" -eq 0 ]'
check "open: the card library in use is $BIN/linuxdvb/ttlcdacc.dll" \
  '[ "$library" = "$BIN/linuxdvb/ttlcdacc.dll" ]'
host adapters --json >adapters.json 2>adapters.err
status=$?
adapters=$(grep -o '"adapters":.*' adapters.json)
line "adapters                  exit $status: $adapters"
listed='"adapter":0,"frontend":0,"name":"[^"]+","delivery_systems":\[[^]]*"DVBS"'
check "adapters: lists adapter0 frontend0 with its name and DVB-S (exit 0)" \
  '[ "$status" -eq 0 ] && grep -Eq "$listed" adapters.json'

# ---- Tune every transponder, and one that is not there.
declare -A lock_time tune_lock wall_lock_time
for entry in "${transponders[@]}" "$absent"; do
  read -r name mhz pol ksyms fec <<<"$entry"
  say "tune $name $mhz $pol"
  kernel_log_clear
  trace_clear
  start=${EPOCHREALTIME/,/.}
  # shellcheck disable=SC2046
  host tune $(tune_options $entry) 2>"tune-$name.err" | timestamped >"tune-$name.txt"
  status=${PIPESTATUS[0]}
  # Read in the shell itself: every process costs much under emulation.
  seconds='' strength='' quality='' arrived=''
  while IFS= read -r text; do
    if [[ $text =~ ^([0-9.]+)\ Tune\ +(locked|no\ lock)\ in\ ([0-9.]+)\ s ]]; then
      arrived=${BASH_REMATCH[1]} seconds=${BASH_REMATCH[3]}
    elif [[ $text =~ Strength\ +([0-9]+)%.*Quality\ +([0-9]+)% ]]; then
      strength=${BASH_REMATCH[1]} quality=${BASH_REMATCH[2]}
    fi
  done <"tune-$name.txt"
  wall_lock_time[$name]=$(awk -v a="$start" -v b="${arrived:-$start}" 'BEGIN { printf "%.2f", b - a }')
  got=$(dmesg | sed -n 's/.*(DTV_FREQUENCY) to 0x\([0-9a-f]*\).*/\1/p' | tail -1)
  got_khz=$((16#${got:-0}))
  read -r supply tone < <(trace_events | awk '$3 == "voltage" && v == "" { v = substr($4, 9) }
    $3 == "tone" && t == "" { t = substr($4, 6) } END { print v, t }')
  # What the tuner receives behind a universal LNB: the oscillator is 9750 MHz
  # below 11700 MHz, 10600 MHz from there, with the tone on.
  khz=$((${mhz%.*} * 1000))
  want_khz=$((khz < 11700000 ? khz - 9750000 : khz - 10600000))
  want_supply=$([ "$pol" = V ] && echo 0 || echo 1)
  want_tone=$((khz >= 11700000 ? 0 : 1))
  tune_lock[$name]=$([ "$status" -eq 0 ] && echo yes || echo no)
  lock_time[$name]=$seconds
  printf -v text '%-25s exit %d, %s after %s s, signal %s%%, quality %s%%; driver got %d kHz, LNB %s, tone %s' \
    "tune $mhz $pol $ksyms $fec" "$status" "$([ "$status" -eq 0 ] && echo locked || echo 'no lock')" \
    "$seconds" "$strength" "$quality" "$got_khz" "${voltage_names[$supply]}" "${tone_names[$tone]}"
  line "$text"
  if [ "$name" = t0 ]; then
    check "tune $mhz $pol (no such transponder): no lock, exit 5" '[ "$status" -eq 5 ]'
  else
    check "tune $mhz $pol: locks (exit 0)" '[ "$status" -eq 0 ]'
  fi
  check "tune $mhz $pol: the driver receives ${want_khz} kHz (dish minus the LNB's oscillator)" \
    '[ "$got_khz" -eq "$want_khz" ]'
  check "tune $mhz $pol: LNB supply ${voltage_names[$want_supply]} and tone ${tone_names[$want_tone]} arrive" \
    '[ "$supply" = "$want_supply" ] && [ "$tone" = "$want_tone" ]'
done

# ---- Signal figures.
say "signal"
read -r name mhz pol ksyms fec <<<"${transponders[0]}"
# shellcheck disable=SC2046
host signal $(tune_options ${transponders[0]}) --watch 2 >signal.txt 2>signal.err
status=$?
figures=$(sed -n 's/^Card figures *//p' signal.txt)
line "signal $mhz $pol           exit $status: $(grep -m1 'Strength' signal.txt | tr -s ' ')"
line "                          the library's own, as morvalind-host shows them: $figures"
dbm=$(sed -n 's/^\(-\?[0-9.]*\) dBm.*/\1/p' <<<"$figures")
level=$(grep -m1 -o 'Strength *[0-9]*%' signal.txt | grep -o '[0-9]*')
expected_level=$(awk -v d="${dbm:-0}" 'BEGIN { p = (d + 80) * 100 / 60; if (p < 0) p = 0; if (p > 100) p = 100; print int(p) }')
check "signal: locked, morvalind-host shows the driver's strength in dBm and C/N in dB" \
  'grep -q Lock signal.txt && [ -n "$dbm" ] && grep -q "C/N [0-9.]* dB" <<<"$figures"'
check "signal: level ${level:-?}% is the driver's ${dbm:-?} dBm on the -80..-20 dBm scale" \
  '[ "${level:-x}" = "$expected_level" ]'

# ---- DiSEqC: a committed switch message, bursts, a message after a burst.
say "diseqc"
trace_clear
host diseqc E0 10 38 F3 >diseqc-1.txt 2>&1 && host diseqc --burst A >diseqc-2.txt 2>&1 &&
  host diseqc --burst B E0 10 38 F7 >diseqc-3.txt 2>&1
status=$?
trace_events | awk '$3 == "diseqc" || $3 == "burst" || $3 == "voltage" || $3 == "tone"' >diseqc-trace.txt
line "diseqc                    exit $status; the driver received (time, event):"
awk 'NR == 1 { t0 = $1 } { printf "                            +%6.1f ms  %s %s %s %s %s %s %s %s\n", ($1 - t0) * 1000, $3, $4, $5, $6, $7, $8, $9, $10 }' \
  diseqc-trace.txt >>"$report"
messages=$(awk '$3 == "diseqc" { printf "%s %s %s %s %s;", $4, $5, $6, $7, $8 }' diseqc-trace.txt)
bursts=$(awk '$3 == "burst" { printf "%s;", $4 }' diseqc-trace.txt)
check "diseqc: all three commands sent (exit 0)" '[ "$status" -eq 0 ]'
check "diseqc: the driver got E0 10 38 F3 and E0 10 38 F7 (4 bytes each)" \
  '[ "$messages" = "len=4 m0=0xe0 m1=0x10 m2=0x38 m3=0xf3;len=4 m0=0xe0 m1=0x10 m2=0x38 m3=0xf7;" ]'
check "diseqc: the driver got burst A, then burst B" '[ "$bursts" = "burst=0;burst=1;" ]'
# Within one command, burst and message are 15 ms or more apart.
gap=$(awk '$3 == "burst" && $4 == "burst=1" { t = $1 } $3 == "diseqc" && t { printf "%.1f", ($1 - t) * 1000; exit }' diseqc-trace.txt)
check "diseqc: burst B and the message after it are ${gap:-?} ms apart (15 ms or more)" \
  'awk -v g="${gap:-0}" "BEGIN { exit !(g >= 15) }"'

# ---- Captures, side by side with dvbv5-zap.
for entry in "${transponders[@]}"; do
  read -r name mhz pol ksyms fec <<<"$entry"
  pol_name=$([ "$pol" = V ] && echo VERTICAL || echo HORIZONTAL)
  {
    echo "[$name]"
    echo "	DELIVERY_SYSTEM = DVBS"
    echo "	FREQUENCY = $((${mhz%.*} * 1000))"
    echo "	POLARIZATION = $pol_name"
    echo "	SYMBOL_RATE = $((ksyms * 1000))"
    echo "	INNER_FEC = $fec"
    echo "	INVERSION = AUTO"
  } >>channels.conf
done
cp channels.conf "$OUT/channels.conf"
read -r name mhz pol ksyms fec <<<"${transponders[0]}"
echo "$name $mhz $pol $ksyms $fec" >"$OUT/remote-transponder"


declare -A our_rate our_cpu our_ms our_bytes zap_lock zap_time zap_rate zap_cpu zap_ms zap_bytes
for entry in "${transponders[@]}" "$absent"; do
  read -r name mhz pol ksyms fec <<<"$entry"
  seconds=$capture_seconds
  [ "$name" = t1 ] && seconds=$cpu_seconds
  if [ "$name" != t0 ]; then
    say "capture $name, ${seconds} s"
    # shellcheck disable=SC2046
    measured "capture-$name.cpu" "$BIN/morvalind-host" capture --card "$card" -o "$name.ts" \
      --seconds "$seconds" $(tune_options $entry) >"capture-$name.txt" 2>"capture-$name.err"
    status=$?
    bytes=$(stat -c %s "$name.ts" 2>/dev/null || echo 0)
    packets=$(sed -n 's/^Packets *\([0-9]*\) received (\([0-9]*\) bytes).*/\1/p' "capture-$name.txt")
    counted=$(sed -n 's/^Packets *\([0-9]*\) received (\([0-9]*\) bytes).*/\2/p' "capture-$name.txt")
    captured=$(sed -n 's/^Captured *\([0-9.]*\) s.*/\1/p' "capture-$name.txt")
    cc=$(sed -n 's/^Continuity errors *\([0-9]*\).*/\1/p' "capture-$name.txt")
    sync=$(sed -n 's/^Missing sync *\([0-9]*\).*/\1/p' "capture-$name.txt")
    library=$(sed -n 's/^Card figures *//p' "capture-$name.txt")
    library_packets=$(sed -n 's/.*; \([0-9]*\) packets,.*/\1/p' <<<"$library")
    overflows=$(sed -n 's/.* \([0-9]*\) overflows.*/\1/p' <<<"$library")
    # ffprobe and ffmpeg read the first capture outside, at full speed.
    [ "$name" = t1 ] && cp "$name.ts" "$OUT/capture.ts"
    our_rate[$name]=$(awk -v p="${packets:-0}" -v t="${captured:-1}" 'BEGIN { printf "%.0f", p / t }')
    our_ms[$name]=$(task_ms "capture-$name.cpu")
    our_bytes[$name]=$bytes
    our_cpu[$name]=$(ms_per_mb "${our_ms[$name]}" "$bytes")
    line "capture $mhz $pol          exit $status, ${captured:-?} s: ${packets:-?} packets, ${bytes} bytes in the file, CC errors ${cc:-?}, missing sync ${sync:-?}, CPU ${our_ms[$name]:-?} ms"
    line "                          the library's own, as morvalind-host shows them: $library"
    check "capture $mhz $pol: done (exit 0)" '[ "$status" -eq 0 ]'
    check "capture $mhz $pol: whole packets only (${bytes} bytes, a multiple of 188)" \
      '[ "$bytes" -gt 0 ] && [ $((bytes % 188)) -eq 0 ]'
    check "capture $mhz $pol: every packet written counted (${counted:-?} bytes counted)" \
      '[ "${counted:-x}" = "$bytes" ]'
    check "capture $mhz $pol: continuity errors 0, missing sync 0" \
      '[ "${cc:-x}" = 0 ] && [ "${sync:-x}" = 0 ]'
    check "capture $mhz $pol: the library handed on at least as many packets (${library_packets:-?}), no overflow" \
      '[ "${library_packets:-0}" -ge "${packets:-1}" ] && [ "${overflows:-x}" = 0 ]'
  fi
  say "dvbv5-zap $name"
  start=$(now)
  timeout 6 dvbv5-zap -c channels.conf -l EXTENDED -t 3 "$name" 2>&1 | timestamped 'Lock' >"zap-tune-$name.txt"
  zap_time[$name]=$(seconds_to "$start" 'Lock' "zap-tune-$name.txt")
  if [ -n "${zap_time[$name]}" ]; then zap_lock[$name]=yes; else zap_lock[$name]=no; fi
  if [ "$name" != t0 ]; then
    measured "zap-$name.cpu" timeout $((seconds + 10)) dvbv5-zap -c channels.conf -l EXTENDED -r -P \
      -o "zap-$name.ts" -t "$seconds" "$name" >"zap-$name.txt" 2>&1
    bytes=$(stat -c %s "zap-$name.ts" 2>/dev/null || echo 0)
    zap_rate[$name]=$((bytes / 188 / seconds))
    zap_ms[$name]=$(task_ms "zap-$name.cpu")
    zap_bytes[$name]=$bytes
    zap_cpu[$name]=$(ms_per_mb "${zap_ms[$name]}" "$bytes")
    line "dvbv5-zap $mhz $pol        lock ${zap_lock[$name]} after ${zap_time[$name]:-?} s; recording: $bytes bytes in ${seconds} s, CPU ${zap_ms[$name]:-?} ms, $(grep -m1 -o 'received.*' "zap-$name.txt")"
  fi
  rm -f "$name.ts" "zap-$name.ts"
done

read -r _ cpu_mhz cpu_pol _ <<<"${transponders[0]}"
ratio=$(awk -v a="${our_cpu[t1]}" -v b="${zap_cpu[t1]}" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }')
{
  echo "Side by side on vidtv in the VM, the same transponders, each capture ${capture_seconds} s of the whole"
  echo "transport stream (the first transponder's ${cpu_seconds} s), to the guest's tmpfs. To lock: wall time from"
  echo "the program's start to its line saying lock (morvalind-host: 'locked in', with the module's"
  echo "own DeviceTune time in brackets; dvbv5-zap: its first 'Lock' line). CPU: the process's"
  echo "task-clock (perf stat) per captured MB (10^6 bytes), guest time under qemu -icount shift=1,"
  echo "which counts it in instructions, so that the figures repeat (large in absolute terms)."
  printf '%-20s | %-42s | %-31s\n' "" "morvalind-host + Morvalind.dev + linuxdvb" "dvbv5-zap"
  printf '%-20s | %-4s %-15s %-9s %-10s | %-4s %-6s %-9s %-10s\n' transponder lock "to lock" "packets/s" "CPU ms/MB" lock "to lock" "packets/s" "CPU ms/MB"
  for entry in "${transponders[@]}" "$absent"; do
    read -r name mhz pol ksyms fec <<<"$entry"
    ours=-
    [ "${tune_lock[$name]}" = yes ] && ours="${wall_lock_time[$name]} s (${lock_time[$name]})"
    theirs=-
    [ "${zap_lock[$name]}" = yes ] && theirs="${zap_time[$name]} s"
    printf '%-20s | %-4s %-15s %-9s %-10s | %-4s %-6s %-9s %-10s\n' "$mhz $pol $ksyms $fec" \
      "${tune_lock[$name]}" "$ours" "${our_rate[$name]:--}" "${our_cpu[$name]:--}" \
      "${zap_lock[$name]}" "$theirs" "${zap_rate[$name]:--}" "${zap_cpu[$name]:--}"
  done
  echo "CPU per captured MB, ${cpu_seconds} s of $cpu_mhz $cpu_pol: morvalind-host ${our_ms[t1]:-?} ms for ${our_bytes[t1]:-?} bytes," \
    "dvbv5-zap ${zap_ms[t1]:-?} ms for ${zap_bytes[t1]:-?} bytes; morvalind-host / dvbv5-zap ${ratio}"
} >"$table"
for entry in "${transponders[@]}"; do
  read -r name mhz pol ksyms fec <<<"$entry"
  check "side by side $mhz $pol: morvalind-host and dvbv5-zap both lock" \
    '[ "${tune_lock[$name]}" = yes ] && [ "${zap_lock[$name]}" = yes ]'
done
check "side by side $absent: neither locks" \
  '[ "${tune_lock[t0]}" = no ] && [ "${zap_lock[t0]}" = no ]'

# ---- Close switches the LNB off; the card opens again.
say "close and open again"
trace_clear
host open >reopen.txt 2>&1
status=$?
closing=$(trace_events | awk '$3 == "voltage" || $3 == "release" { printf "%s %s %s; ", $2, $3, $4 }')
line "open, close, open again   exit $status; at close the driver got: $closing"
check "close: the library switched the LNB supply off before the frontend was released" \
  'grep -q "morvalind-host voltage voltage=2; morvalind-host.*release" <<<"$closing"'
# shellcheck disable=SC2046
host tune $(tune_options ${transponders[1]}) >reopen-tune.txt 2>&1
status2=$?
check "open again: opens (exit $status) and tunes with lock (exit $status2)" \
  '[ "$status" -eq 0 ] && [ "$status2" -eq 0 ]'

# ---- Faults.
say "fault: a second program holds the frontend"
read -r name mhz pol ksyms fec <<<"${transponders[0]}"
dvbv5-zap -c channels.conf -l EXTENDED -t 30 "$name" >busy-zap.txt 2>&1 &
zap=$!
for _ in $(seq 50); do grep -q '(0x1f)' busy-zap.txt && break; sleep 0.1; done
host open >busy.txt 2>busy.err
status=$?
kill "$zap" 2>/dev/null
wait "$zap" 2>/dev/null
line "frontend held by dvbv5-zap: exit $status; $(tr '\n' ' ' <busy.err)"
check "fault, frontend busy: open fails with exit 4, never a crash" '[ "$status" -eq 4 ]'
check "fault, frontend busy: the library says the frontend is busy" 'grep -q "frontend is busy" busy.err'

say "fault: lock lost on a poor frequency during a capture"
load_vidtv drop_tslock_prob_on_low_snr=1 max_frequency_shift_hz=100
read -r name mhz pol ksyms fec <<<"$poor"
lost=no
# Progress lines to a file begin with the date.
progress='^[0-9]{4}-[0-9]{2}-[0-9]{2} '
for attempt in 1 2 3; do
  # shellcheck disable=SC2046
  host capture -o poor.ts --seconds 6 $(tune_options $poor) >poor.txt 2>poor.err
  status=$?
  if [ "$status" -eq 0 ] && grep -Eq "$progress.*  No lock  " poor.txt; then
    lost=yes
    break
  fi
done
bytes=$(stat -c %s poor.ts 2>/dev/null || echo 0)
captured=$(sed -n 's/^Captured *\([0-9.]*\) s.*/\1/p' poor.txt)
no_data=$(sed -n 's/^Time with no data *\([0-9.]*\) s.*/\1/p' poor.txt)
line "poor frequency $mhz $pol  attempt $attempt, exit $status; progress: $(grep -Ec "$progress.*  Lock  " poor.txt) lines Lock, $(grep -Ec "$progress.*  No lock  " poor.txt) lines No lock; captured ${captured:-?} s, ${no_data:-?} s with no data, $bytes bytes"
line "                          the library's own, as morvalind-host shows them: $(sed -n 's/^Card figures *//p' poor.txt)"
check "fault, lock lost mid-capture: the capture says No lock and goes on to the end" \
  '[ "$lost" = yes ] && awk -v c="${captured:-0}" "BEGIN { exit !(c >= 5.9) }"'
check "fault, lock lost mid-capture: the file holds whole packets ($bytes bytes)" \
  '[ "$bytes" -gt 0 ] && [ $((bytes % 188)) -eq 0 ]'
check "fault, lock lost mid-capture: the library counted the loss, morvalind-host shows it" \
  'grep -q "^Card figures.* [1-9][0-9]* lock losses" poor.txt'
rm -f poor.ts
load_vidtv

# ---- Remote: dvbv5-daemon here, reached from outside through the forwarded port.
say "remote: dvbv5-daemon"
dvbv5-daemon -p 5555 >"$OUT/daemon.log" 2>&1 &
daemon=$!
for _ in $(seq 100); do grep -q ':15B3 00000000:0000 0A' /proc/net/tcp && break; sleep 0.1; done
echo "$daemon" >"$OUT/daemon-ready"
for _ in $(seq 1800); do
  [ -e "$OUT/remote-done" ] && break
  if [ -e "$OUT/stop-daemon" ] && kill -0 "$daemon" 2>/dev/null; then
    kill "$daemon"
    say "remote: daemon stopped"
  fi
  sleep 0.1
done
kill "$daemon" 2>/dev/null
wait "$daemon" 2>/dev/null

# ---- SAT>IP: morvalind-host serve on vidtv's adapter, recorded at once by VLC
# (its satip access over UDP, the stream dumped as received) and ffmpeg's RTSP
# client over UDP and over TCP, sharing the one tuner.
say "serve: VLC and ffmpeg"
serve_started=$SECONDS
read -r name mhz pol ksyms fec <<<"${transponders[0]}"
"$BIN/morvalind-host" serve --card "$card" --listen 127.0.0.1:0 --http-port 0 --no-discovery \
  --json >serve.json 2>serve.err &
serve_pid=$!
for _ in $(seq 600); do grep -q '"event":"listening"' serve.json && break; sleep 0.1; done
serve_port=$(grep -o '"rtsp":\["rtsp://127.0.0.1:[0-9]*' serve.json | grep -o '[0-9]*$')
# vidtv's PAT, SDT, and program 2176's PMT (0x101) and s302m audio (0x111).
serve_query="src=1&freq=$mhz&pol=${pol,,}&msys=dvbs&sr=$ksyms&fec=${fec/\//}&pids=0,17,257,273"
chmod 777 "$work"
mkdir -p /tmp/vlc-home && chmod 777 /tmp/vlc-home
# VLC as nobody (it refuses root), its own process id noted for the Ctrl-C.
runuser -u nobody -- sh -c 'echo $$ >/tmp/vlc-home/pid; exec env HOME=/tmp/vlc-home "$@"' vlc \
  cvlc -I dummy --demux=dump --demuxdump-file="$work/serve-vlc.ts" \
  "satip://127.0.0.1:$serve_port/?$serve_query" vlc://quit >serve-vlc.txt 2>&1 &
serve_clients=($!)
for transport in udp tcp; do
  ffmpeg -nostdin -v error -rtsp_transport $transport -analyzeduration 1000000 \
    -i "rtsp://127.0.0.1:$serve_port/?$serve_query" -map 0 -c copy -f mpegts \
    "serve-$transport.ts" >"serve-$transport.txt" 2>&1 &
  serve_clients+=($!)
done
# Under emulation the clients take long to start, and the stream's own clock
# is no measure of time: once each has written 64 KB, each is stopped as by
# Ctrl-C (two minutes at most).
serve_written() { local file; for file in serve-vlc.ts serve-udp.ts serve-tcp.ts; do
  [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" -ge 65536 ] || return 1; done; }
serve_running() { local client; for client in "${serve_clients[@]}"; do
  kill -0 "$client" 2>/dev/null && return 0; done; return 1; }
serve_until=$((SECONDS + 120))
while ! serve_written && [ $SECONDS -lt $serve_until ]; do sleep 0.5; done
kill -INT "$(cat /tmp/vlc-home/pid)" "${serve_clients[@]:1}" 2>/dev/null
serve_until=$((SECONDS + 30))
while serve_running && [ $SECONDS -lt $serve_until ]; do sleep 0.5; done
kill -KILL "$(cat /tmp/vlc-home/pid)" "${serve_clients[@]}" 2>/dev/null
wait "${serve_clients[@]}"
kill -INT "$serve_pid"
wait "$serve_pid"
serve_status=$?
serve_sessions=$(grep -c '"event":"session"' serve.json)
# When each session began, in seconds after the server listened.
serve_began=$(awk -F'"time":' '/"event":"listening"/ { t0 = $2 + 0 } /"event":"session"/ { printf "%.1f ", $2 - t0 }' serve.json)
serve_sent=$(grep '"event":"ended"' serve.json | grep -o '"packets":[0-9]*,"datagrams":[0-9]*,"dropped":[0-9]*' | tr '\n' ' ')
serve_vlc=$(stat -c %s serve-vlc.ts 2>/dev/null || echo 0)
serve_probe=$(ffprobe -v error -show_entries program=program_id:program_tags=service_name:stream=codec_name \
  -of compact serve-vlc.ts 2>&1 | tr '\n' ' ')
line "serve $mhz $pol            exit $serve_status, $serve_sessions sessions at once (VLC UDP, ffmpeg UDP and TCP, begun after $serve_began s) in $((SECONDS - serve_started)) s; sent: $serve_sent"
line "                          VLC received $serve_vlc bytes; ffprobe: $serve_probe"
serve_locked=$(grep -c '"locked":true' serve.json)
serve_lost=$(grep -c '"dropped":[1-9]' serve.json)
check "serve: tuned through the module with lock, three sessions at once, Ctrl-C ends it (exit 0)" \
  '[ "$serve_status" -eq 0 ] && [ "$serve_sessions" -eq 3 ] && [ "$serve_locked" -ge 1 ]'
check "serve: no session lost a packet" '[ -n "$serve_sent" ] && [ "$serve_lost" -eq 0 ]'
check "serve: VLC over UDP received the stream, in which ffprobe lists program 2176 (Beethoven)" \
  '[ "$serve_vlc" -gt 0 ] && grep -q "program_id=2176|tag:service_name=Beethoven" <<<"$serve_probe"'
for transport in udp tcp; do
  serve_codecs=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "serve-$transport.ts" 2>&1 | tr '\n' ' ')
  check "serve: ffmpeg over ${transport^^} recorded vidtv's s302m audio ($serve_codecs$(head -c 200 "serve-$transport.txt"))" \
    'grep -q s302m <<<"$serve_codecs"'
done

# ---- The SAT>IP card library (satipcard/). The Windows host program under
# Wine (the PE module and the PE SAT>IP library) through morvalind-host serve
# on this side's loopback to the Linux DVB card library and vidtv: the
# Windows host application's module driving a Linux card. Then 1 % datagram
# loss and reordering with tc netem on a veth pair of namespaces of its own,
# which this kernel has and the test machine's may not.
satip_tree=$(cd "$PROOF/../.." && pwd)
windows=$(cd "$BIN/../../win32/bin" 2>/dev/null && pwd)
if [ -z "$windows" ] || [ ! -f "$windows/morvalind-host.exe" ] || ! command -v wine >/dev/null ||
  ! "$BIN/morvalind-host" help serve >/dev/null 2>&1; then
  line "satipcard, Windows chain: not run (no win32 build beside $BIN, no Wine, or no serve command)"
else
  say "satipcard: the Windows program under Wine, over SAT>IP, to the Linux card"
  read -r name mhz pol ksyms fec <<<"${transponders[0]}"
  "$BIN/morvalind-host" serve --card "$card" --listen 127.0.0.1:8554 --no-discovery \
    >satip-serve.txt 2>&1 &
  server=$!
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/8554) 2>/dev/null && break; sleep 0.1; done
  printf 'log = satip-card.log\n' >satip.ini
  wine_start=$SECONDS
  # Wine as the tests run it: a prefix of its own, set up once, and a display.
  # The prefix is in the guest's /tmp: the tree is shared read-only.
  # shellcheck disable=SC2046
  MORVALIND_SATIP_SETTINGS=satip.ini MORVALIND_WINE_HOME=/tmp/wine-satipcard \
    timeout 600 "$satip_tree/cmake/wine-run.sh" "$windows/morvalind-host.exe" capture \
    --card satip:127.0.0.1:8554 -o satip-wine.ts --seconds "$capture_seconds" \
    $(tune_options ${transponders[0]}) >satip-wine.txt 2>satip-wine.err
  status=$?
  kill -INT "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  programs=$(ffprobe -v error -show_entries program=program_id:program_tags=service_name:stream=codec_name \
    -of compact satip-wine.ts 2>&1 | tr '\n' ' ' || true)
  decoded=$(ffmpeg -nostdin -v error -i satip-wine.ts -map 0:a -f null - 2>&1 | head -n 5 || true)
  line "satipcard, Windows chain: $name $mhz $pol, exit $status in $((SECONDS - wine_start)) s (Wine's start included); $(grep -m1 '^Packets' satip-wine.txt)"
  line "                          $(grep -m1 '^Card figures' satip-wine.txt)"
  line "                          ffprobe: $programs"
  check "satipcard: the Windows program under Wine captures vidtv through serve (exit $status)" \
    '[ "$status" -eq 0 ] && [ -s satip-wine.ts ]'
  check "satipcard: ffprobe lists vidtv's program 2176 (Beethoven) in the Windows program's capture" \
    'grep -q "program_id=2176.*service_name=Beethoven" <<<"$programs"'
  check "satipcard: ffmpeg decodes its audio without errors" '[ -s satip-wine.ts ] && [ -z "$decoded" ]'
  rm -f satip-wine.ts
  # What the programs said, for reading outside the VM.
  cp satip-wine.txt satip-wine.err satip-serve.txt satip-card.log "$OUT/" 2>/dev/null
fi

say "satipcard: 1 % loss and reordering (tc netem)"
modprobe -d "${BRIDGE%/lib/modules/*}" -a veth sch_netem 2>/dev/null
bash "$satip_tree/tests/satipcard_network.sh" netem /tmp/satipcard "$satip_tree/tests/satip_responder.py" \
  "$BIN/morvalind-host" >satipcard-netem.txt 2>&1
status=$?
line "satipcard, $(grep '^netem: ' satipcard-netem.txt | head -1)"
check "satipcard: 1 % loss and reordering through netem: every packet in order, every loss counted (status $status)" \
  '[ "$status" -eq 0 ]'
cp satipcard-netem.txt "$OUT/"
for file in card.log netem-err.txt server.log; do
  cp "/tmp/satipcard/netem/$file" "$OUT/satipcard-netem-$file" 2>/dev/null
done

touch "$OUT/guest-finished"
say "done"
