#!/usr/bin/env bash
# make run: ParloMgr with its host under Wine. With a display, the manager
# opens there and stays until you close it. Headless, a demo walks the main
# window on a virtual display and writes screenshots.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN="$ROOT/build/win64/bin"
SHOTS="$ROOT/build/demo"
mkdir -p "$SHOTS"

if [ -n "${DISPLAY:-}" ] && [ -z "${PARLO_HEADLESS:-}" ]; then
    export WINEPREFIX="$ROOT/build/wine/run"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
    mkdir -p "$WINEPREFIX/drive_c/parlo"
    cp "$BIN/ParloMgr.exe" "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$WINEPREFIX/drive_c/parlo/"
    cd "$WINEPREFIX/drive_c/parlo"
    exec wine ParloMgr.exe
fi

bash "$ROOT/lab/with-wine.sh" --name demo --fresh -- bash "$ROOT/lab/demo.sh" "$SHOTS"
echo "demo screenshots in $SHOTS:"
ls "$SHOTS"
