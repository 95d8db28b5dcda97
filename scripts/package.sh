#!/usr/bin/env bash
# Makes the two packages from the native and win32 builds and tries each as a
# user would, on a clean root:
# - the Debian package, checked with lintian, unpacked with the packages of
#   its declared dependencies (and theirs), fetched with apt-get download,
#   into an empty folder; morvalind-host --version, info, demo and the manual
#   page's scan run there in a root of their own (unshare, chroot), from /;
# - the Windows zip, its sums and its programs' imports checked, unpacked into
#   an empty folder; its morvalind-host.exe demo run under Wine there with a
#   fresh prefix and nothing else beside it.
# The packages and their .sha256 files land in build/packages/.
# Usage: scripts/package.sh   (after building the native and win32 presets;
# Wine wants a display: scripts/test.sh gives it one)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build/packages
work=$PWD/build/package
rm -rf "$out" "$work/deb-root" "$work/zip-root" "$work/wine"
mkdir -p "$out" "$work/debs"

step() { echo "-- $*"; }

for preset in native win32; do
  step "cpack ($preset)"
  # Up to date, with the version of the sources as they are now.
  cmake --build "build/$preset" -j "$(nproc)" >/dev/null
  (cd "build/$preset" && cpack -B "$work/cpack-$preset" >/dev/null)
  mv "$work/cpack-$preset"/morvalind[-_]*.{deb,zip}* "$out/" 2>/dev/null || true
done
deb=$(echo "$out"/morvalind_*.deb)
zip=$(echo "$out"/morvalind-*-win32.zip)
(cd "$out" && sha256sum -c --quiet ./*.sha256)
ls -l "$out"

step "lintian"
# Errors and warnings fail; the package's tags by design are overridden with
# their reasons (packaging/debian/lintian-overrides). Shown besides: the
# informational and pedantic tags of the build's flags, which are not
# Debian's (no hardening flags, strip keeps .comment).
lintian --fail-on error,warning --display-info --pedantic "$deb"

step "Debian package on a clean root"
root=$work/deb-root
mkdir -p "$root"
# The dependencies as the package declares them, and all they depend on.
mapfile -t declared < <(dpkg-deb -f "$deb" Depends Pre-Depends | sed 's/^[A-Za-z-]*: //' |
  tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | grep .)
mapfile -t needed < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances "${declared[@]}" | grep -v '^[ <]' | sort -u)
echo "depends on ${declared[*]}; with theirs: ${needed[*]}"
missing=()
for package in "${needed[@]}"; do
  compgen -G "$work/debs/${package}_*.deb" >/dev/null || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  (cd "$work/debs" && apt-get download -q -o APT::Sandbox::User=root "${missing[@]}")
fi
for package in "${needed[@]}"; do
  dpkg-deb -x "$(compgen -G "$work/debs/${package}_*.deb" | tail -1)" "$root"
done
dpkg-deb -x "$deb" "$root"
mkdir -p "$root/proc" "$root/tmp"
in_root() {
  local user=()
  [ "$(id -u)" -eq 0 ] || user=(--map-root-user)
  timeout 300 unshare "${user[@]}" --mount --pid --fork --mount-proc=/proc --root="$root" --wd=/ "$@"
}
# The package's version is the program's: its product version, and the
# commit when the sources are not a release's tag.
version=$(in_root /usr/bin/morvalind-host --version)
echo "$version"
package_version=$(dpkg-deb -f "$deb" Version)
product=${package_version%%+*}
commit=$(sed -n 's/^[0-9.]*+g\([0-9a-f]*\).*/\1/p' <<<"$package_version")
[[ "$version" == "morvalind-host $product (git "*"$commit"* ]] ||
  { echo "package version $package_version is not the program's ($version)"; exit 1; }
in_root /usr/bin/morvalind-host info
# The demo from /, on the virtual card the program finds in its own folder.
in_root /usr/bin/morvalind-host demo --out /tmp | tee "$work/deb-demo.txt"
grep -q "^Card library .*/virtual-card/ttlcdacc.dll" "$work/deb-demo.txt"
# The manual page's scan, from /: its file found beside the virtual card.
in_root /usr/bin/morvalind-host scan ttlcdacc-transponders.conf -o /tmp/channels.conf
grep -q "^\[Pellam Sport\]" "$root/tmp/channels.conf"
# The SAT>IP card library loads from the package with its settings, and says
# why a server that is not there keeps the card from opening (status 4).
status=0
in_root /usr/bin/morvalind-host open --card satip:127.0.0.1:9 >"$work/deb-satip.txt" 2>&1 || status=$?
cat "$work/deb-satip.txt"
[ "$status" -eq 4 ] && grep -q "satipcard card library: 127.0.0.1:9: cannot reach" "$work/deb-satip.txt"

step "Windows zip in an empty folder under Wine"
unzip -q "$zip" -d "$work/zip-root"
folder=$(echo "$work/zip-root"/morvalind-*-win32)
(cd "$folder" && sha256sum -c --quiet SHA256SUMS)
tests/module_file.py "$folder/Morvalind.dev"
packaging/pe_imports.py "$folder"/*.exe "$folder"/*.dev "$folder"/virtual-card/*.dll \
  "$folder"/satipcard/*.dll
# The demo with a fresh prefix (PREFIX FOLDER); where this machine's kernel
# runs no 32-bit programs, Wine's among them, in a VM of Debian's own kernel.
demo=(bash -c 'export WINEPREFIX=$1 WINEDEBUG=-all; cd "$2" &&
  timeout 300 wine ./morvalind-host.exe demo --out . &&
  { timeout 120 wine ./morvalind-host.exe open --card satip:127.0.0.1:9; [ $? -eq 4 ]; } &&
  wineserver -w' zip-demo)
# shellcheck source=scripts/wine-place.sh
. scripts/wine-place.sh
status=0
prefix=$work/wine
if [ "$MORVALIND_WINE_PLACE" = here ]; then
  trap 'WINEPREFIX=$work/wine wineserver -k 2>/dev/null || true' EXIT
else
  echo "Wine's 32-bit programs do not run on this kernel: the demo runs in a VM"
  prefix=/tmp/wine
fi
in_wine "${demo[@]}" "$prefix" "$folder" | tee "$work/zip-demo.txt" || status=$?
if [ "$status" -eq 77 ]; then
  echo "the zip's demo was not tried: this machine boots no VM either (vm.sh said why)"
else
  [ "$status" -eq 0 ] || exit "$status"
  grep -q "^Card library .*virtual-card.ttlcdacc.dll" "$work/zip-demo.txt"
  grep -q "^Card library .*satipcard.ttlcdacc.dll" "$work/zip-demo.txt"
fi
