#!/usr/bin/env bash
# Installs the Python package into a fresh venv (offline) and runs its tests
# against the built libvtr422 and the embedded virtual deck.
# Usage: python_test.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
# The interpreter is Debian's /usr/bin/python3 (python3-venv, python3-pytest);
# VTR422_PYTHON overrides it. The package builds with its own backend, offline.
set -euo pipefail
build=$1 src=$2
py=${VTR422_PYTHON:-/usr/bin/python3}
if ! "$py" -c 'import ensurepip, venv, pytest' 2>/dev/null; then
  echo "SKIP: $py lacks venv or pytest (.ci/deps installs python3-venv python3-pytest)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$src/python" "$work/src"  # pip builds in place: keep the source tree clean
"$py" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-index "$work/src"
cd "$work"
VTR422_LIBRARY="$build/lib/libvtr422.so.0" \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$work/src/tests"
VTR422_PROFILE_DIR="$work/profile" VTR422_LIBRARY="$build/lib/libvtr422.so.0" \
  "$work/venv/bin/python" "$src/examples/python/play_to.py"
