#!/usr/bin/env bash
# Checks an installed libvtr422 (files, manual pages) and builds the C example
# against it, once with pkg-config and once with the CMake package
# (find_package(vtr422 CONFIG)), and runs both against the embedded virtual deck.
# Usage: c_example_test.sh BUILD_DIR SOURCE_DIR [ROOT]   (exit 77: skipped)
#   Without ROOT the build is installed into a fresh prefix first. ROOT is a
#   tree installed for /usr as it is, e.g. the .deb files unpacked into it.
set -euo pipefail
build=$1 src=$2 root=${3:-}
for tool in pkg-config cc cmake; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$root" ]; then
  prefix=$root/usr
  export PKG_CONFIG_SYSROOT_DIR=$root
else
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >/dev/null
  for f in bin/vtrctl bin/vtrsim bin/vtrconfig include/vtr422.h share/man/man1/vtrctl.1.gz \
           share/man/man1/vtrsim.1.gz share/man/man1/vtrconfig.1.gz share/man/man3/vtr422.3.gz \
           share/man/man3/vtr_close_library.3.gz; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
  done
fi
# Every function of the header has its manual page, and every page formats
# without a warning.
for fn in $(grep -o 'VTR_API [^(]*(' "$prefix/include/vtr422.h" | grep -o 'vtr_[a-z_]*(' | tr -d '('); do
  [ -e "$prefix/share/man/man3/$fn.3.gz" ] || { echo "no manual page: $fn(3)"; exit 1; }
done
if command -v man >/dev/null; then
  for page in "$prefix"/share/man/man*/*.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
  done
fi
pc=$(find "$prefix" -name vtr422.pc)
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(dirname "$(find "$prefix" -name libvtr422.so.0)")
# The header compiles as C99 without warnings.
cc -std=c99 -Wall -Wextra -pedantic -Werror "$src/examples/c/play_to.c" \
   $(pkg-config --cflags --libs vtr422) -lpthread -o "$work/play_to"
cmake -S "$src/examples/c" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
for prog in play_to cmake/play_to; do
  echo "== $prog"
  out=$(VTR422_PROFILE_DIR="$work/profile" LD_LIBRARY_PATH="$libdir" "$work/$prog")
  echo "$out"
  grep -qx 'notify successful' <<<"$out"
done
