#!/usr/bin/env bash
# Integration tier (real time, Wine): the Windows driver module mcivtr.drv,
# loaded by Wine's own winmm, which parses our command table and drives the
# driver, talking over a pseudo-terminal to the virtual deck (vtrsim).
#
#   1. parser probe: a stand-in driver carrying the same command table records
#      the flags and parameter blocks winmm builds; checked against the layout
#      the handlers read (tests/wine/probe_expected.txt).
#   2. end to end: the same command script through vtrwin + Wine + mcivtr.drv
#      and through vtrctl on POSIX, each against a fresh vtrsim; the two
#      transcripts must match.
#
# Skips (exit 0, "SKIP: ...") when wine or mingw-w64 is missing.
# Environment: VTR_WINE_KEEP=1 keeps the temporary prefix and logs;
# VTR_POSIX_BUILD names the POSIX build with sim/vtrsim and host/vtrctl
# (default build/default).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
HERE="$ROOT/tests/wine"
JOBS="${VTR_JOBS:-2}"

WINE_BIN="$(command -v wine64 || command -v wine || true)"
# Debian's wine64 package installs the loader as "wine" (and wine64 under
# /usr/lib/wine); either runs 64-bit programs.
if [[ -z "$WINE_BIN" && -x /usr/lib/wine/wine64 ]]; then WINE_BIN=/usr/lib/wine/wine64; fi
if [[ -z "$WINE_BIN" ]]; then
  echo "SKIP: wine not installed (apt-get install wine64)"
  exit 0
fi
if ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "SKIP: mingw-w64 not installed (apt-get install g++-mingw-w64-x86-64)"
  exit 0
fi
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver64)"

WORK="$(mktemp -d /tmp/vtr-wine.XXXXXX)"
SIM_PID=""
cleanup() {
  [[ -n "$SIM_PID" ]] && kill "$SIM_PID" 2>/dev/null
  if [[ -d "$WORK/prefix" ]]; then WINEPREFIX="$WORK/prefix" "$WINESERVER" -k 2>/dev/null; fi
  if [[ "${VTR_WINE_KEEP:-0}" == 1 ]]; then
    echo "kept: $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT

export WINEPREFIX="$WORK/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko installers, no audio back end, no display needed.
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=d"
unset DISPLAY WAYLAND_DISPLAY

fail=0
passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
flunk() { echo "FAIL: $1"; failed=$((failed + 1)); fail=1; }

# ---- build --------------------------------------------------------------------
echo "== building the mingw preset"
BIN="$ROOT/build/mingw/bin"
if ! (cd "$ROOT" && cmake --preset mingw >"$WORK/mingw-configure.log" 2>&1 &&
      cmake --build --preset mingw -j"$JOBS" --target vtrwin vtrprobe \
        >"$WORK/mingw-tools.log" 2>&1); then
  tail -40 "$WORK/mingw-configure.log" "$WORK/mingw-tools.log"
  echo "FAIL: mingw build of vtrwin and vtrprobe"
  exit 1
fi
# The driver module needs the whole core; its failure is reported, and the
# probe still runs.
HAVE_DRIVER=1
if ! (cd "$ROOT" && cmake --build --preset mingw -j"$JOBS" >"$WORK/mingw-build.log" 2>&1) ||
   [[ ! -f "$BIN/mcivtr.drv" ]]; then
  grep -m20 -E 'error|FAILED' "$WORK/mingw-build.log"
  HAVE_DRIVER=0
fi

echo "== preparing a Wine prefix"
if ! "$WINE_BIN" wineboot -i >"$WORK/wineboot.log" 2>&1; then
  cat "$WORK/wineboot.log"
  echo "FAIL: wineboot"
  exit 1
fi
"$WINESERVER" -w
WINDIR="$WINEPREFIX/drive_c/windows"
SYS32="$WINDIR/system32"
cp "$BIN/vtrprobe.drv" "$SYS32/"
[[ $HAVE_DRIVER == 1 ]] && cp "$BIN/mcivtr.drv" "$SYS32/"
cp "$BIN/vtrwin.exe" "$WORK/"

reg_add() {  # key value data
  "$WINE_BIN" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >>"$WORK/reg.log" 2>&1
}
MCI_KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI'

winpath() { echo "Z:${1//\//\\}"; }
run_vtrwin() {  # script output
  (cd "$WORK" && timeout 300 "$WINE_BIN" vtrwin.exe -k -f "$(winpath "$1")" >"$2" \
     2>>"$WORK/wine-stderr.log")
  sed -i 's/\r$//' "$2"
}

# ---- 1. parser probe ------------------------------------------------------------
echo "== parser probe (winmm's layout of our command table)"
# The text after the file name reaches only the first (session) DRV_OPEN.
reg_add "$MCI_KEY" vcrprobe "vtrprobe.drv videotape7"
: >"$WORK/probe.log"
VTRPROBE_LOG="$(winpath "$WORK/probe.log")" run_vtrwin "$HERE/probe_commands.txt" \
  "$WORK/probe-vtrwin.txt"
if diff -u "$HERE/probe_expected.txt" "$WORK/probe.log" >"$WORK/probe.diff"; then
  pass "winmm builds the parameter blocks the handlers read"
else
  flunk "parameter blocks differ from the expected layout (- expected, + Wine):"
  cat "$WORK/probe.diff"
fi
if diff -u "$HERE/probe_transcript_expected.txt" "$WORK/probe-vtrwin.txt" \
    >"$WORK/probe-transcript.diff"; then
  pass "winmm formats returns and delivers notifications as expected"
else
  flunk "probe transcript differs (- expected, + Wine):"
  cat "$WORK/probe-transcript.diff"
fi

# ---- 2. end to end against the virtual deck ----------------------------------------
DEFAULT_BUILD="${VTR_POSIX_BUILD:-$ROOT/build/default}"
VTRSIM="$DEFAULT_BUILD/sim/vtrsim"
VTRCTL="$DEFAULT_BUILD/host/vtrctl"
SIM_PID=""
start_sim() {  # name; sets PTY
  local out="$WORK/vtrsim.$1.out"
  "$VTRSIM" >"$out" 2>"$WORK/vtrsim.$1.err" &
  SIM_PID=$!
  PTY=""
  for _ in $(seq 1 100); do
    PTY="$(head -n1 "$out" 2>/dev/null)"
    [[ -n "$PTY" ]] && break
    sleep 0.05
  done
}
stop_sim() {
  [[ -n "$SIM_PID" ]] && { kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; }
  SIM_PID=""
}
end_to_end() {
  if [[ ! -x "$VTRSIM" || ! -x "$VTRCTL" ]]; then
    echo "== building vtrsim and vtrctl (default preset)"
    (cd "$ROOT" && { [[ -f "$DEFAULT_BUILD/build.ninja" ]] || cmake --preset default; } &&
     cmake --build --preset default -j"$JOBS" --target vtrsim vtrctl) \
      >"$WORK/default-build.log" 2>&1
  fi
  if [[ ! -x "$VTRSIM" || ! -x "$VTRCTL" ]]; then
    tail -20 "$WORK/default-build.log" 2>/dev/null
    flunk "vtrsim or vtrctl not available: end-to-end comparison not run"
    return
  fi

  # Windows side: the profile is VTR.INI in the Windows directory; COM2 is
  # the deck's pseudo-terminal through Wine's port map.
  cp "$HERE/vtr.ini" "$WINDIR/vtr.ini"
  reg_add "$MCI_KEY" vcr mcivtr.drv
  start_sim wine
  if [[ -z "$PTY" ]]; then
    flunk "vtrsim printed no pty path"
    stop_sim
    return
  fi
  reg_add 'HKLM\Software\Wine\Ports' COM2 "$PTY"
  # mountmgr maps COM ports when the prefix starts: restart it.
  "$WINESERVER" -k; "$WINESERVER" -w
  echo "== end to end under Wine (COM2 = $PTY)"
  run_vtrwin "$HERE/e2e_commands.txt" "$WORK/e2e-wine.txt"
  stop_sim

  # POSIX side: the same script and profile against a fresh deck.
  mkdir -p "$WORK/posix-profile"
  cp "$HERE/vtr.ini" "$WORK/posix-profile/VTR.INI"
  start_sim posix
  echo "== end to end through vtrctl (COM2 = $PTY)"
  VTR422_PROFILE_DIR="$WORK/posix-profile" timeout 300 "$VTRCTL" --port "COM2=$PTY" \
    <"$HERE/e2e_commands.txt" >"$WORK/e2e-posix.txt" 2>"$WORK/vtrctl.err"
  stop_sim

  # Error texts are each library's own; the numbers must agree.
  normalise() { sed -E 's/(error [0-9]+):.*/\1/' "$1"; }
  if [[ ! -s "$WORK/e2e-wine.txt" ]]; then
    flunk "vtrwin printed nothing under Wine"
  elif diff -u <(normalise "$WORK/e2e-posix.txt") <(normalise "$WORK/e2e-wine.txt") \
      >"$WORK/e2e.diff"; then
    pass "Wine transcript matches vtrctl ($(wc -l <"$WORK/e2e-wine.txt") lines)"
  else
    flunk "Wine and vtrctl transcripts differ (- vtrctl, + Wine):"
    cat "$WORK/e2e.diff"
  fi
}
if [[ $HAVE_DRIVER == 1 ]]; then
  end_to_end
else
  flunk "mcivtr.drv did not build: end-to-end comparison not run"
fi

# ---- 3. configuration dialogs (tests/wine/run_dialog_test.sh) ----------------------
if [[ $HAVE_DRIVER == 1 ]]; then
  dialog_out="$(WINE_BIN="$WINE_BIN" WINESERVER="$WINESERVER" BIN="$BIN" WORK="$WORK" \
    bash "$HERE/run_dialog_test.sh" 2>&1)"
  dialog_status=$?
  echo "$dialog_out"
  if grep -q '^SKIP:' <<<"$dialog_out"; then
    :
  elif [[ $dialog_status -eq 0 ]]; then
    pass "DRV_CONFIGURE shows the dialogs and they change VTR.INI as expected"
  else
    flunk "configuration dialogs under Wine"
  fi
fi

echo "$passed passed, $failed failed"
exit "$fail"
