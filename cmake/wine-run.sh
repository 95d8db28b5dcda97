#!/usr/bin/env bash
# Runs a win32 program under Wine with the project's own prefix and a display.
# The prefix is made once per build folder and reused; message boxes need an
# X display, which the caller may provide (DISPLAY), or xvfb-run supplies.
set -euo pipefail
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's server makes its socket under TMPDIR. In the VM a test's folders are
# the machine's shared folder, which takes no sockets: there the caller names
# a folder that does.
if [ -n "${MORVALIND_WINE_TMPDIR:-}" ]; then export TMPDIR=$MORVALIND_WINE_TMPDIR; fi
build=${MORVALIND_WINE_HOME:-${TMPDIR:-/tmp}/morvalind-wine-$(id -u)}
export WINEPREFIX=${WINEPREFIX:-$build/prefix}
if [ ! -f "$WINEPREFIX/.morvalind-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.morvalind-ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      # Without a window manager Wine's X11 driver waits for each managed window.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
      wineserver -w || true
      touch "$WINEPREFIX/.morvalind-ready"
    fi
  ) 9>"$build.lock"
fi
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
