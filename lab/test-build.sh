#!/usr/bin/env bash
# Prints the Windows build folder the test tiers run: build/win32, the i686
# build that ships, when a 32-bit program of it runs under Wine here;
# otherwise build/win64, with one line on stderr saying so. PARLO_TEST_BUILD,
# when set, is the answer (a run decides once and hands it down).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${PARLO_TEST_BUILD:-}" ]; then
    echo "$PARLO_TEST_BUILD"
    exit 0
fi
probe="$ROOT/build/win32/bin/serialprog.exe"
why=""
if [ ! -f "$probe" ]; then
    why="$probe is not built"
else
    # A prefix of its own, booted once; a console program needs no display.
    out=$(
        source "$ROOT/lab/wine-env.sh" probe
        mkdir -p "$WINEPREFIX"
        boot_prefix
        timeout 60 wine "$probe" 2>&1 | tr -d '\r'
        wineserver -k >/dev/null 2>&1
    )
    echo "$out" | grep -q '^usage: serialprog' || why="a 32-bit program does not run under Wine here"
fi
if [ -n "$why" ]; then
    echo "tests: $why: testing the x86_64 build (build/win64) instead of the shipped i686 build" >&2
    echo "$ROOT/build/win64"
else
    echo "$ROOT/build/win32"
fi
