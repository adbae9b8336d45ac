#!/usr/bin/env bash
# Integration tier (real time, Wine): the Windows driver module mcivtr.drv,
# loaded by Wine's own winmm, which parses our command table and drives the
# driver, talking over a pseudo-terminal to the virtual deck (vtrsim).
#
#   1. parser probe: a stand-in driver carrying the same command table records
#      the flags and parameter blocks winmm builds; checked against the layout
#      the handlers read (tests/wine/probe_expected.txt).
#   2. install: the Windows package (both modules) goes into the prefix through
#      its INF, as a user installs it; checked: files, registry values in both
#      views, the [videotape] section added.
#   3. end to end: the same command script through vtrwin + Wine + mcivtr.drv
#      and through vtrctl on POSIX, each against a fresh vtrsim; the two
#      transcripts must match. Then again through the 32-bit vtrwin and the x86
#      module when the 32-bit Wine (wine32:i386) is there; without it the x86
#      module's exports and command table are compared with the x64 one's.
#   4. uninstall, and install over a "vcr" that another driver holds.
#
# Skips (exit 0, "SKIP: ...") when wine or mingw-w64 (x64 or x86) is missing.
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
if ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 ||
   ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "SKIP: mingw-w64 not installed (apt-get install g++-mingw-w64-x86-64 g++-mingw-w64-i686)"
  exit 0
fi
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver64)"
# setupapi must run as a 64-bit process to take the INF's 64-bit section;
# Debian's "wine" starts builtin programs such as rundll32 as 32-bit ones.
WINE64="$WINE_BIN"
if [[ -x /usr/lib/wine/wine64 ]]; then WINE64=/usr/lib/wine/wine64; fi

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
# The driver modules need the whole core; their failure is reported, and the
# probe still runs. The package holds both widths (it builds build/mingw32).
HAVE_DRIVER=1
PACKAGE="$ROOT/build/mingw/vtr422-$(sed -nE 's/^project\(vtr422 VERSION ([0-9.]+).*/\1/p' \
  "$ROOT/CMakeLists.txt")-windows.zip"
if ! (cd "$ROOT" && cmake --build --preset mingw -j"$JOBS" --target all package \
        >"$WORK/mingw-build.log" 2>&1) || [[ ! -f "$PACKAGE" ]]; then
  grep -m20 -E 'error|FAILED' "$WORK/mingw-build.log"
  HAVE_DRIVER=0
fi
BIN32="$ROOT/build/mingw32/bin"

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
cp "$BIN/vtrwin.exe" "$WORK/"

reg_add() {  # key value data (64-bit view, which the 64-bit programs read)
  "$WINE_BIN" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f /reg:64 >>"$WORK/reg.log" 2>&1
}
MCI_KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI'

winpath() { echo "Z:${1//\//\\}"; }

# ---- helpers for 2. (install from the INF), run after the probe -----------------
PKG=""
inf_run() {  # section
  "$WINE64" rundll32 setupapi.dll,InstallHinfSection "$1" 132 "$(winpath "$PKG/mcivtr.inf")" \
    >>"$WORK/setup.log" 2>&1
  "$WINESERVER" -w
}
# Device names whose value is DATA, in key KEY (MCI32 or MCI) of registry VIEW
# (64 or 32), one per line.
names_for() {  # key view data
  "$WINE_BIN" reg query "HKLM\Software\Microsoft\Windows NT\CurrentVersion\\$1" "/reg:$2" \
    2>/dev/null | tr -d '\r' | awk -v d="$3" 'tolower($3) == tolower(d) { print $1 }'
}
# The names registered for DATA in every key and view the installer writes
# under Wine, on one line: "MCI32/64=vcr MCI32/32=vcr MCI/64=vcr MCI/32=vcr".
registrations() {  # data
  local k v out=()
  for k in MCI32 MCI; do for v in 64 32; do
    out+=("$k/$v=$(names_for "$k" "$v" "$1" | paste -sd,)")
  done; done
  echo "${out[*]}"
}
check_registered() {  # name what
  local got
  got="$(registrations mcivtr.drv)"
  if [[ "$got" == "MCI32/64=$1 MCI32/32=$1 MCI/64=$1 MCI/32=$1" ]]; then
    pass "$2"
  else
    flunk "$2: registrations are $got"
  fi
}
NOT_REGISTERED="MCI32/64= MCI32/32= MCI/64= MCI/32="
# VTR.INI in the Windows directory, whatever the case of its name.
profile() { find "$WINDIR" -maxdepth 1 -iname vtr.ini | head -n1; }
put_profile() {  # file
  find "$WINDIR" -maxdepth 1 -iname vtr.ini -delete
  cp "$1" "$WINDIR/vtr.ini"
}
install_from_inf() {
  PKG="$WORK/pkg/$(basename "$PACKAGE" .zip)"
  mkdir -p "$WORK/pkg"
  (cd "$WORK/pkg" && cmake -E tar xf "$PACKAGE") || { flunk "cannot unpack $PACKAGE"; return 1; }
  echo "== installing $(basename "$PACKAGE") from its INF"
  inf_run DefaultInstall
  if cmp -s "$PKG/mcivtr.drv" "$SYS32/mcivtr.drv" &&
     cmp -s "$PKG/mcivtr32.drv" "$WINDIR/syswow64/mcivtr.drv"; then
    pass "INF copies the x64 module to system32 and the x86 one to syswow64"
  else
    flunk "INF did not copy the modules"; return 1
  fi
  check_registered vcr "INF registers vcr in MCI32 and MCI, both registry views"
  if grep -qi '^\[videotape\]' "$(profile)" 2>/dev/null; then
    pass "INF adds [videotape] to a prefix without VTR.INI"
  else
    flunk "no [videotape] section in VTR.INI after the install"
  fi
}
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

# ---- 3. end to end against the virtual deck ----------------------------------------
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
  put_profile "$HERE/vtr.ini"
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

  compare_e2e "$WORK/e2e-wine.txt" "Wine transcript (x64)"
  end_to_end_x86
}
# Error texts are each library's own; the numbers must agree.
compare_e2e() {  # transcript what
  normalise() { sed -E 's/(error [0-9]+):.*/\1/' "$1"; }
  if [[ ! -s "$1" ]]; then
    flunk "$2: vtrwin printed nothing under Wine"
  elif diff -u <(normalise "$WORK/e2e-posix.txt") <(normalise "$1") >"$1.diff"; then
    pass "$2 matches vtrctl ($(wc -l <"$1") lines)"
  else
    flunk "$2 and vtrctl differ (- vtrctl, + Wine):"
    cat "$1.diff"
  fi
}

# The x86 module: the same script through the 32-bit vtrwin, whose winmm reads
# the 32-bit registry view and loads syswow64/mcivtr.drv.
end_to_end_x86() {
  check_x86_module
  cp "$BIN32/vtrwin.exe" "$WORK/vtrwin32.exe"
  : >"$WORK/empty.txt"
  if ! (cd "$WORK" && timeout 120 "$WINE_BIN" vtrwin32.exe -f "$(winpath "$WORK/empty.txt")" \
          >/dev/null 2>&1); then
    echo "NOTE: the 32-bit Wine (wine32:i386) is missing or does not start 32-bit programs:" \
         "the x86 module was checked by its exports and command table only"
    return
  fi
  put_profile "$HERE/vtr.ini"
  start_sim wine32
  reg_add 'HKLM\Software\Wine\Ports' COM2 "$PTY"
  "$WINESERVER" -k; "$WINESERVER" -w
  echo "== end to end under 32-bit Wine (COM2 = $PTY)"
  (cd "$WORK" && timeout 300 "$WINE_BIN" vtrwin32.exe -k -f "$(winpath "$HERE/e2e_commands.txt")" \
     >"$WORK/e2e-wine32.txt" 2>>"$WORK/wine-stderr.log")
  sed -i 's/\r$//' "$WORK/e2e-wine32.txt"
  stop_sim
  compare_e2e "$WORK/e2e-wine32.txt" "32-bit Wine transcript (x86)"
}

# Both modules export the same names and carry the same generated command
# table, byte for byte.
check_x86_module() {
  local table="$ROOT/build/mingw/commands/resource/generated/vcr_table.bin" m
  exports() { "${1}-objdump" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
              awk '/^[[:space:]]+\[ *[0-9]+\]/ { print $NF }' | sort; }
  if [[ -s "$PKG/mcivtr.drv" && "$(exports x86_64-w64-mingw32 "$PKG/mcivtr.drv")" == \
        "$(exports i686-w64-mingw32 "$PKG/mcivtr32.drv")" ]]; then
    pass "x86 module exports what the x64 one does ($(exports i686-w64-mingw32 \
      "$PKG/mcivtr32.drv" | tr '\n' ' '))"
  else
    flunk "x86 and x64 modules export different names"
  fi
  for m in mcivtr.drv mcivtr32.drv; do
    if python3 -c 'import sys; t = open(sys.argv[1], "rb").read()
sys.exit(0 if t and t in open(sys.argv[2], "rb").read() else 1)' "$table" "$PKG/$m"; then
      pass "$m carries the command table ($(stat -c %s "$table") bytes)"
    else
      flunk "$m lacks the generated command table"
    fi
  done
}

# ---- 4. uninstall; installing beside another driver's "vcr" ---------------------------
uninstall_and_taken_name() {
  echo "== uninstalling through the INF"
  inf_run DefaultUninstall
  if [[ ! -e "$SYS32/mcivtr.drv" && ! -e "$WINDIR/syswow64/mcivtr.drv" &&
        "$(registrations mcivtr.drv)" == "$NOT_REGISTERED" ]]; then
    pass "uninstall removes both modules and every registration"
  else
    flunk "uninstall left files or registrations: $(registrations mcivtr.drv)"
  fi
  echo "== installing while another driver holds vcr"
  printf '[videotape1]\r\nComPort=3\r\n' >"$WORK/other.ini"
  put_profile "$WORK/other.ini"
  "$WINE_BIN" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI32' /v vcr \
    /t REG_SZ /d other.drv /f /reg:64 >>"$WORK/reg.log" 2>&1
  inf_run QuietInstall
  check_registered vcr1 "a vcr held by another driver: installed as vcr1"
  if [[ "$(names_for MCI32 64 other.drv)" == vcr ]] &&
     "$WINE_BIN" reg query 'HKLM\Software\vtr422' /v DeviceName /reg:64 2>/dev/null |
       grep -q 'vcr1'; then
    pass "the other driver keeps vcr; DeviceName records vcr1"
  else
    flunk "the other driver's vcr changed, or DeviceName is not vcr1"
  fi
  inf_run DefaultUninstall
  if [[ "$(names_for MCI32 64 other.drv)" == vcr &&
        "$(registrations mcivtr.drv)" == "$NOT_REGISTERED" ]] &&
     grep -qi '^\[videotape1\]' "$(profile)" && ! grep -qi '^\[videotape\]' "$(profile)"; then
    pass "uninstall removes vcr1 and the [videotape] it added, and nothing else"
  else
    flunk "uninstall beside another driver: $(registrations mcivtr.drv)"; cat "$(profile)"
  fi
}

# Configuration dialogs through DRV_CONFIGURE (tests/wine/run_dialog_test.sh); runs while
# the package is installed, before the uninstall step.
dialogs() {
  local dialog_out dialog_status
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
}

if [[ $HAVE_DRIVER == 1 ]] && install_from_inf; then
  end_to_end
  dialogs
  uninstall_and_taken_name
else
  flunk "the Windows package did not build or install: end-to-end comparison not run"
fi

echo "$passed passed, $failed failed"
exit "$fail"
