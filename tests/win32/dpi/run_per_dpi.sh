#!/usr/bin/env bash
# Runs a win32 test program once at each display DPI, 96, 120, 144 and 192,
# in a Wine prefix of its own whose LogPixels (HKCU\Control Panel\Desktop) is
# set before each run: Wine reads it when a program starts, so no restart is
# needed between runs. Each run is told its DPI (PARLO_EXPECT_DPI) to check
# that Wine took it. Pictures the runs leave in build/dpi-shots become PNGs.
#
#   tests/win32/dpi/run_per_dpi.sh PROGRAM.exe [TEST-ARGS...]
#
# Needs a display (DISPLAY), as inside lab/with-wine.sh, whose session prefix
# it leaves alone: the prefix here is build/wine/<session prefix>-dpi (or
# build/wine/dpi), with a virtual desktop large enough for 192 DPI.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
[ $# -ge 1 ] || { echo "usage: run_per_dpi.sh PROGRAM.exe [TEST-ARGS...]" >&2; exit 2; }
PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
[ -f "$PROGRAM" ] || { echo "run_per_dpi: $PROGRAM not built" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "run_per_dpi: no DISPLAY (run it inside lab/with-wine.sh)" >&2; exit 2; }

session=$(basename "${WINEPREFIX:-}")
source "$ROOT/lab/wine-env.sh" "${session:+$session-}dpi"
mkdir -p "$WINEPREFIX"
add_prefix_fonts
boot_prefix
if ! grep -q '^"Default"="2560x1600"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 2560x1600 /f >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
fi
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
start_wineserver || { echo "run_per_dpi: the wineserver did not start" >&2; exit 1; }

SHOTS=$ROOT/build/dpi-shots
failed=0
for dpi in 96 120 144 192; do
    echo "== $dpi DPI"
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    PARLO_EXPECT_DPI=$dpi wine "$PROGRAM" "$@" 2>&1 | tr -d '\r'
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || { echo "run_per_dpi: failed at $dpi DPI (exit $rc)"; failed=1; }
done
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1

for bmp in "$SHOTS"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
[ -d "$SHOTS" ] && echo "run_per_dpi: pictures at 144 DPI in ${SHOTS#$ROOT/}"
exit $failed
