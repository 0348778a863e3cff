#!/usr/bin/env bash
# The interactive part of make run, inside the lab's PC namespace: ParloMgr
# in a Wine window on your display, with the pair daemon behind its COM
# ports. Returns when the manager is closed; the service and the daemon are
# stopped then, the prefix (and the ports made in it) is kept.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/lab/wine-env.sh" run

paird_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1
    [ -n "$paird_pid" ] && kill "$paird_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

add_prefix_fonts
mkdir -p "$WINEPREFIX"
boot_prefix
start_wineserver
rm -f "$WORK/paird.pid"
"$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$WORK/paird.pid" --log "$WORK/paird.log" --state "$WORK/paird.state"
for _ in $(seq 30); do [ -s "$WORK/paird.pid" ] && break; sleep 0.1; done
paird_pid=$(cat "$WORK/paird.pid" 2>/dev/null)

mkdir -p "$WINEPREFIX/drive_c/parlo"
cp "$BIN/ParloMgr.exe" "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$BIN/serialprog.exe" "$WINEPREFIX/drive_c/parlo/"
cat <<EOF
ParloMgr is starting on $DISPLAY. Try: Device > Scan Devices, pick a device,
Device Settings, Map Serial Port; then talk to the device through its COM port:
  WINEPREFIX=$WINEPREFIX ip netns exec $(ip netns identify $$) \\
    wine C:\\\\parlo\\\\serialprog.exe exchange COM5 115200 'hello\r\n' 9 3000
Close the main window to end.
EOF
cd "$WINEPREFIX/drive_c/parlo" && wine ParloMgr.exe
