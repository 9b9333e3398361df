#!/usr/bin/env bash
# Builds GMP for 64-bit Windows from the source package that this machine's
# apt offers (Debian's or Ubuntu's): a static, CPU-dispatching
# (--enable-fat) libgmp.a for x86_64-w64-mingw32, installed under DEST as
# DEST/include/gmp.h and DEST/lib/libgmp.a. The source package itself stays
# in DEST/source: GMP is under the LGPL, and whoever passes pi.exe on passes
# those sources on with it.
#
#   cmake/mingw_gmp.sh DEST
#
# The Windows build runs it once, when it is first configured
# (cmake/windows.cmake). It needs apt-get, dpkg-source (dpkg-dev), m4, make
# and the MinGW-w64 C compiler (gcc-mingw-w64-x86-64-posix). apt fetches
# source packages only where 'deb-src' entries are configured: run as root,
# the script adds them for the Debian and Ubuntu archives the machine already
# uses; otherwise it says what is missing.
set -euo pipefail

triplet=x86_64-w64-mingw32
compiler=$triplet-gcc-posix
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "mingw_gmp.sh: $*" >&2
  exit 1
}

(($# == 1)) || fail "usage: cmake/mingw_gmp.sh DEST"
dest=$(realpath -m "$1")
if [[ -f $dest/lib/libgmp.a && -f $dest/include/gmp.h ]]; then
  echo "GMP for $triplet is already in $dest"
  exit 0
fi

for tool in apt-get dpkg-source patch m4 make "$compiler"; do
  command -v "$tool" >/dev/null || fail "$tool not found (apt-get install dpkg-dev patch m4 make gcc-mingw-w64-x86-64-posix)"
done

# deb-src twins of the Debian and Ubuntu archives already in use, in both of
# apt's formats: deb822 stanzas (*.sources) and one-line entries (*.list).
enable_source_packages() {
  local archives='(deb\.debian\.org|security\.debian\.org|ftp\.[a-z.]*debian\.org|archive\.ubuntu\.com|security\.ubuntu\.com|ports\.ubuntu\.com)'
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    awk -v archives="$archives" '
      function flush() {
        if (binary && archive && enabled) { print "Types: deb-src"; printf "%s", rest; print "" }
        binary = 0; archive = 0; enabled = 1; rest = ""
      }
      BEGIN { enabled = 1 }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { if ($0 ~ /[ \t]deb([ \t]|$)/) binary = 1; next }
      {
        if ($0 ~ /^URIs:/ && $0 ~ archives) archive = 1
        if ($0 ~ /^Enabled:[ \t]*[Nn]o/) enabled = 0
        rest = rest $0 "\n"
      }
      END { flush() }' "$file"
  done >/etc/apt/sources.list.d/pi-source-packages.sources
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] || continue
    grep -E '^deb[[:space:]]' "$file" | grep -E "$archives" | sed 's/^deb/deb-src/' || true
  done >/etc/apt/sources.list.d/pi-source-packages.list
  apt-get update -qq
}

mkdir -p "$dest/source"
cd "$dest/source"
if ! apt-get source --print-uris gmp >/dev/null 2>&1; then
  ((EUID == 0)) || fail "apt offers no source packages: add 'deb-src' entries for your archive (or run this as root, which adds them), then apt-get update"
  echo "Adding deb-src entries for the archives in use"
  enable_source_packages
fi
echo "Fetching GMP's source package"
rm -rf gmp-*/
apt-get source gmp >/dev/null
tree=$(find . -maxdepth 1 -type d -name 'gmp-*' | head -n 1)
[[ -n $tree ]] || fail "apt-get source gmp unpacked no gmp-* directory in $dest/source"
# Debian's package leaves GMP's manual out (it is under the GFDL), and with
# it doc/Makefile.in, which configure and make still ask for: a stub that
# makes nothing serves.
if [[ ! -f $tree/doc/Makefile.in ]]; then
  mkdir -p "$tree/doc"
  printf 'all:\n.DEFAULT:\n\t@:\n' >"$tree/doc/Makefile.in"
fi
# GMP's own choice of code for CPUs it does not know yet, where the patch
# fits this version of GMP (cmake/gmp-fat-later-cpus.patch says why).
patch_file=$here/gmp-fat-later-cpus.patch
if patch -d "$tree" -p1 --forward --dry-run -s <"$patch_file" >/dev/null 2>&1; then
  patch -d "$tree" -p1 --forward -s <"$patch_file"
else
  echo "mingw_gmp.sh: $(basename "$patch_file") does not fit ${tree#./}; built as it is" >&2
fi
echo "Building ${tree#./} for $triplet (a few minutes, once)"
rm -rf "$dest/build"
mkdir -p "$dest/build"
cd "$dest/build"
"$dest/source/$tree/configure" --host=$triplet CC="$compiler" --enable-fat --enable-static --disable-shared \
  --prefix="$dest" >configure.log 2>&1 || fail "configure failed: see $dest/build/configure.log"
make -j"$(nproc)" >make.log 2>&1 || fail "make failed: see $dest/build/make.log"
make install >install.log 2>&1 || fail "make install failed: see $dest/build/install.log"
echo "GMP for $triplet is in $dest"
