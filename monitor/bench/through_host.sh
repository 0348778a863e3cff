#!/usr/bin/env bash
# The Monitor through the real host: devsim echoes one TCP port, the pair
# daemon and ParloHost carry COM45 to it, and monitor_bench shows that port
# while its own serial program writes single bytes to COM45 at full speed.
# Every record must be accounted for: shown, or dropped by the host and counted.
#
#   monitor/bench/through_host.sh BIN OUT SECONDS
#
# Runs inside a lab's PC namespace (lab/in-lab.sh) and a Wine session
# (lab/with-wine.sh); writes OUT/monitor-host.txt. Stops what it started.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BIN=$1
OUT=$2
SECS=${3:-10}
NBIN=${NBIN:-$ROOT/build/native/bin}
WORK=$(mktemp -d /tmp/parlo-monitor-host.XXXXXX)
DEV=10.231.1.1
LINK_CONNECTED=0x1000002
devsim_pid=""
host_pid=""

stop_all() {
    [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
    kill "$(cat "$WORK/paird.pid" 2>/dev/null)" 2>/dev/null
    [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap stop_all EXIT

pmauto() { wine "$BIN/pmauto.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
fail() { echo "through the host: $*" > "$OUT/monitor-host.txt"; exit 1; }

printf 'device sn=MONBENCH0001 ip=%s ports=1\nport 1 mode=tcp dport=4001\n' "$DEV" > "$WORK/devsim.conf"
bash "$ROOT/lab/netns.sh" exec "$PARLO_LAB_RUNID" dev "$NBIN/devsim" --config "$WORK/devsim.conf" \
    --control "$WORK/devsim.sock" --no-multicast > "$WORK/devsim.log" 2>&1 &
devsim_pid=$!
for _ in $(seq 50); do [ -S "$WORK/devsim.sock" ] && break; sleep 0.1; done
[ -S "$WORK/devsim.sock" ] || fail "devsim did not start"
"$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$WORK/paird.pid" --log "$WORK/paird.log" ||
    fail "the pair daemon did not start"
dir="$WINEPREFIX/drive_c/parlo"
mkdir -p "$dir"
cp "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$dir/"
(cd "$dir" && exec wine ParloHost.exe --console > "$WORK/host.log" 2>&1) &
host_pid=$!
pmauto table-wait 20000 >/dev/null || fail "ParloHost did not publish the table"
pmauto port-create 0 COM45 "$DEV" 4001 enable tcpc 0 >/dev/null
pmauto port-wait 0 state $LINK_CONNECTED 30000 >/dev/null || fail "COM45 did not connect"
wine "$BIN/monitor_bench.exe" host COM45 "$SECS" 2>/dev/null | tr -d '\r' > "$OUT/monitor-host.txt"
