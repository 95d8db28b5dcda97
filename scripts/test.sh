#!/usr/bin/env bash
# Builds every target and runs every test: native, native under the sanitizers,
# and the Windows DLL under Wine, the fuzz target briefly; then checks
# formatting and lint.
# The Linux DVB card library's proof on the kernel's virtual DVB driver runs in
# a VM after the native and win32 presets (step "vidtv"; it uses build/native,
# and build/win32 for the Windows program over SAT>IP). After
# both targets, step "package" makes the Debian package and the Windows zip and
# tries each on a clean root (scripts/package.sh).
# Usage: scripts/test.sh [preset ...]   (default: all of them, then the fuzz target)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

presets=("$@")
# win32 before vidtv: the vidtv proof also drives the Linux card from the
# Windows program under Wine, through the SAT>IP card library.
[ ${#presets[@]} -gt 0 ] || presets=(native win32 vidtv package native-asan native-tsan fuzz)
jobs=$(nproc)

# One Wine prefix and one display for the whole run.
export MORVALIND_WINE_HOME=${MORVALIND_WINE_HOME:-$PWD/build/wine}
mkdir -p "$MORVALIND_WINE_HOME"
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ -d "$MORVALIND_WINE_HOME/prefix" ]; then
    WINEPREFIX="$MORVALIND_WINE_HOME/prefix" wineserver -k 2>/dev/null || true
  fi
}
trap cleanup EXIT
# Where this machine's kernel runs no 32-bit programs, Wine's among them, Wine
# runs in a VM of Debian's own kernel (scripts/vm.sh), which has its own display.
# shellcheck source=scripts/wine-place.sh
. scripts/wine-place.sh
wine_here=false
if [ "$MORVALIND_WINE_PLACE" = here ]; then wine_here=true; fi

for preset in "${presets[@]}"; do
  echo "== $preset (at ${SECONDS} s)"
  if [ "$preset" = fuzz ]; then
    fuzz/run.sh  # a short run; see README, Hardening, for long ones
    continue
  fi
  if [ "$preset" = vidtv ]; then
    # 77: this machine cannot run it (the script says why).
    linuxdvb/proof/vidtv-vm.sh build/native/bin || [ $? -eq 77 ]
    continue
  fi
  if { [ "$preset" = win32 ] || [ "$preset" = package ]; } && $wine_here && [ -z "${DISPLAY:-}" ]; then
    display=:$((90 + RANDOM % 400))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
  fi
  if [ "$preset" = package ]; then
    scripts/package.sh
    continue
  fi
  configure=()
  if [ "$preset" = win32 ] && ! $wine_here; then
    # Under emulation the program's cases take longer, and those that stream
    # at a transponder's rate run one at a time (77: the VM cannot boot here).
    echo "win32: Wine's 32-bit programs do not run on this kernel; the tests run under Wine in a VM"
    configure=(-DMORVALIND_SCRIPT_TIMEOUT=900)
  fi
  cmake --preset "$preset" "${configure[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ ${#configure[@]} -gt 0 ]; then
    streaming='^(host_(program|demo|replay|service)|serve_|satipcard_)'
    in_wine bash -c 'ctest --preset win32 -j "$1" -E "$2"; a=$?; ctest --preset win32 -R "$2"; b=$?
        exit $((a | b))' win32-tests "$jobs" "$streaming" || [ $? -eq 77 ]
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done

echo "== format (at ${SECONDS} s)"
files=$(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror $files
echo "formatting clean"

# Lint needs the native build's compile commands; skipped when only other
# presets were asked for.
if [ -f build/native/compile_commands.json ]; then
  echo "== lint (at ${SECONDS} s)"
  # clang-tidy reads the native build's commands, without the flags only GCC knows.
  mkdir -p build/lint
  sed 's/ -fno-gnu-unique//g' build/native/compile_commands.json >build/lint/compile_commands.json
  run-clang-tidy -p build/lint -quiet -j "$jobs" \
    "^$PWD/(plugin|card|tuning|capture|platform|sim|linuxdvb|loader|dvb|satip|satipserver|satipcard|abi|host|tests|bench)/" >build/clang-tidy.log 2>&1 ||
    { grep -E "(error|warning):" build/clang-tidy.log; echo "clang-tidy found the above"; exit 1; }
  echo "clang-tidy clean"
fi
echo "== all passed in ${SECONDS} s (setup included)"
