# Where Wine's 32-bit programs run, decided once for the test and package
# scripts, which source this file (and pass the answer on in the environment):
#   MORVALIND_WINE_PLACE  "here" when this machine's kernel runs 32-bit
#                programs, else "vm": a VM of Debian's own kernel (scripts/vm.sh)
#   in_wine CMD  runs CMD where Wine runs: here as it is (the caller gives the
#                display), or in the VM under xvfb-run; the VM's status 77
#                says that this machine can boot no VM either.
if [ -z "${MORVALIND_WINE_PLACE:-}" ]; then
  MORVALIND_WINE_PLACE=vm
  if wine --version >/dev/null 2>&1; then MORVALIND_WINE_PLACE=here; fi
fi
export MORVALIND_WINE_PLACE
in_wine() {
  if [ "$MORVALIND_WINE_PLACE" = here ]; then
    "$@"
  else
    "$(dirname "${BASH_SOURCE[0]}")/vm.sh" env MORVALIND_WINE_HOME=/tmp/wine MORVALIND_WINE_TMPDIR=/tmp \
      xvfb-run -a -s "-screen 0 1024x768x24" "$@"
  fi
}
