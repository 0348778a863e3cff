#!/usr/bin/env bash
# make bench: every benchmark in one table, with the machine it ran on.
# The Windows programs run under Wine inside a test network of their own.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/build/bench"
rm -rf "$OUT/parts"
mkdir -p "$OUT/parts"
BUILD=$(bash "$ROOT/lab/test-build.sh")
export BIN="$BUILD/bin"

echo "machine: $(nproc) cores, $(free -h | awk '/Mem:/ {print $2}') memory, $(uname -sr)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Windows build: ${BUILD#$ROOT/}"
echo

# The simulator and the pair daemon run optimised (the test build has
# sanitizers): what is timed is ours, not the simulator's own speed.
NREL="$ROOT/build/native-release"
cmake -S "$ROOT" -B "$NREL" -DCMAKE_BUILD_TYPE=Release -DPARLO_SANITIZE=OFF >/dev/null &&
    cmake --build "$NREL" -j2 --target devsim parlo-paird >/dev/null ||
    { echo "bench: release build of devsim and parlo-paird failed" >&2; exit 1; }

# The manager's CPU with 128 live rows is read from /proc of its Wine process
# (Wine reports 0 for another process's times): ticks over 10 s of wall time.
bash "$ROOT/lab/in-lab.sh" bash "$ROOT/lab/with-wine.sh" --name bench -- bash -c '
    wine "$0/refresh_bench.exe" 300 2>/dev/null | tr -d "\r" > "$1/refresh.txt"
    wine "$0/monitor_bench.exe" 2>/dev/null | tr -d "\r" > "$1/monitor.txt"
    wine "$0/refresh_bench.exe" live 2>/dev/null &
    # The launcher execs the program: its own process, not one found by name
    # (other sessions on the machine may run a live list of their own).
    pid=$!
    sleep 8
    if grep -q "refresh_bench.exe" "/proc/$pid/cmdline" 2>/dev/null; then
        hz=$(getconf CLK_TCK)
        t0=$(awk "{print \$14 + \$15}" /proc/$pid/stat); s0=$(date +%s.%N)
        sleep 10
        t1=$(awk "{print \$14 + \$15}" /proc/$pid/stat); s1=$(date +%s.%N)
        awk -v a="$t0" -v b="$t1" -v s="$s0" -v e="$s1" -v hz="$hz" \
            "BEGIN { printf \"manager_cpu_128_rows_pct %.2f\\n\", (b - a) / hz / (e - s) * 100 }" > "$1/cpu.txt"
    fi
    kill "$pid" 2>/dev/null || true
    wait
' "$BIN" "$OUT"

# The Monitor through the real host: a serial program's single bytes, every record accounted for.
bash "$ROOT/lab/in-lab.sh" bash "$ROOT/lab/with-wine.sh" --name bench-monitor -- \
    bash "$ROOT/monitor/bench/through_host.sh" "$BIN" "$OUT" 10 >/dev/null 2>&1

bash "$ROOT/tests/win32/scan/run_in_lab.sh" --build "$BUILD" --devsim "$NREL/bin/devsim" \
    -- --gtest_filter='*Scale*:*scale*:*NoDeviceGivesAnEmptyList*' > "$OUT/scan.txt" 2>&1
# The burst of 1024 back-to-back replies five times over: the median and the
# slowest of the times from the last reply to its row.
bash "$ROOT/tests/win32/scan/run_in_lab.sh" --build "$BUILD" --devsim "$NREL/bin/devsim" \
    -- --gtest_filter='*BurstOfRepliesBackToBack*' --gtest_repeat=5 > "$OUT/scan-burst.txt" 2>&1
awk '$1 == "scan_burst_last_reply_to_listed_ms" { v[n++] = $2 + 0 }
     $1 == "scan_burst_last_reply_to_stored_ms" { s[m++] = $2 + 0 }
     function median(a, k,   i, j, t) {
         for (i = 0; i < k; i++) for (j = i + 1; j < k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
         return k ? a[int(k / 2)] : "null"
     }
     END {
         printf "scan_burst_runs %d\n", n
         printf "scan_burst_last_reply_to_stored_median_ms %s\n", median(s, m)
         printf "scan_burst_last_reply_to_listed_ms %s\n", median(v, n)
         printf "scan_burst_last_reply_to_listed_max_ms %s\n", n ? v[n - 1] : "null"
     }' "$OUT/scan-burst.txt" > "$OUT/scan-burst-figures.txt"

# The manager's keys for results.json.
mkdir -p "$OUT/parts"
key() { grep -m1 "^$1 " "$2" 2>/dev/null | awk '{print $2}'; }
printf '{"refresh_pass_mean_ms": %s, "manager_cpu_128_rows_pct": %s, "monitor_lossless_records_per_s": %s, "monitor_host_records_shown": %s, "monitor_host_records_dropped": %s, "monitor_host_accounted": %s, "scan_burst_1024_listed": %s, "scan_burst_runs": %s, "scan_burst_last_reply_to_listed_ms": %s, "scan_burst_last_reply_to_listed_max_ms": %s, "scan_burst_last_reply_to_stored_median_ms": %s, "scan_silence_end_ms": %s}\n' \
    "$(key refresh_pass_mean_ms "$OUT/refresh.txt" || true)" "$(key manager_cpu_128_rows_pct "$OUT/cpu.txt" || true)" \
    "$(key monitor_lossless_records_per_s "$OUT/monitor.txt" || true)" "$(key monitor_host_records_shown "$OUT/monitor-host.txt" || true)" \
    "$(key monitor_host_records_dropped "$OUT/monitor-host.txt" || true)" "$(key monitor_host_accounted "$OUT/monitor-host.txt" || true)" \
    "$(key scan_burst_1024_listed "$OUT/scan.txt" || true)" \
    "$(key scan_burst_runs "$OUT/scan-burst-figures.txt" || true)" \
    "$(key scan_burst_last_reply_to_listed_ms "$OUT/scan-burst-figures.txt" || true)" \
    "$(key scan_burst_last_reply_to_listed_max_ms "$OUT/scan-burst-figures.txt" || true)" \
    "$(key scan_burst_last_reply_to_stored_median_ms "$OUT/scan-burst-figures.txt" || true)" \
    "$(key scan_silence_end_ms "$OUT/scan.txt" || true)" | sed 's/: ,/: null,/g; s/: }/: null}/' > "$OUT/parts/manager.json"

NBIN="$NREL/bin" bash "$ROOT/bench/datapath.sh" > "$OUT/datapath.txt" 2>&1

# Faults held: the e2e soak at full length (make test runs 20 rounds).
soak_rounds=${BENCH_SOAK_ROUNDS:-200}
soak_started=$SECONDS
SOAK_ROUNDS=$soak_rounds SOAK_RECONNECT_MS=10000 NBIN="$NREL/bin" bash "$ROOT/lab/in-lab.sh" bash "$ROOT/lab/with-wine.sh" --name bench-soak --fresh -- \
    bash -c 'source "$0"; echo "E2E_COUNTS $e2e_passed $e2e_failed"' "$ROOT/tests/e2e/scenario_soak.sh" > "$OUT/soak.txt" 2>&1
soak_counts=$(grep -a '^E2E_COUNTS' "$OUT/soak.txt" | tail -1)
soak_failed=$(echo "$soak_counts" | awk '{ print ($3 == "" ? "null" : $3) }')
soak_reconnect=$(sed -n 's/^ *slowest reconnect of a round: \([0-9]*\) ms$/\1/p' "$OUT/soak.txt" | tail -1)
echo "{\"soak_rounds\": $soak_rounds, \"soak_failed_checks\": ${soak_failed:-null}, \"soak_reconnect_max_ms\": ${soak_reconnect:-null}, \"soak_seconds\": $((SECONDS - soak_started))}" > "$OUT/parts/soak.json"

echo "| benchmark | result |"
echo "|---|---|"
echo "| main list refresh pass, 128 rows | $(grep -m1 'refresh pass' "$OUT/refresh.txt" | sed 's/^refresh pass, 128 rows: //') |"
echo "| manager CPU with 128 live rows on screen, counters changing every 100 ms tick (% of one core, from /proc) | $(key manager_cpu_128_rows_pct "$OUT/cpu.txt" || echo '?') |"
echo "| Monitor drain rate | $(grep -m1 'highest lossless' "$OUT/monitor.txt" | sed 's/^highest lossless paced rate: //') lossless |"
echo "| Monitor through the host, single bytes for 10 s | $(sed -n 's/^  records shown: //p' "$OUT/monitor-host.txt" 2>/dev/null); accounted: $(sed -n 's/^  every record accounted for: //p' "$OUT/monitor-host.txt" 2>/dev/null) |"
echo "| scan of 1024 devices | $(grep -m1 'scale.*1024 records' "$OUT/scan.txt" | sed 's/^.*replies 1 ms apart: //') |"
echo "| scan, 1024 replies back to back, 5 runs: last reply to its row listed (aim: median 100 ms or less) | median $(key scan_burst_last_reply_to_listed_ms "$OUT/scan-burst-figures.txt") ms, slowest $(key scan_burst_last_reply_to_listed_max_ms "$OUT/scan-burst-figures.txt") ms; stored after $(key scan_burst_last_reply_to_stored_median_ms "$OUT/scan-burst-figures.txt") ms (median) |"
echo "| scan with no device: ends after the second of silence (aim: 1 s) | $(key scan_silence_end_ms "$OUT/scan.txt") ms |"
echo "| faults held: $soak_rounds rounds of 128 streaming ports, connections dropped or devices away | $(grep -a 'rounds in' "$OUT/soak.txt" | sed 's/^ *//'); failed checks: ${soak_failed:-?} (details: soak.txt) |"
echo
# The data path's own table: ours beside socat, and the ratio.
grep -E '^\|' "$OUT/datapath.txt" || echo "(the data path benchmark printed no table: see $OUT/datapath.txt)"
echo
# Every benchmark leaves its figures in parts/ as a flat JSON object; one object of them all.
awk 'FNR == 1 { sub(/^[ \t]*\{/, "") } { sub(/\}[ \t]*$/, ""); gsub(/^[ \t]+|[ \t]+$/, ""); if ($0 != "") body = body (body == "" ? "" : ", ") $0 }
     END { print "{" body "}" }' "$OUT"/parts/*.json > "$OUT/results.json" 2>/dev/null || echo "{}" > "$OUT/results.json"
echo "figures: $OUT/results.json"
echo "details: $OUT"
