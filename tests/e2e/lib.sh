# Shared helpers of the e2e scenarios: the manager under Wine driven by pmauto.
# Sourced inside lab/with-wine.sh, so WINEPREFIX and DISPLAY are set.

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
BIN=${BIN:-$ROOT/build/win64/bin}
SHOTS=${SHOTS:-$ROOT/build/e2e/shots}
DRIVE_C="$WINEPREFIX/drive_c"
PARLO_DIR="$DRIVE_C/parlo"
mkdir -p "$SHOTS"

e2e_passed=0
e2e_failed=0

pass() { e2e_passed=$((e2e_passed + 1)); echo "  ok: $*"; }
fail() { e2e_failed=$((e2e_failed + 1)); echo "  FAILED: $*"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
expect_eq() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi; }

pmauto() { wine "$BIN/pmauto.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

shot() { /usr/bin/import -display "$DISPLAY" -window root "$SHOTS/$1.png" 2>/dev/null && echo "  screenshot: $SHOTS/$1.png"; }

# The manager inside a Wine virtual desktop, where keyboard input from
# another program reaches it.
use_virtual_desktop() {
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # The desktop is chosen when Wine starts: begin a new session.
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
}

install_binaries() {
    mkdir -p "$PARLO_DIR"
    cp "$BIN/ParloMgr.exe" "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$PARLO_DIR/"
}

# Starts ParloMgr.exe from folder $1 (relative to C:\); sets manager_pid.
start_manager() {
    (cd "$DRIVE_C/$1" && exec wine ParloMgr.exe) &
    manager_pid=$!
}

# Waits up to $1 seconds for the manager to end; sets manager_rc.
wait_manager() {
    local limit=$(( $1 * 10 ))
    for _ in $(seq 1 "$limit"); do
        if ! kill -0 "$manager_pid" 2>/dev/null; then
            wait "$manager_pid"; manager_rc=$?
            return 0
        fi
        sleep 0.1
    done
    kill "$manager_pid" 2>/dev/null; wait "$manager_pid" 2>/dev/null
    manager_rc=timeout
    return 1
}
