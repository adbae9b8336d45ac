#!/usr/bin/env bash
# Integration tier (real time, Wine): the Windows driver module mcivtr.drv,
# loaded by Wine's own winmm, which parses our command table and drives the
# driver, talking over pseudo-terminals to virtual decks (vtrsim).
#
#   1. parser probe: a stand-in driver carrying the same command table records
#      the flags and parameter blocks winmm builds (and what driver open and
#      MCI open receive); checked against tests/wine/probe_expected.txt.
#   2. install: the Windows package goes into the prefix through its INF, as a
#      user installs it; checked: modules, the program folder with the console
#      for both widths, vcr and vcr1..vcr9 registered with the text that names
#      their sections in every key and view Wine reads, [videotape] added, the
#      entry in Programs and Features.
#   3. the configuration dialogs (run_dialog_test.sh).
#   4. end to end: the same command script through the installed vtrctl.exe
#      (Wine, mcivtr.drv) and through vtrctl on POSIX, each against a fresh
#      vtrsim; the transcripts must match. Then again through vtrctl32.exe and
#      the x86 module when the 32-bit Wine (wine32:i386) is there; without it
#      the x86 module's exports and command table are compared with the x64's.
#   5. two decks from one program (x64 and x86): vcr1 on COM2 and vcr2 on COM3;
#      each seeks, then the player plays while the recorder records; the
#      transcript matches vtrctl's and the recorder's record map matches what
#      the same record leaves on a deck under vtrctl.
#   6. null parameter blocks sent with the console's .send (x64 and x86).
#   7. uninstall from Programs and Features: what the installer added goes,
#      what the driver changed in VTR.INI stays; then install and uninstall
#      while another driver holds "vcr".
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
# With wine32 installed, Debian's "wine" starts through the 32-bit loader; a
# kernel without 32-bit support refuses it, while wine64 still runs.
if [[ -n "$WINE_BIN" && -x /usr/lib/wine/wine64 ]] && ! "$WINE_BIN" --version >/dev/null 2>&1; then
  echo "NOTE: $WINE_BIN does not start (this kernel runs no 32-bit programs?); using /usr/lib/wine/wine64"
  WINE_BIN=/usr/lib/wine/wine64
fi
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
SIM_PIDS=()
cleanup() {
  ((${#SIM_PIDS[@]})) && kill "${SIM_PIDS[@]}" 2>/dev/null
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
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
flunk() { echo "FAIL: $*"; failed=$((failed + 1)); fail=1; }

# ---- build --------------------------------------------------------------------
echo "== building the mingw preset"
BIN="$ROOT/build/mingw/bin"
if ! (cd "$ROOT" && cmake --preset mingw >"$WORK/mingw-configure.log" 2>&1 &&
      cmake --build --preset mingw -j"$JOBS" --target vtrctl vtrprobe \
        >"$WORK/mingw-tools.log" 2>&1); then
  tail -40 "$WORK/mingw-configure.log" "$WORK/mingw-tools.log"
  echo "FAIL: mingw build of vtrctl and vtrprobe"
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
PROGRAMS="$WINEPREFIX/drive_c/Program Files/vtr422"
cp "$BIN/vtrprobe.drv" "$SYS32/"
cp "$BIN/vtrctl.exe" "$WORK/"

reg_add() {  # key value data (64-bit view, which the 64-bit programs read)
  "$WINE_BIN" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f /reg:64 >>"$WORK/reg.log" 2>&1
}
MCI_KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI'

winpath() { echo "Z:${1//\//\\}"; }

# ---- helpers ------------------------------------------------------------------
PKG=""
inf_run() {  # section
  "$WINE64" rundll32 setupapi.dll,InstallHinfSection "$1" 132 "$(winpath "$PKG/mcivtr.inf")" \
    >>"$WORK/setup.log" 2>&1
  "$WINESERVER" -w
}
# Device names whose value (without its parameters) is FILE, in key KEY (MCI32
# or MCI) of registry VIEW (64 or 32), one "name=value" per line.
values_for() {  # key view file
  "$WINE_BIN" reg query "HKLM\Software\Microsoft\Windows NT\CurrentVersion\\$1" "/reg:$2" \
    2>/dev/null | tr -d '\r' |
    awk -v f="$3" '$2 == "REG_SZ" && tolower($3) == tolower(f) {
      v = $3; for (i = 4; i <= NF; ++i) v = v " " $i; print $1 "=" v }'
}
# The registrations of FILE in every key and view the installer writes under
# Wine, as "MCI32/64: a=x,b=y | MCI32/32: ... | MCI/64: ... | MCI/32: ...".
registrations() {  # file
  local k v out=()
  for k in MCI32 MCI; do for v in 64 32; do
    out+=("$k/$v: $(values_for "$k" "$v" "$1" | LC_ALL=C sort | paste -sd,)")
  done; done
  local IFS='|'
  echo "${out[*]}"
}
# What the installer registers when every name is free, and from vcr1 on.
expected_registrations() {  # first number
  local n names=()
  for n in $(seq "$1" 9); do
    if ((n == 0)); then names+=("vcr=mcivtr.drv"); else names+=("vcr$n=mcivtr.drv videotape$n"); fi
  done
  local list
  list="$(printf '%s\n' "${names[@]}" | LC_ALL=C sort | paste -sd,)"
  echo "MCI32/64: $list|MCI32/32: $list|MCI/64: $list|MCI/32: $list"
}
NOT_REGISTERED="MCI32/64: |MCI32/32: |MCI/64: |MCI/32: "
# VTR.INI in the Windows directory, whatever the case of its name.
profile() { find "$WINDIR" -maxdepth 1 -iname vtr.ini | head -n1; }
put_profile() {  # file
  find "$WINDIR" -maxdepth 1 -iname vtr.ini -delete
  cp "$1" "$WINDIR/vtr.ini"
}
# One section of VTR.INI, CRs removed (empty when absent).
section_of() {  # name
  tr -d '\r' <"$(profile)" 2>/dev/null |
    awk -v s="[$1]" 'tolower($0) == tolower(s) { on = 1; next } /^\[/ { on = 0 } on'
}
uninstall_entry() { "$WINE64" uninstaller --list 2>/dev/null | tr -d '\r' | grep '^vtr422|'; }

install_from_inf() {
  PKG="$WORK/pkg/$(basename "$PACKAGE" .zip)"
  mkdir -p "$WORK/pkg"
  (cd "$WORK/pkg" && cmake -E tar xf "$PACKAGE") || { flunk "cannot unpack $PACKAGE"; return 1; }
  if [[ -s "$PKG/vtrctl.exe" && -s "$PKG/vtrctl32.exe" ]]; then
    pass "the package holds the console for x64 (vtrctl.exe) and x86 (vtrctl32.exe)"
  else
    flunk "the package lacks vtrctl.exe or vtrctl32.exe"
  fi
  echo "== installing $(basename "$PACKAGE") from its INF"
  inf_run DefaultInstall
  if cmp -s "$PKG/mcivtr.drv" "$SYS32/mcivtr.drv" &&
     cmp -s "$PKG/mcivtr32.drv" "$WINDIR/syswow64/mcivtr.drv"; then
    pass "INF copies the x64 module to system32 and the x86 one to syswow64"
  else
    flunk "INF did not copy the modules"; return 1
  fi
  local f missing=""
  for f in vtrctl.exe vtrctl32.exe mcivtr.inf vtrsetup.exe VTR.INI INSTALL.txt; do
    cmp -s "$PKG/$f" "$PROGRAMS/$f" || missing+=" $f"
  done
  if [[ -z "$missing" ]]; then
    pass "INF puts the console (both widths), itself and its helper in Program Files\\vtr422"
  else
    flunk "missing in Program Files\\vtr422:$missing"
  fi
  local got
  got="$(registrations mcivtr.drv)"
  if [[ "$got" == "$(expected_registrations 0)" ]]; then
    pass "INF registers vcr and vcr1..vcr9 with their sections' text in MCI32 and MCI, both views"
  else
    flunk "registrations are $got"
  fi
  if [[ "$(section_of videotape | paste -sd' ')" == "ComPort=2 VTRID=56" ]]; then
    pass "INF adds the sample's [videotape] (ComPort=2, VTRID=56) to a prefix without VTR.INI"
  else
    flunk "VTR.INI after the install: $(cat "$(profile)" 2>/dev/null)"
  fi
  if [[ "$(uninstall_entry)" == *"vtr422 MCI driver"* ]]; then
    pass "Programs and Features lists the driver ($(uninstall_entry | cut -d'|' -f4))"
  else
    flunk "no entry in Programs and Features"
  fi
}

# Runs a script through a console (default: the installed x64 one) with a
# fresh notification of what ran; CRs removed.
run_console() {  # script output [console]
  local console="${3:-$PROGRAMS/vtrctl.exe}"
  (cd "$WORK" && timeout 300 "$WINE_BIN" "$console" --keep-going --script "$(winpath "$1")" \
     >"$2" 2>>"$WORK/wine-stderr.log")
  sed -i 's/\r$//' "$2"
}

# ---- virtual decks ------------------------------------------------------------------
DEFAULT_BUILD="${VTR_POSIX_BUILD:-$ROOT/build/default}"
VTRSIM="$DEFAULT_BUILD/sim/vtrsim"
VTRCTL="$DEFAULT_BUILD/host/vtrctl"
declare -A PANEL_FD
need_posix_tools() {
  if [[ ! -x "$VTRSIM" || ! -x "$VTRCTL" ]]; then
    echo "== building vtrsim and vtrctl (default preset)"
    (cd "$ROOT" && { [[ -f "$DEFAULT_BUILD/build.ninja" ]] || cmake --preset default; } &&
     cmake --build --preset default -j"$JOBS" --target vtrsim vtrctl) \
      >"$WORK/default-build.log" 2>&1
  fi
  [[ -x "$VTRSIM" && -x "$VTRCTL" ]] && return 0
  tail -20 "$WORK/default-build.log" 2>/dev/null
  return 1
}
# A deck on a new pseudo-terminal (its path in PTY), its front panel on a pipe.
start_sim() {  # name
  local name="$1" fd
  rm -f "$WORK/panel.$name"
  mkfifo "$WORK/panel.$name"
  "$VTRSIM" <"$WORK/panel.$name" >"$WORK/vtrsim.$name.out" 2>"$WORK/vtrsim.$name.err" &
  SIM_PIDS+=($!)
  exec {fd}>"$WORK/panel.$name"
  PANEL_FD[$name]=$fd
  PTY=""
  for _ in $(seq 1 400); do  # up to 20 s on a busy machine
    PTY="$(head -n1 "$WORK/vtrsim.$name.out" 2>/dev/null)"
    [[ -n "$PTY" ]] && break
    sleep 0.05
  done
}
# What the deck recorded where, from its front panel.
recorded_on() {  # name
  local err="$WORK/vtrsim.$1.err" before
  before="$(wc -l <"$err")"
  echo recorded >&"${PANEL_FD[$1]}"
  sleep 0.5
  tail -n +"$((before + 1))" "$err"
}
stop_sims() {
  local name
  ((${#SIM_PIDS[@]})) && { kill "${SIM_PIDS[@]}" 2>/dev/null; wait "${SIM_PIDS[@]}" 2>/dev/null; }
  for name in "${!PANEL_FD[@]}"; do exec {PANEL_FD[$name]}>&-; done
  SIM_PIDS=()
  PANEL_FD=()
}
# Points Wine's COMn at a terminal; Wine maps ports when the prefix starts.
wine_ports() {  # COMn=path ...
  local p
  for p in "$@"; do reg_add 'HKLM\Software\Wine\Ports' "${p%%=*}" "${p#*=}"; done
  "$WINESERVER" -k; "$WINESERVER" -w
}
# Error texts are each library's own; the numbers must agree. Notifications
# that arrive together may come in either order: each run of them is sorted.
normalise() {
  sed -E 's/(error [0-9]+):.*/\1/' "$1" |
    awk '/^notify / { run[++n] = $0; next }
         { if (n) { flush() } print }
         function flush(   i, j, t) { for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j)
                                        if (run[j] < run[i]) { t = run[i]; run[i] = run[j]; run[j] = t }
                                      for (i = 1; i <= n; ++i) print run[i]; n = 0 }
         END { if (n) flush() }'
}
compare_transcripts() {  # posix wine what
  if [[ ! -s "$2" ]]; then
    flunk "$3: the console printed nothing under Wine"
  elif diff -u <(normalise "$1") <(normalise "$2") >"$2.diff"; then
    pass "$3 matches vtrctl ($(wc -l <"$2") lines)"
  else
    flunk "$3 and vtrctl differ (- vtrctl, + Wine):"
    cat "$2.diff"
  fi
}
HAVE_WINE32=0
check_wine32() {
  : >"$WORK/empty.txt"
  if (cd "$WORK" && timeout 120 "$WINE_BIN" "$PROGRAMS/vtrctl32.exe" --script \
        "$(winpath "$WORK/empty.txt")" >/dev/null 2>&1); then
    HAVE_WINE32=1
  else
    echo "NOTE: the 32-bit Wine (wine32:i386) is missing or does not start 32-bit programs:" \
         "the x86 module is checked by its exports and command table only"
  fi
}

# ---- 1. parser probe ------------------------------------------------------------
echo "== parser probe (winmm's layout of our command table)"
# The text after the file name: for the first device only the session's
# DRV_OPEN sees it, for later ones the device's own (as lParam1).
reg_add "$MCI_KEY" vcrprobe "vtrprobe.drv videotape7"
reg_add "$MCI_KEY" vcrprobe8 "vtrprobe.drv videotape8"
: >"$WORK/probe.log"
VTRPROBE_LOG="$(winpath "$WORK/probe.log")" run_console "$HERE/probe_commands.txt" \
  "$WORK/probe-vtrctl.txt" "$WORK/vtrctl.exe"
if diff -u "$HERE/probe_expected.txt" "$WORK/probe.log" >"$WORK/probe.diff"; then
  pass "winmm builds the parameter blocks the handlers read, and names devices as expected"
else
  flunk "parameter blocks differ from the expected layout (- expected, + Wine):"
  cat "$WORK/probe.diff"
fi
if diff -u "$HERE/probe_transcript_expected.txt" "$WORK/probe-vtrctl.txt" \
    >"$WORK/probe-transcript.diff"; then
  pass "winmm formats returns and delivers notifications as expected"
else
  flunk "probe transcript differs (- expected, + Wine):"
  cat "$WORK/probe-transcript.diff"
fi

# ---- 4. end to end against the virtual deck ----------------------------------------
end_to_end() {
  # Windows side: the profile is VTR.INI in the Windows directory, with the
  # [videotape] the installer added (the driver's detection changes it); COM2
  # is the deck's pseudo-terminal through Wine's port map.
  start_sim wine
  if [[ -z "$PTY" ]]; then
    flunk "vtrsim printed no pty path"
    stop_sims
    return
  fi
  wine_ports "COM2=$PTY"
  echo "== end to end under Wine (COM2 = $PTY)"
  run_console "$HERE/e2e_commands.txt" "$WORK/e2e-wine.txt"
  stop_sims

  # POSIX side: the same script and profile against a fresh deck.
  mkdir -p "$WORK/posix-profile"
  cp "$HERE/vtr.ini" "$WORK/posix-profile/VTR.INI"
  start_sim posix
  echo "== end to end through vtrctl (COM2 = $PTY)"
  VTR422_PROFILE_DIR="$WORK/posix-profile" timeout 300 "$VTRCTL" --port "COM2=$PTY" \
    <"$HERE/e2e_commands.txt" >"$WORK/e2e-posix.txt" 2>"$WORK/vtrctl.err"
  stop_sims
  compare_transcripts "$WORK/e2e-posix.txt" "$WORK/e2e-wine.txt" "Wine transcript (x64)"

  check_x86_module
  ((HAVE_WINE32)) || return
  # The x86 module: the 32-bit console, whose winmm reads the 32-bit registry
  # view and loads syswow64/mcivtr.drv.
  start_sim wine32
  wine_ports "COM2=$PTY"
  echo "== end to end under 32-bit Wine (COM2 = $PTY)"
  run_console "$HERE/e2e_commands.txt" "$WORK/e2e-wine32.txt" "$PROGRAMS/vtrctl32.exe"
  stop_sims
  compare_transcripts "$WORK/e2e-posix.txt" "$WORK/e2e-wine32.txt" \
    "32-bit Wine transcript (x86)"
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

# ---- 5. two decks from one program ---------------------------------------------------
TWO_DECKS_INI=$'[videotape1]\r\nComPort=2\r\n[videotape2]\r\nComPort=3\r\n'
two_decks_posix() {
  mkdir -p "$WORK/posix-two"
  printf '%s' "$TWO_DECKS_INI" >"$WORK/posix-two/VTR.INI"
  start_sim posix-player; local player="$PTY"
  start_sim posix-recorder; local recorder="$PTY"
  echo "== two decks through vtrctl (COM2 = $player, COM3 = $recorder)"
  VTR422_PROFILE_DIR="$WORK/posix-two" timeout 300 "$VTRCTL" --keep-going \
    --port "COM2=$player" --port "COM3=$recorder" \
    <"$HERE/two_decks.txt" >"$WORK/two-posix.txt" 2>"$WORK/vtrctl-two.err"
  recorded_on posix-recorder >"$WORK/two-posix.recorded"
  stop_sims
}
two_decks() {  # console width
  local console="$1" width="$2" out="$WORK/two-$2.txt"
  # The decks' sections beside what VTR.INI holds (from the first run on).
  grep -qi '^\[videotape1\]' "$(profile)" || printf '%s' "$TWO_DECKS_INI" >>"$(profile)"
  start_sim "player-$width"; local player="$PTY"
  start_sim "recorder-$width"; local recorder="$PTY"
  wine_ports "COM2=$player" "COM3=$recorder"
  echo "== two decks from one program, $width (COM2 = $player, COM3 = $recorder)"
  run_console "$HERE/two_decks.txt" "$out" "$console"
  recorded_on "recorder-$width" >"$out.recorded"
  recorded_on "player-$width" >"$out.player"
  stop_sims

  if [[ -s "$out" ]] && diff -u <(normalise "$WORK/two-posix.txt") <(normalise "$out") \
       >"$out.diff"; then
    if [[ -s "$out.recorded" ]] && diff -u "$WORK/two-posix.recorded" "$out.recorded" \
         >"$out.recorded.diff" && grep -q '^nothing recorded' "$out.player"; then
      pass "two decks from one program ($width): vcr1 on COM2 and vcr2 on COM3 seek, play and" \
           "record as under vtrctl; the recorder holds $(head -n1 "$out.recorded" | tr -s ' ')"
    else
      flunk "two decks ($width): record maps differ (- vtrctl's deck, + Wine's recorder):"
      cat "$out.recorded.diff"; echo "player: $(cat "$out.player")"
    fi
  else
    flunk "two decks from one program ($width) and vtrctl differ (- vtrctl, + Wine):"
    cat "$out.diff"
  fi
}

# ---- 6. null parameter blocks --------------------------------------------------------
null_blocks() {  # console width
  local out="$WORK/null-$2.txt"
  start_sim "null-$2"
  wine_ports "COM2=$PTY"
  run_console "$HERE/null_blocks.txt" "$out" "$1"
  stop_sims
  if diff -u "$HERE/null_blocks_expected.txt" <(sed -E 's/(error [0-9]+):.*/\1/' "$out") \
       >"$out.diff"; then
    pass "null parameter blocks ($2): play, status, set and shuttle answer 297, stop runs"
  else
    flunk "null parameter blocks ($2) (- expected, + Wine):"
    cat "$out.diff"
    echo "the deck (COM2 = ${PTY:-no pseudo-terminal}) said:"; tail -n 5 "$WORK/vtrsim.null-$2.err"
  fi
}

# ---- 7. uninstall; installing beside another driver's "vcr" ---------------------------
uninstall_and_taken_name() {
  echo "== uninstalling from Programs and Features"
  local before_other before_videotape
  before_other="$(section_of videotape1; section_of videotape2)"
  before_videotape="$(section_of videotape)"
  "$WINE64" uninstaller --remove vtr422 >>"$WORK/setup.log" 2>&1
  "$WINESERVER" -w
  # Checked before anything starts Wine again: each start runs the renames
  # and deletions a restart would.
  local left
  left="$(ls "$PROGRAMS" 2>&1)"
  if [[ "$left" == vtrsetup.exe ]] && "$WINE64" wineboot -r >/dev/null 2>&1 &&
     "$WINESERVER" -w && [[ ! -e "$PROGRAMS" ]]; then
    pass "the program folder goes: all but the running helper at once, the rest at the restart"
  else
    flunk "Program Files\\vtr422 after the uninstall: $left; after a restart: $(ls "$PROGRAMS" 2>&1)"
  fi
  if [[ ! -e "$SYS32/mcivtr.drv" && ! -e "$WINDIR/syswow64/mcivtr.drv" &&
        "$(registrations mcivtr.drv)" == "$NOT_REGISTERED" && -z "$(uninstall_entry)" ]]; then
    pass "uninstall from Programs and Features removes both modules, every registration and" \
         "its entry"
  else
    flunk "uninstall left files or registrations: $(registrations mcivtr.drv)"
  fi
  # [videotape] was added with ComPort=2 and VTRID=56; the driver's detection
  # has since written the model and every other key.
  if [[ "$(section_of videotape | grep -c '^VTRID=19$')" == 1 &&
        -z "$(section_of videotape | grep '^ComPort=')" &&
        "$(section_of videotape | wc -l)" == "$(($(wc -l <<<"$before_videotape") - 1))" &&
        "$(section_of videotape1; section_of videotape2)" == "$before_other" ]]; then
    pass "uninstall keeps the [videotape] the driver changed (VTRID=19 and its own keys), drops" \
         "only the unchanged ComPort=2 it added, and leaves other sections alone"
  else
    flunk "VTR.INI after the uninstall:"; cat "$(profile)"
  fi

  echo "== installing while another driver holds vcr"
  printf '[videotape2]\r\nComPort=3\r\n' >"$WORK/other.ini"
  put_profile "$WORK/other.ini"
  "$WINE_BIN" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI32' /v vcr \
    /t REG_SZ /d other.drv /f /reg:64 >>"$WORK/reg.log" 2>&1
  inf_run QuietInstall
  local got
  got="$(registrations mcivtr.drv)"
  if [[ "$got" == "$(expected_registrations 1)" ]] &&
     [[ "$(values_for MCI32 64 other.drv)" == "vcr=other.drv" ]] &&
     "$WINE_BIN" reg query 'HKLM\Software\vtr422' /v DeviceName /reg:64 2>/dev/null |
       grep -q 'vcr1' &&
     [[ "$(section_of videotape1 | paste -sd' ')" == "ComPort=2 VTRID=56" ]]; then
    pass "a vcr held by another driver stays its; vcr1..vcr9 are ours, [videotape1] added"
  else
    flunk "beside another driver's vcr: $got; VTR.INI: $(cat "$(profile)")"
  fi
  inf_run DefaultUninstall
  if [[ "$(values_for MCI32 64 other.drv)" == "vcr=other.drv" &&
        "$(registrations mcivtr.drv)" == "$NOT_REGISTERED" &&
        "$(section_of videotape2 | paste -sd' ')" == "ComPort=3" ]] &&
     ! grep -qi '^\[videotape1\]' "$(profile)"; then
    pass "uninstall removes vcr1..vcr9 and the unchanged [videotape1] it added, and nothing else"
  else
    flunk "uninstall beside another driver: $(registrations mcivtr.drv)"; cat "$(profile)"
  fi
}

# Configuration dialogs through DRV_CONFIGURE (tests/wine/run_dialog_test.sh).
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
  # The dialogs' test starts from an empty VTR.INI; the installed one comes back.
  cp "$(profile)" "$WORK/installed.ini"
  dialogs
  put_profile "$WORK/installed.ini"
  if need_posix_tools; then
    check_wine32
    end_to_end
    two_decks_posix
    two_decks "$PROGRAMS/vtrctl.exe" x64
    ((HAVE_WINE32)) && two_decks "$PROGRAMS/vtrctl32.exe" x86
    null_blocks "$PROGRAMS/vtrctl.exe" x64
    ((HAVE_WINE32)) && null_blocks "$PROGRAMS/vtrctl32.exe" x86
  else
    flunk "vtrsim or vtrctl not available: end-to-end, two-deck and null-block runs not made"
  fi
  uninstall_and_taken_name
else
  flunk "the Windows package did not build or install: end-to-end comparison not run"
fi

echo "$passed passed, $failed failed"
exit "$fail"
