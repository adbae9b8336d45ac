#!/usr/bin/env bash
# Runs vtrd's tests against the built libvtr422: "api" (the service's API and
# WebSockets, and its pure parts) or "browser" (the panel in headless Chromium).
# Usage: run.sh BUILD_DIR SOURCE_DIR api|browser   (exit 77: skipped)
# The interpreter is Debian's /usr/bin/python3 (python3-aiohttp, python3-pytest;
# for the browser also python3-selenium, chromium, chromium-driver: .ci/deps web);
# VTR422_PYTHON overrides it.
set -euo pipefail
build=$1 src=$2 kind=$3
py=${VTR422_PYTHON:-/usr/bin/python3}
need=(pytest aiohttp)
[ "$kind" = browser ] && need+=(selenium)
for module in "${need[@]}"; do
  if ! "$py" -c "import $module" 2>/dev/null; then
    echo "SKIP: $py lacks $module (.ci/deps web installs python3-pytest python3-aiohttp python3-selenium)"
    exit 77
  fi
done
if [ "$kind" = browser ]; then
  for tool in chromium chromedriver; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (.ci/deps web)"; exit 77; }
  done
fi
[ -x "$build/sim/vtrsim" ] || { echo "SKIP: vtrsim is not built in $build"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # pytest's temporary files and nothing in the source tree
VTRD_BUILD="$build" HOME="$work" "$py" -m pytest -q -p no:cacheprovider \
  "$src/vtrd/tests/test_$kind.py"
