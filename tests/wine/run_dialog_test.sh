#!/usr/bin/env bash
# Wine tier, configuration dialogs: vtrdlg.exe sends DRV_CONFIGURE to the
# loaded mcivtr.drv, drives the three dialogs with window messages and checks
# VTR.INI. Wine needs an X display for windows: the test runs on a private
# Xvfb and photographs each dialog into build/mingw/screenshots.
#
# Called by run_wine_tier.sh with WINE_BIN, WINESERVER, WINEPREFIX (prepared,
# mcivtr.drv in system32), BIN (the mingw bin folder) and WORK (scratch).
# Exit 0 when passed or skipped ("SKIP: ..."), 1 when failed.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
: "${WINE_BIN:?}" "${WINESERVER:?}" "${WINEPREFIX:?}" "${BIN:?}" "${WORK:?}"

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "SKIP: Xvfb not installed (apt-get install xvfb): no display for the configuration dialogs"
  exit 0
fi
if [[ ! -f "$BIN/vtrdlg.exe" ]]; then
  echo "FAIL: vtrdlg.exe was not built"
  exit 1
fi

DLG="$WORK/dialogs"
SHOTS="$DLG/shots"
OUT="$ROOT/build/mingw/screenshots"
rm -rf "$SHOTS"
mkdir -p "$SHOTS" "$OUT"
cp "$BIN/vtrdlg.exe" "$DLG/"
XVFB_PID=""
SHOOTER_PID=""
finish() {
  [[ -n "$SHOOTER_PID" ]] && kill "$SHOOTER_PID" 2>/dev/null
  [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null
}
trap finish EXIT

# /reg:64: with 32-bit Wine installed "wine reg" is the 32-bit tool, which
# would write the 32-bit view.
reg() { "$WINE_BIN" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f /reg:64 >>"$DLG/reg.log" 2>&1; }
# COM2 and COM5 open for sure (each open of /dev/ptmx is a new terminal);
# what else opens is Wine's and the machine's (vtrdlg compares the list with
# its own opens).
reg 'HKLM\Software\Wine\Ports' COM2 /dev/ptmx
reg 'HKLM\Software\Wine\Ports' COM5 /dev/ptmx
# No window manager: Wine draws the captions and frames itself.
reg 'HKCU\Software\Wine\X11 Driver' Managed N
reg 'HKCU\Software\Wine\X11 Driver' Decorated N
"$WINESERVER" -k
"$WINESERVER" -w
rm -f "$WINEPREFIX/drive_c/windows/vtr.ini" "$WINEPREFIX/drive_c/windows/VTR.INI"

# A private display: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -br -nolisten tcp 3>"$DLG/display" 2>"$DLG/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 1 100); do [[ -s "$DLG/display" ]] && break; sleep 0.05; done
if [[ ! -s "$DLG/display" ]]; then
  cat "$DLG/xvfb.log"
  echo "FAIL: Xvfb did not start"
  exit 1
fi
export DISPLAY=":$(head -n1 "$DLG/display")"

# The photographer: answers each NAME.req (which holds the window's title)
# with a picture of that window, or of the screen cropped when it is not found.
(
  while :; do
    for req in "$SHOTS"/*.req; do
      [[ -e "$req" ]] || continue
      name="$(basename "$req" .req)"
      if command -v import >/dev/null 2>&1; then
        import -window "$(cat "$req")" "$OUT/config-$name.png" 2>>"$DLG/import.log" ||
          import -window root -trim +repage "$OUT/config-$name.png" 2>>"$DLG/import.log"
      fi
      rm -f "$req"
      : >"$SHOTS/$name.done"
    done
    sleep 0.1
  done
) &
SHOOTER_PID=$!
command -v import >/dev/null 2>&1 ||
  echo "note: ImageMagick not installed (apt-get install imagemagick): no screenshots"

echo "== configuration dialogs under Wine (DISPLAY=$DISPLAY)"
(cd "$DLG" && timeout 240 "$WINE_BIN" vtrdlg.exe -shots "Z:${SHOTS//\//\\}" \
   2>>"$DLG/wine-stderr.log") | sed 's/\r$//' | tee "$DLG/vtrdlg.txt"
status=${PIPESTATUS[0]}
if [[ $status -ne 0 ]]; then
  tail -20 "$DLG/wine-stderr.log"
  exit 1
fi
ls "$OUT"/config-*.png 2>/dev/null | sed 's/^/screenshot: /'
exit 0
