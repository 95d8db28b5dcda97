#!/usr/bin/env bash
# Installs what building and testing Morvalind needs on Debian 12, if missing.
set -euo pipefail
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev
  libbitstream-dev nlohmann-json3-dev libcli11-dev g++-mingw-w64-i686 g++-mingw-w64-i686-posix wine wine32:i386 xvfb xauth clang llvm lld
  libclang-rt-14-dev clang-format clang-tidy ffmpeg valgrind python3 python3-pefile)
# The Linux DVB library and its tools (the card library over the Linux DVB API,
# channel files checked against its reader), and the transponder files of
# Debian's scan tables.
packages+=(libdvbv5-dev dvb-tools dtv-scan-tables)
# The Linux DVB card library's proof on vidtv in a VM (linuxdvb/proof/vidtv-vm.sh):
# the kernel headers name the kernel to boot; perf counts both programs' CPU there.
packages+=(qemu-system-x86 busybox-static cpio kmod make xz-utils linux-headers-amd64 linux-source-6.1
  linux-perf)
# The packages (scripts/package.sh): CPack's Debian package finds its
# dependencies with dpkg-shlibdeps and file; the manual page from the program's
# help; lintian; the zip unpacked for its check.
packages+=(dpkg-dev file help2man lintian unzip)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync can hand over an index of the wrong size, and
# apt then goes on without that index: try once more after a pause.
if ! $sudo apt-get update -q; then
  sleep 30
  $sudo apt-get update -q || echo "setup: some package indexes did not arrive; installing from those that did" >&2
fi
install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$@" "${missing[@]}"; }
if ! install; then
  # Without the security archive's index of one architecture, a library's amd64
  # and i386 builds have different candidates, which multiarch refuses (Wine
  # needs both). The point release alone offers the same version of each.
  echo "setup: installing again from the point release alone, without the security archive" >&2
  preferences=$(mktemp)
  trap 'rm -f "$preferences"' EXIT
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: -1\n' >"$preferences"
  install -o Dir::Etc::Preferences="$preferences"
fi
