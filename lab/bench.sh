#!/usr/bin/env bash
# make bench: every benchmark in one table, with the machine it ran on.
# The Windows programs run under Wine inside a test network of their own.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/build/bench"
mkdir -p "$OUT"
BUILD=$(bash "$ROOT/lab/test-build.sh")
export BIN="$BUILD/bin"

echo "machine: $(nproc) cores, $(free -h | awk '/Mem:/ {print $2}') memory, $(uname -sr)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Windows build: ${BUILD#$ROOT/}"
echo

bash "$ROOT/lab/in-lab.sh" bash "$ROOT/lab/with-wine.sh" --name bench -- bash -c '
    wine "$0/refresh_bench.exe" 300 2>/dev/null | tr -d "\r" > "$1/refresh.txt"
    wine "$0/monitor_bench.exe" 2>/dev/null | tr -d "\r" > "$1/monitor.txt"
' "$BIN" "$OUT"

bash "$ROOT/tests/win32/scan/run_in_lab.sh" --build "$BUILD" --devsim "$ROOT/build/native/bin/devsim" \
    -- --gtest_filter='*Scale*:*scale*' > "$OUT/scan.txt" 2>&1

# The data path is timed with optimised native tools (the test build has sanitizers).
NREL="$ROOT/build/native-release"
cmake -S "$ROOT" -B "$NREL" -DCMAKE_BUILD_TYPE=Release -DPARLO_SANITIZE=OFF >/dev/null &&
    cmake --build "$NREL" -j2 --target devsim parlo-paird >/dev/null ||
    { echo "bench: release build of devsim and parlo-paird failed" >&2; exit 1; }
NBIN="$NREL/bin" bash "$ROOT/bench/datapath.sh" > "$OUT/datapath.txt" 2>&1

echo "| benchmark | result |"
echo "|---|---|"
echo "| main list refresh pass, 128 rows | $(grep -m1 'refresh pass' "$OUT/refresh.txt" | sed 's/^refresh pass, 128 rows: //') |"
echo "| Monitor drain rate | $(grep -m1 'highest lossless' "$OUT/monitor.txt" | sed 's/^highest lossless paced rate: //') lossless |"
echo "| scan of 1024 devices | $(grep -m1 'scale.*1024 records' "$OUT/scan.txt" | sed 's/^.*replies 1 ms apart: //') |"
echo
# The data path's own table: ours beside socat, and the ratio.
grep -E '^\|' "$OUT/datapath.txt" || echo "(the data path benchmark printed no table: see $OUT/datapath.txt)"
echo
echo "details: $OUT"
