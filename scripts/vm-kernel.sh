# Debian's own kernel in a VM under qemu, for what this machine's kernel cannot
# do (the kernel's virtual DVB driver; 32-bit programs): sourced by
# scripts/vm.sh and linuxdvb/proof/vidtv-vm.sh, with `root` (the source tree)
# set and a `skip` function that exits 77 with its reason.
#
# vm_kernel: the kernel package for the ABI of the installed linux-headers-6.1
#   (scripts/setup.sh installs them), fetched once with apt-get download into
#   build/kernel/ and unpacked there; sets headers, abi, kernel, modules.
# vm_initrd FILE: an initramfs of busybox, the 9p and virtio modules and
#   scripts/vm-init.
# vm_boot OUT LOG ro|rw QEMU-OPTIONS...: boots it in the background with this
#   machine's root, the tree (read-only or read-write) and OUT shared (see
#   vm-init), the console in LOG; sets vm (qemu's pid). The guest runs
#   OUT/guest-start.sh; a VM still running after vm_limit seconds (default
#   1800) is ended. vm_accel sets qemu's -accel (default tcg,thread=multi),
#   vm_cpus the processors (default 2).

vm_kernel() {
  [ "$(uname -m)" = x86_64 ] || skip "it boots an x86-64 kernel, and this machine is $(uname -m)"
  headers=$(find /usr/src -maxdepth 1 -name 'linux-headers-6.1.*-amd64' | sort -V | tail -1)
  [ -n "$headers" ] || { echo "linux-headers-6.1.*-amd64 are needed (scripts/setup.sh)"; exit 1; }
  abi=${headers#/usr/src/linux-headers-}
  local cache=$root/build/kernel
  mkdir -p "$cache"
  local deb
  deb=$(find "$cache" -name "linux-image-${abi}_*.deb" | head -1)
  if [ -z "$deb" ]; then
    (cd "$cache" && apt-get download -q "linux-image-$abi" >"$cache/download.log" 2>&1) ||
      skip "linux-image-$abi cannot be fetched with apt-get download (see $cache/download.log)"
    deb=$(find "$cache" -name "linux-image-${abi}_*.deb" | head -1)
  fi
  kernel=$cache/kernel-$abi
  modules=$kernel/lib/modules/$abi
  if [ ! -f "$kernel/unpacked" ]; then
    rm -rf "$kernel"
    mkdir -p "$kernel"
    dpkg-deb -x "$deb" "$kernel"
    depmod -b "$kernel" "$abi"
    touch "$kernel/unpacked"
  fi
}

# The modules `modprobe` would load for the named ones, in order, as paths.
vm_insmod_order() {
  modprobe -d "$kernel" -S "$abi" --show-depends -a "$@" | awk '$1 == "insmod" && !seen[$2]++ { print $2 }'
}

vm_initrd() {
  local initrd
  initrd=$(mktemp -d)
  mkdir -p "$initrd/bin" "$initrd/modules" "$initrd/proc" "$initrd/sys" "$initrd/dev" "$initrd/host"
  cp /bin/busybox "$initrd/bin/busybox"
  install -m 0755 "$root/scripts/vm-init" "$initrd/init"
  vm_insmod_order 9p 9pnet_virtio virtio_pci virtio_net | while read -r module; do
    cp "$module" "$initrd/modules/"
    echo "insmod /modules/${module##*/}"
  done >"$initrd/modules/load"
  (cd "$initrd" && find . | cpio -o -H newc --quiet | gzip -1) >"$1"
  rm -rf "$initrd"
}

vm_boot() { # out log ro|rw options...
  local out=$1 log=$2 tree_readonly=,readonly=on tree_rw=0
  [ "$3" = rw ] && tree_readonly="" tree_rw=1
  shift 3
  local initrd=$out/../initrd.gz
  vm_initrd "$initrd"
  : >"$log"
  timeout "${vm_limit:-1800}" qemu-system-x86_64 -accel "${vm_accel:-tcg,thread=multi}" -smp "${vm_cpus:-2}" -nographic -no-reboot \
    -kernel "$kernel/boot/vmlinuz-$abi" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1 morvalind.out=$out morvalind.tree=$root morvalind.tree_rw=$tree_rw" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$root,mount_tag=tree,security_model=none$tree_readonly" \
    -virtfs "local,path=$out,mount_tag=out,security_model=none" \
    "$@" </dev/null >"$log" 2>&1 &
  vm=$!
}
