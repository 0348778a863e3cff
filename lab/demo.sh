#!/usr/bin/env bash
# The headless demo of make run, inside the lab's PC namespace and a Wine
# session of its own (lab/with-wine.sh): the road of one request. Scan finds
# the device servers, Device Settings opens Configure Device, Map Serial Port
# makes COM5 for the device's first serial port, the host connects it, a
# serial program talks to the device through COM5, and the Monitor shows the
# traffic. Screenshots go to the folder given.
set -uo pipefail
source "$(dirname "$0")/../tests/e2e/lib.sh"
SHOTS=$1

say() { echo "demo: $*"; }
stop() { say "$*"; finish; exit 1; }
finish() {
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20 >/dev/null
    pmauto service-delete PARLOSVR >/dev/null
    [ -s "$WORK/paird.pid" ] && kill "$(cat "$WORK/paird.pid")" 2>/dev/null
}

# Waits up to $1 seconds for the list named by LIST (CLASS TITLE ID) to hold at least $2 rows.
wait_rows() {
    local end=$((SECONDS + $1)) rows
    while [ $SECONDS -lt $end ]; do
        rows=$(pmauto list "${LIST[@]}" | awk 'NR == 1 { print $2 }')
        [ "${rows:-0}" -ge "$2" ] && return 0
        sleep 0.3
    done
    return 1
}

use_virtual_desktop
install_binaries
cp "$BIN/serialprog.exe" "$PARLO_DIR/"
rm -f "$WORK/paird.pid"
"$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$WORK/paird.pid" --log "$WORK/paird.log"

start_manager parlo
pmauto wait-window PARLOMGR - 30000 >/dev/null || stop "the main window did not appear"
say "ParloMgr is up with its host service"
shot demo-1-main

SCAN=('#32770' 'Scan Online Devices')
pmauto command PARLOMGR 0 >/dev/null
pmauto wait-window "${SCAN[@]}" 5000 >/dev/null || stop "Scan Online Devices did not open"
LIST=("${SCAN[@]}" 1009)
wait_rows 10 3 || stop "the scan did not list the three device servers"
say "the scan lists:"
pmauto list "${LIST[@]}" | tail -n +3 | cut -f2- | sed 's/^/  /'
shot demo-2-scan

pmauto list-select "${LIST[@]}" 0 >/dev/null
pmauto click "${SCAN[@]}" 1015 >/dev/null
CONF=('#32770' 'Configure Device')
pmauto wait-window "${CONF[@]}" 10000 >/dev/null || stop "Configure Device did not open"
LIST=("${CONF[@]}" 1031)
wait_rows 5 1 || stop "Configure Device shows no serial port"
shot demo-3-configure-device

pmauto list-select "${LIST[@]}" 0 >/dev/null
pmauto click "${CONF[@]}" 1032 >/dev/null
AUTO=('#32770' 'Automatically create serial port')
pmauto wait-window "${AUTO[@]}" 5000 >/dev/null || stop "Automatically create serial port did not open"
pmauto combo-select "${AUTO[@]}" 1037 COM5 >/dev/null || stop "COM5 is not offered"
pmauto combo-select "${AUTO[@]}" 1038 "TCP Client" >/dev/null
shot demo-4-map-serial-port
pmauto click "${AUTO[@]}" 1 >/dev/null
pmauto wait-gone "${AUTO[@]}" 10000 || stop "the port was not created"
say "COM5 is mapped to DEMO00000001's first serial port"
sleep 1.5
shot demo-5-configure-device-mapped

# Closing Configure Device offers to reboot the device; the new settings are in already.
pmauto close "${CONF[@]}" >/dev/null
box=$(pmauto msgbox 5000 7) && say "asked on close: $(echo "$box" | cut -f2)"
pmauto wait-gone "${CONF[@]}" 5000
pmauto close "${SCAN[@]}" >/dev/null
pmauto wait-gone "${SCAN[@]}" 5000

state=""
for _ in $(seq 60); do
    state=$(pmauto list PARLOMGR - 1000 | awk -F'\t' '$2 == "COM5" { print $10 }')
    [ "$state" = "Connected" ] && break
    sleep 0.25
done
say "COM5 in the main list: ${state:-missing}"
shot demo-6-main-connected

pmauto list-select PARLOMGR - 1000 0 >/dev/null
pmauto command PARLOMGR 32777 >/dev/null
MON=('#32770' 'Monitor')
pmauto wait-window "${MON[@]}" 5000 >/dev/null || stop "the Monitor did not open"
pmauto click "${MON[@]}" 33000 >/dev/null
sleep 0.5
answer=$(wine "$PARLO_DIR/serialprog.exe" exchange COM5 115200 'hello device\r\n' 16 5000 1500 2>/dev/null | tr -d '\r' | head -1)
say "a serial program wrote \"hello device\" to COM5 and read back: $answer"
wine "$PARLO_DIR/serialprog.exe" exchange COM5 115200 'status?\r\n' 11 5000 2>/dev/null >/dev/null
sleep 1
LIST=("${MON[@]}" 1007)
pmauto list-select "${LIST[@]}" 1 >/dev/null
sleep 0.5
shot demo-7-monitor
pmauto click "${MON[@]}" 33001 >/dev/null
pmauto click "${MON[@]}" 1 >/dev/null
pmauto wait-gone "${MON[@]}" 5000
shot demo-8-main-counters
pmauto list PARLOMGR - 1000 | tail -n +3 | cut -f2- | sed 's/^/  /'
finish
say "done"
