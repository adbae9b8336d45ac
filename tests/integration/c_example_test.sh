#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the C example against it with
# pkg-config and runs it against the embedded virtual deck.
# Usage: c_example_test.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
set -euo pipefail
build=$1 src=$2
for tool in pkg-config cc; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vtrctl bin/vtrsim include/vtr422.h share/man/man1/vtrctl.1 share/man/man1/vtrsim.1 \
         share/man/man3/vtr422.3; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
pc=$(find "$prefix" -name vtr422.pc)
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir vtr422)
# The header compiles as C99 without warnings.
cc -std=c99 -Wall -Wextra -pedantic -Werror "$src/examples/c/play_to.c" \
   $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs vtr422) -lpthread -o "$prefix/play_to"
out=$(VTR422_PROFILE_DIR="$prefix/profile" LD_LIBRARY_PATH="$libdir" "$prefix/play_to")
echo "$out"
grep -qx 'notify successful' <<<"$out"
