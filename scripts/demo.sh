#!/usr/bin/env bash
# Builds Morvalind and shows it working on the stand-in card.
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
"${run[@]}" "$host" info
"${run[@]}" "$host" open
