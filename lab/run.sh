#!/usr/bin/env bash
# make run: the whole product in a lab of its own. Three simulated device
# servers answer in the device namespace; in the PC namespace the pair
# daemon backs the virtual COM ports and ParloMgr runs under Wine with its
# host service ParloHost.
#
# With a display (DISPLAY set, PARLO_HEADLESS unset) the manager opens there
# and everything stays up until you close it; its Wine prefix
# (build/wine/run) keeps the ports you made for the next time. Headless, a
# demo walks the road of one request on a virtual display and writes
# screenshots to build/demo. Everything started here is stopped on exit and
# the lab is taken down. Needs root (network namespaces).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BIN="$(bash "$ROOT/lab/test-build.sh")/bin"
export NBIN="$ROOT/build/native/bin"
SHOTS="$ROOT/build/demo"
WORK="$ROOT/build/run"
mkdir -p "$WORK"

[ "$(id -u)" -eq 0 ] || { echo "make run: needs root for the lab's network namespaces" >&2; exit 2; }
for f in "$BIN/ParloMgr.exe" "$BIN/pmauto.exe" "$NBIN/devsim" "$NBIN/parlo-paird"; do
    [ -e "$f" ] || { echo "make run: $f is not built" >&2; exit 2; }
done

NETNS="bash $ROOT/lab/netns.sh"
RUNID="run$$"
DEVSIM_SOCK="$WORK/devsim.sock"
devsim_pid=""

teardown() {
    if [ -n "$devsim_pid" ]; then kill "$devsim_pid" 2>/dev/null; wait "$devsim_pid" 2>/dev/null; fi
    $NETNS down "$RUNID" >/dev/null 2>&1
}
trap teardown EXIT
trap 'exit 130' INT TERM

$NETNS up "$RUNID" >/dev/null || { echo "make run: could not build the lab" >&2; exit 1; }

# Three device servers: two serial ports each (an echo with a prompt over
# TCP, a plain echo over UDP); the third wants its own credentials.
cat > "$WORK/devsim.conf" <<'EOF'
device sn=DEMO00000001 ip=10.231.1.1 model=PS-210 fw=3.1.7 ports=2 auth=any
port 1 mode=tcp dport=4001 baud=115200 prefix=>\s
port 2 mode=udp dport=4002 baud=9600
device sn=DEMO00000002 ip=10.231.1.2 model=PS-210 fw=3.1.7 ports=2 auth=any
port 1 mode=tcp dport=4001 baud=115200 prefix=>\s
port 2 mode=udp dport=4002 baud=9600
device sn=DEMO00000003 ip=10.231.1.3 model=PS-410 fw=3.2.1 ports=4 auth=check user=admin pass=parlo
port all mode=tcp baud=19200 prefix=>\s
EOF
rm -f "$DEVSIM_SOCK"
$NETNS exec "$RUNID" dev "$NBIN/devsim" --config "$WORK/devsim.conf" --control "$DEVSIM_SOCK" \
    > "$WORK/devsim.log" 2>&1 &
devsim_pid=$!
for _ in $(seq 50); do [ -S "$DEVSIM_SOCK" ] && break; sleep 0.1; done
[ -S "$DEVSIM_SOCK" ] || { echo "make run: devsim did not start (see $WORK/devsim.log)" >&2; exit 1; }
echo "lab up: PC 10.231.0.1, device servers DEMO00000001-3 at 10.231.1.1-3 (the third: user admin, password parlo)"

if [ -n "${DISPLAY:-}" ] && [ -z "${PARLO_HEADLESS:-}" ]; then
    $NETNS exec "$RUNID" pc env DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" BIN="$BIN" NBIN="$NBIN" \
        WORK="$WORK" bash "$ROOT/lab/session.sh"
    exit $?
fi

rm -rf "$SHOTS"
mkdir -p "$SHOTS"
$NETNS exec "$RUNID" pc env BIN="$BIN" NBIN="$NBIN" WORK="$WORK" DEVSIM_SOCK="$DEVSIM_SOCK" \
    bash "$ROOT/lab/with-wine.sh" --name demo --fresh -- bash "$ROOT/lab/demo.sh" "$SHOTS" 2> "$WORK/demo-wine.log"
rc=$?
echo "demo screenshots in $SHOTS:"
ls "$SHOTS"
exit $rc
