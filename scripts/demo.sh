#!/usr/bin/env bash
# Builds Morvalind and runs `morvalind-host demo`: the module's descriptor, both
# satellites of the stand-in card through the switch, every transponder tuned,
# three seconds captured to a .ts file and what the stream holds.
# Usage: scripts/demo.sh           the Linux build of the module
#        scripts/demo.sh --wine    the Windows DLL, run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2

preset=native
run=()
if [ "${1:-}" = "--wine" ]; then
  preset=win32
  run=(cmake/wine-run.sh)
elif [ -n "${1:-}" ]; then
  echo "usage: scripts/demo.sh [--wine]" >&2
  exit 2
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
host=build/$preset/bin/morvalind-host
[ "$preset" = win32 ] && host=$host.exe
# The demo says which module file and which card library it ran.
"${run[@]}" "$host" demo
