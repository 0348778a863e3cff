#!/usr/bin/env bash
# Runs a win32 test suite (win32_scan_tests.exe unless --suite says another)
# under Wine inside a lab of its own, against devsim.
#
#   tests/win32/scan/run_in_lab.sh [--suite NAME] [--build DIR] [--devsim PATH] [-- TEST-ARGS...]
#
#   --suite NAME    run bin/win32_NAME_tests.exe (default scan); other suites'
#                   run_in_lab.sh call this script with their name
#   --build DIR     MinGW build tree holding the test program (default: the
#                   one lab/test-build.sh picks)
#   --devsim PATH   native devsim binary (default build/native/bin/devsim)
#   TEST-ARGS       passed to the test program (e.g. --gtest_filter=ScanLab.*)
#
# The lab (lab/netns.sh, a RUNID of its own) gets the whole Wine session in
# its PC namespace and devsim in its device namespace. The tests ask for
# devsim restarts, control commands and screenshots by writing request files
# into a relay folder (PARLO_LAB_RELAY); a loop here answers them. Each suite
# has its own Wine prefix (build/wine/NAME-lab); screenshots land in
# BUILD/NAME-lab-shots. Everything started here is stopped on exit, whatever
# the outcome, and the lab is taken down. Needs root.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
SUITE=scan
BUILD=""
DEVSIM=$ROOT/build/native/bin/devsim
while [ $# -gt 0 ]; do
    case "$1" in
        --suite) SUITE=$2; shift 2 ;;
        --build) BUILD=$(cd "$2" && pwd); shift 2 ;;
        --devsim) DEVSIM=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "run_in_lab: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -n "$BUILD" ] || BUILD=$(bash "$ROOT/lab/test-build.sh")
# The name goes into paths and the lab's RUNID (at most 24 characters with the pid).
[[ "$SUITE" =~ ^[a-z0-9_]{1,16}$ ]] || { echo "run_in_lab: suite must be 1-16 of [a-z0-9_]" >&2; exit 2; }
EXE=$BUILD/bin/win32_${SUITE}_tests.exe
[ "$(id -u)" -eq 0 ] || { echo "run_in_lab: needs root" >&2; exit 2; }
[ -f "$EXE" ] || { echo "run_in_lab: $EXE not built" >&2; exit 2; }
[ -x "$DEVSIM" ] || { echo "run_in_lab: $DEVSIM not built" >&2; exit 2; }

NETNS="bash $ROOT/lab/netns.sh"
RUNID="$SUITE$$"
PREFIX_NAME=$SUITE-lab
WORK=$(mktemp -d "/tmp/parlo-$SUITE-lab.XXXXXX")
RELAY=$WORK/relay
SHOTS=$BUILD/$SUITE-lab-shots
CONF=$WORK/devsim.conf
CTL=$WORK/devsim.sock
DEVSIM_LOG=$WORK/devsim.log
DEVSIM_PID=$WORK/devsim.pid
mkdir -p "$RELAY" "$SHOTS" "$ROOT/build/wine"

relay_pid=""
test_pid=""
lab_up=0

stop_devsim() {
    local pid
    pid=$(cat "$DEVSIM_PID" 2>/dev/null || true)
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 40); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$DEVSIM_PID" "$CTL"
}

cleanup() {
    set +e
    # Wine first, so the runner inside stops its own display cleanly.
    if [ -n "$test_pid" ] && kill -0 "$test_pid" 2>/dev/null; then
        WINEPREFIX="$ROOT/build/wine/$PREFIX_NAME" wineserver -k >/dev/null 2>&1
        for _ in $(seq 50); do
            kill -0 "$test_pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    if [ -n "$relay_pid" ]; then
        touch "$WORK/stop"
        for _ in $(seq 100); do
            kill -0 "$relay_pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL "$relay_pid" 2>/dev/null
        wait "$relay_pid" 2>/dev/null
    fi
    stop_devsim
    # Ends whatever is left inside (Wine, Xvfb) and deletes the namespaces.
    if [ "$lab_up" = 1 ]; then $NETNS down "$RUNID"; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# One run at a time per Wine prefix: its wineserver must start inside our lab.
exec 9>"$ROOT/build/wine/$PREFIX_NAME.lock"
flock -w 900 9 || { echo "run_in_lab: another run holds the prefix" >&2; exit 1; }
WINEPREFIX="$ROOT/build/wine/$PREFIX_NAME" wineserver -k >/dev/null 2>&1 || true

# Starts devsim in the device namespace with the config in $CONF.
start_devsim() {
    stop_devsim
    : > "$DEVSIM_LOG"
    # shellcheck disable=SC2086 # the extra words are meant to split
    $NETNS exec "$RUNID" dev "$DEVSIM" --config "$CONF" --control "$CTL" $1 >"$DEVSIM_LOG" 2>&1 9>&- &
    echo $! > "$DEVSIM_PID"
    for _ in $(seq 200); do
        grep -q '^devsim ready' "$DEVSIM_LOG" && return 0
        kill -0 "$(cat "$DEVSIM_PID")" 2>/dev/null || break
        sleep 0.05
    done
    cat "$DEVSIM_LOG"
    stop_devsim
    return 1
}

# Answers one request file; prints the exit status, then the output.
answer() {
    local req=$1 verb out rc
    verb=$(sed -n 1p "$req")
    case "$verb" in
    ctl)
        set +e
        out=$("$DEVSIM" --ctl "$CTL" "$(sed -n 2p "$req")" 2>&1)
        rc=$?
        set -e
        echo "$rc"; printf '%s\n' "$out"
        ;;
    devsim)
        tail -n +3 "$req" > "$CONF"
        set +e
        out=$(start_devsim "$(sed -n 2p "$req")" 2>&1)
        rc=$?
        set -e
        echo "$rc"; printf '%s\n' "$out"
        ;;
    stop)
        stop_devsim
        echo 0
        ;;
    shot)
        local display name
        display=$(sed -n 2p "$req")
        name=$(sed -n 3p "$req" | tr -cd 'A-Za-z0-9_-')
        if [ -n "$name" ] && import -display "$display" -window root "$SHOTS/$name.png" 2>/dev/null; then
            echo 0; echo "$SHOTS/$name.png"
        else
            echo 1; echo "screenshot failed"
        fi
        ;;
    *)
        echo 2; echo "unknown request '$verb'"
        ;;
    esac
}

# The loop looks for requests every 10 ms. Its pause is a read that times
# out on a pipe nobody writes: a sleep process every 10 ms would take a fifth
# of a core from the tests it serves. It ends when the stop file appears.
relay_loop() {
    mkfifo "$WORK/tick"
    exec 7<>"$WORK/tick"
    while [ ! -e "$WORK/stop" ]; do
        for req in "$RELAY"/req-*.txt; do
            [ -e "$req" ] || continue
            local n=${req##*/req-}
            n=${n%.txt}
            answer "$req" > "$RELAY/resp-$n.tmp" 2>&1 || true
            rm -f "$req"
            mv "$RELAY/resp-$n.tmp" "$RELAY/resp-$n.txt"
        done
        read -r -t 0.01 -u 7 _ || true
    done
}

$NETNS up "$RUNID" >/dev/null
lab_up=1
relay_loop 9>&- &
relay_pid=$!

# Windows get their frames from a Wine virtual desktop (Xvfb has no window
# manager), so screenshots show captions as a user sees them.
inner='wine reg add "HKCU\Software\Wine\Explorer" /v Desktop /d Default /f >/dev/null 2>&1
wine reg add "HKCU\Software\Wine\Explorer\Desktops" /v Default /d 1280x800 /f >/dev/null 2>&1
start_wineserver
exe=$1; shift
exec wine "$exe" "$@"'
# In the background, so a signal reaches the traps at once.
PARLO_LAB_RELAY=$RELAY $NETNS exec "$RUNID" pc \
    bash "$ROOT/lab/with-wine.sh" --name "$PREFIX_NAME" -- bash -c "$inner" inner "$EXE" "$@" 9>&- &
test_pid=$!
set +e
wait "$test_pid"
rc=$?
set -e
test_pid=""
echo "run_in_lab: $SUITE tests exited with $rc; screenshots in $SHOTS"
exit $rc
