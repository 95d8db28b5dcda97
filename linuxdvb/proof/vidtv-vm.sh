#!/usr/bin/env bash
# The Linux DVB card library on the kernel's own virtual DVB driver (vidtv):
# boots Debian's kernel under qemu, loads vidtv there and runs guest.sh against
# /dev/dvb/adapter0 with this machine's own programs, shared read-only into the
# VM. Meanwhile this side reaches the VM's dvbv5-daemon through a forwarded
# port. Prints the figures, the side-by-side table with dvbv5-zap and every
# check; exits 0 when all passed, 1 when one failed, 77 (skipped) when this
# machine cannot run the proof.
#
# Usage: linuxdvb/proof/vidtv-vm.sh [BIN]
#   BIN: the native build's program folder (default build/native/bin)
# Its files stay in build/vidtv/, the kernel and vidtv in build/kernel/ (kept between runs).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/native/bin}" && pwd)
work=$root/build/vidtv
out=$work/out
started=$SECONDS

skip() {
  echo "vidtv proof skipped: $*"
  exit 77
}
step() { printf 'vidtv: %-52s %4d s\n' "$1" $((SECONDS - started)); }

if [ ! -x "$bin/morvalind-host" ] || [ ! -f "$bin/linuxdvb/ttlcdacc.dll" ]; then
  echo "vidtv: no morvalind-host or linuxdvb/ttlcdacc.dll in $bin: build the native preset first"
  exit 1
fi
source_tar=$(find /usr/src -maxdepth 1 -name 'linux-source-6.1.tar.xz' | head -1)
[ -n "$source_tar" ] || { echo "vidtv: linux-source-6.1 is needed (scripts/setup.sh)"; exit 1; }
# shellcheck source=scripts/vm-kernel.sh
. "$root/scripts/vm-kernel.sh"
# Debian's kernel: it has dvb-core, but not vidtv.
vm_kernel
step "kernel $abi unpacked"

# vidtv, built out of tree from the kernel's own source against its headers.
if [ ! -f "$modules/extra/dvb-vidtv-bridge.ko" ]; then
  rm -rf "$work/vidtv-src"
  mkdir -p "$work/vidtv-src" "$modules/extra"
  tar -xJf "$source_tar" -C "$work/vidtv-src" --strip-components=5 --wildcards \
    'linux-source-6.1/drivers/media/test-drivers/vidtv/*'
  if ! make -C "$headers" M="$work/vidtv-src" CONFIG_DVB_VIDTV=m modules -j2 \
    >"$work/vidtv-build.log" 2>&1; then
    cat "$work/vidtv-build.log"
    exit 1
  fi
  cp "$work/vidtv-src"/*.ko "$modules/extra/"
fi
depmod -b "$kernel" "$abi"
step "vidtv built"

# What the guest loads: dvb-core and its needs, vidtv's tuner and demodulator
# (the bridge asks for them by name, which nothing in the VM could answer),
# then the bridge with the proof's parameters.
rm -rf "$out"
mkdir -p "$out"
{
  vm_insmod_order dvb_vidtv_bridge | grep -v '/extra/'
  echo "$modules/extra/dvb-vidtv-tuner.ko"
  echo "$modules/extra/dvb-vidtv-demod.ko"
} >"$out/dvb-modules"

# A free port on this machine's loopback for the VM's dvbv5-daemon.
port=0
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  candidate=$((20000 + RANDOM % 30000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ "$port" -ne 0 ] || { echo "vidtv: no free port found"; exit 1; }

cat >"$out/guest-start.sh" <<EOF
export BIN='$bin' OUT='$out' PROOF='$here' BRIDGE='$modules/extra/dvb-vidtv-bridge.ko'
exec bash '$here/guest.sh'
EOF
step "booting (tcg)"

# -icount: guest time counted in instructions (one a 2 ns), so that the CPU
# figures of the side-by-side table repeat within a percent or two. It needs
# qemu's single-threaded TCG, with which a second processor never comes up.
# The memory holds the guest's /tmp (a tmpfs of half of it), where the Wine
# prefix of the SAT>IP chain alone takes some 600 MB.
vm_limit=900 vm_accel=tcg vm_cpus=1 vm_boot "$out" "$work/console.log" ro -m 2048 -icount shift=1 \
  -netdev "user,id=net0,hostfwd=tcp:127.0.0.1:$port-:5555" -device virtio-net-pci,netdev=net0,romfile=
tail -n +1 -f "$work/console.log" --pid=$vm 2>/dev/null | grep --line-buffered '^\(vm\|guest\):' &

# The remote part, from this side of the port forward, once the daemon is up.
while kill -0 "$vm" 2>/dev/null && [ ! -e "$out/daemon-ready" ]; do
  sleep 0.5
done
if [ -e "$out/daemon-ready" ]; then
  MORVALIND_PORT=$port bash "$here/remote.sh" "$bin" "$out" || true
  touch "$out/remote-done"
fi
vm_status=0
wait "$vm" || vm_status=$?
sleep 0.5
step "VM finished (qemu status $vm_status)"

if [ ! -f "$out/checks.txt" ]; then
  echo "vidtv: the guest left no checks; the console said:"
  tail -n 40 "$work/console.log"
  exit 1
fi
# The first capture read by programs we did not write, here at full speed.
programs=$(ffprobe -v error -show_entries program=program_id:program_tags=service_name:stream=codec_name \
  -of compact "$out/capture.ts" 2>&1 | tr '\n' ' ' || true)
decoded=$(ffmpeg -nostdin -v error -i "$out/capture.ts" -map 0:a -f null - 2>&1 | head -n 5 || true)
{
  echo "first capture, ffprobe:   $programs"
  echo "first capture, ffmpeg decoding the audio: ${decoded:-no errors}"
} >"$out/reading-report.txt"
{
  if grep -q 'program_id=2176.*service_name=Beethoven.*codec_name=s302m' <<<"$programs"; then
    echo "ok   first capture: ffprobe lists vidtv's program 2176 (Beethoven) with its s302m audio"
  else
    echo "FAIL first capture: ffprobe lists vidtv's program 2176 (Beethoven) with its s302m audio"
  fi
  if [ -f "$out/capture.ts" ] && [ -z "$decoded" ]; then
    echo "ok   first capture: ffmpeg decodes the audio without errors"
  else
    echo "FAIL first capture: ffmpeg decodes the audio without errors"
  fi
} >"$out/reading-checks.txt"
rm -f "$out/capture.ts"

touch "$out/remote-report.txt" "$out/remote-checks.txt"
reports=("$out/report.txt" "$out/reading-report.txt" "$out/remote-report.txt")
all_checks=("$out/checks.txt" "$out/reading-checks.txt" "$out/remote-checks.txt")
echo
cat "${reports[@]}"
echo
cat "$out/table.txt"
echo
cat "${all_checks[@]}"
echo
failed=$(cat "${all_checks[@]}" | grep -c '^FAIL' || true)
passed=$(cat "${all_checks[@]}" | grep -c '^ok' || true)
if [ "$vm_status" -ne 0 ] || [ "$failed" -ne 0 ] || [ ! -f "$out/guest-finished" ]; then
  echo "vidtv proof FAILED: $failed of $((passed + failed)) checks failed (qemu status $vm_status)"
  exit 1
fi
echo "vidtv proof passed: $passed checks in $((SECONDS - started)) s"
