#!/usr/bin/env bash
# Runs a command with a Wine prefix of its own and a virtual display of its
# own, then stops exactly what it started.
#
#   lab/with-wine.sh [--name NAME] [--fresh] [--keep-display] -- COMMAND...
#
# The prefix lives in build/wine/NAME (booted once, then reused; --fresh makes
# a new one). Inside COMMAND: WINEPREFIX, DISPLAY and PARLO_XVFB_PID are set.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
name=default
fresh=0
while [ $# -gt 0 ]; do
    case "$1" in
        --name) name=$2; shift 2 ;;
        --fresh) fresh=1; shift ;;
        --) shift; break ;;
        *) echo "with-wine: unknown option $1" >&2; exit 2 ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: with-wine.sh [--name N] [--fresh] -- COMMAND..." >&2; exit 2; }

source "$ROOT/lab/wine-env.sh" "$name"

xvfb_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display number nobody uses: no lock file and no socket.
for n in $(seq 91 190); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 1 100); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
            export DISPLAY=":$n"
            break
        fi
        xvfb_pid=""
    fi
done
[ -n "${DISPLAY:-}" ] && [ -n "$xvfb_pid" ] || { echo "with-wine: no free display" >&2; exit 1; }
export PARLO_XVFB_PID=$xvfb_pid

if [ "$fresh" = 1 ]; then rm -rf "$WINEPREFIX"; fi
add_prefix_fonts
mkdir -p "$WINEPREFIX"
boot_prefix
# Windows live on a Wine virtual desktop: it has a window manager of its own,
# so activation, focus and keyboard input behave as on Windows.
if ! grep -q '^"Desktop"="Default"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
fi

start_wineserver || echo "with-wine: the wineserver did not start" >&2
set +e
"$@"
rc=$?
set -e
exit $rc
