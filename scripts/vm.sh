#!/usr/bin/env bash
# Runs a command in a VM of Debian's own kernel under qemu (TCG), in a chroot of
# this machine's root (read-only, with a /tmp of its own) and in the source
# tree, which it may write to: for programs this machine's kernel will not
# run, such as Wine's 32-bit ones. The command's output is shown as it comes;
# the script exits with the command's status, or 77 when this machine cannot
# boot the VM (the reason is said).
#
# Usage: scripts/vm.sh COMMAND [ARGUMENT ...]   (the command runs in the tree's root)
# The kernel is kept in build/kernel/, the run's files in build/vm/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
skip() {
  echo "vm: cannot run here: $*"
  exit 77
}
# shellcheck source=scripts/vm-kernel.sh
. "$root/scripts/vm-kernel.sh"
[ $# -gt 0 ] || { echo "usage: scripts/vm.sh COMMAND [ARGUMENT ...]"; exit 2; }
vm_kernel
out=$root/build/vm/out
rm -rf "$out"
mkdir -p "$out"
printf -v command '%q ' "$@"
cat >"$out/guest-start.sh" <<GUEST
cd '$root' || exit 1
$command >'$out/output.txt' 2>&1
echo \$? >'$out/status'
GUEST
: >"$out/output.txt"
vm_boot "$out" "$root/build/vm/console.log" rw -m 6144 -nic none
tail -n +1 -f "$out/output.txt" --pid="$vm" 2>/dev/null &
tail_pid=$!
status=0
wait "$vm" || status=$?
sleep 0.5
kill "$tail_pid" 2>/dev/null || true
if [ ! -f "$out/status" ]; then
  echo "vm: the command did not finish (qemu status $status); the console said:"
  tail -n 30 "$root/build/vm/console.log"
  exit 1
fi
exit "$(cat "$out/status")"
