#!/usr/bin/env bash
# Instructions per packet, counted by callgrind, of the capture worker's
# delivery and of the ideal loop (bench/capture_bench.cpp), over the same reads
# of the stand-in card: the loop's own instructions (copy, tests, call), and
# with the host's callback (which counts the packet) added.
# Usage: bench/callgrind.sh [build folder] [packets]
#   build/native (default): the native program, by function name;
#   build/win32: the Windows program under Wine, by address (from its symbols).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
out=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$out"' EXIT
if [ -f "$build/bin/capture_bench.exe" ]; then
  packets=${2:-500000}
  # The prefix scripts/test.sh uses (the program needs no display), readied
  # by one run before the count. Only the program's own process is counted:
  # neither the server nor Wine's service processes run under valgrind.
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX=${WINEPREFIX:-${MORVALIND_WINE_HOME:-$PWD/build/wine}/prefix}
  unset DISPLAY
  (cd "$build/bin" && wine ./capture_bench.exe --packets 5120 >/dev/null)
  services='*services.exe*,*plugplay.exe*,*winedevice.exe*,*explorer.exe*,*svchost.exe*,*rpcss.exe*'
  (cd "$build/bin" && valgrind --tool=callgrind --trace-children=yes \
    --trace-children-skip='*wineserver*' --trace-children-skip-by-arg="$services" \
    --callgrind-out-file="$out/callgrind.%p.out" wine ./capture_bench.exe --packets "$packets") \
    >"$out/run.txt" 2>"$out/valgrind.txt"
  symbol() {
    i686-w64-mingw32-nm -C "$build/bin/capture_bench.exe" |
      awk -v name="$1" '!found && index($0, name) { printf "0x%s\n", $1; found = 1 }'
  }
  worker_function=$(symbol 'CaptureWorker::DeliverBatch(')
  ideal_function=$(symbol 'IdealBatch(')
  # The program's own process among Wine's.
  profile=$(grep -l "fn=([0-9]*) $ideal_function\$" "$out"/callgrind.*.out | head -1)
else
  packets=${2:-2000000}
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
    "$build/bin/capture_bench" --packets "$packets" >"$out/run.txt" 2>"$out/valgrind.txt"
  worker_function='CaptureWorker::DeliverBatch('
  ideal_function='IdealBatch('
  profile=$out/callgrind.out
fi
# A function's cost: its own instructions (self), or with what it calls
# (inclusive). Code inlined from another file is listed as an entry of its
# own: its instructions add to the function's own; the main entry's inclusive
# cost holds them already.
cost() {
  callgrind_annotate --auto=no --inclusive="$1" --threshold=100 "$profile" 2>/dev/null |
    awk -v name="$2" -v kind="$1" 'index($0, ":" name) {
      count = $1; gsub(",", "", count); count += 0  # a number: gsub leaves a string, compared as text
      sum += count; if (count > max) max = count
    } END { print (kind == "no" ? sum : max) + 0 }'
}
worker=$(awk '/^worker packets/ {print $3}' "$out/run.txt")
ideal=$(awk '/^ideal packets/ {print $3}' "$out/run.txt")
printf '%-7s %10s %10s %14s\n' loop packets "loop" "with callback"
for loop in worker ideal; do
  if [ $loop = worker ]; then n=$worker; name=$worker_function; else n=$ideal; name=$ideal_function; fi
  awk -v loop=$loop -v n="$n" -v self="$(cost no "$name")" -v inclusive="$(cost yes "$name")" \
    'BEGIN { printf "%-7s %10d %10.2f %14.2f\n", loop, n, self / n, inclusive / n }'
done
