#!/usr/bin/env bash
# Installs the Python package into a fresh venv, offline, as a user would
# (pip install --no-build-isolation with Debian's setuptools and wheel), runs
# its tests, and runs examples/python/play_to.py with no VTR422_* variable: the
# installed package finds libvtr422 in the tree it was installed from.
# Usage: python_test.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped)
# The interpreter is Debian's /usr/bin/python3 (python3-venv, python3-pytest,
# python3-setuptools, python3-wheel); VTR422_PYTHON overrides it.
set -euo pipefail
build=$1 src=$2
py=${VTR422_PYTHON:-/usr/bin/python3}
if ! "$py" -c 'import ensurepip, venv, pytest, setuptools, wheel' 2>/dev/null; then
  echo "SKIP: $py lacks venv, pytest, setuptools or wheel" \
       "(.ci/deps installs python3-venv python3-pytest python3-setuptools python3-wheel)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A tree of its own to install from (pip builds in place), whose build/default
# is this build.
mkdir -p "$work/tree/build" "$work/home"
cp -r "$src/python" "$work/tree/python"
ln -s "$build" "$work/tree/build/default"
"$py" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-index --no-build-isolation "$work/tree/python"
cd "$work"
export HOME=$work/home
unset VTR422_LIBRARY VTR422_PROFILE_DIR XDG_CONFIG_HOME
"$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$work/tree/python/tests"
"$work/venv/bin/python" "$src/examples/python/play_to.py"
