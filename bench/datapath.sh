#!/usr/bin/env bash
# Data-path benchmark, in a test network of its own (root needed for it).
#
# Ours: serialprog under Wine on COM ports -> pair daemon -> ParloHost ->
# lab network -> devsim's echoing serial ports. Beside it, in the same run:
# socat relaying a Linux pty to the same kind of devsim port, driven by
# bench/pty_client (the same message sizes, window and durations). For 1 and
# 128 ports over TCP, and 1 port over UDP: echoed throughput (every byte
# checked) and round trips of 16-byte messages. Then the Windows side alone
# (the host stopped, a native echo on the pairs' far ends), the 921,600-baud
# floor (every one of 128 ports at 92,160 bytes/s or more), and CPU: idle with
# 128 ports connected, and while they stream.
#
#   bench/datapath.sh          (as root; prints "|" table rows and details)
#
# Environment: NBIN (devsim, parlo-paird; default build/native/bin), BIN (the
# Windows build's bin folder; default the one lab/test-build.sh picks), DP_BENCH_WORK (work folder,
# default build/bench/datapath), DP_SECONDS (each measurement, default 5),
# DP_ROUNDS (how often the 128-port throughput runs, default 3: the run with
# the median slowest port counts), DP_PATHS (which paths to run, default
# "ours socat"), DP_RESULTS (the figures as JSON, default
# build/bench/parts/datapath.json).
set -uo pipefail
SELF=$(readlink -f "${BASH_SOURCE[0]}")
ROOT=$(cd "$(dirname "$SELF")/.." && pwd)
export NBIN=${NBIN:-$ROOT/build/native/bin}
export BIN=${BIN:-$(bash "$ROOT/lab/test-build.sh")/bin}
export DP_BENCH_WORK=${DP_BENCH_WORK:-$ROOT/build/bench/datapath}
export DP_SECONDS=${DP_SECONDS:-5}
DP_RESULTS=${DP_RESULTS:-$ROOT/build/bench/parts/datapath.json}
DP_PATHS=${DP_PATHS:-ours socat}
WORK=$DP_BENCH_WORK
SECS=$DP_SECONDS
ROUNDS=${DP_ROUNDS:-3}
PORTS=128
PER_DEVICE=32
FIRST_COM=41
FIRST_DEV=10.231.1.1
UDP_DEV=10.231.1.5
FIRST_RPORT=4001
FLOOR_BPS=92160              # 921,600 baud at 10 bits a byte
IDLE_SECONDS=5
LINK_CONNECTED=0x1000002

note() { echo "$*"; }

# ---- measuring CPU from /proc ----

# CPU ticks (user + system) of one process into TICKS; fails when it is gone.
# Builtins only, no subshells: with 128 processes the samples must be quick.
cpu_ticks() {
    local s
    { read -r s < "/proc/$1/stat"; } 2>/dev/null || return 1
    s=${s##*) }
    # shellcheck disable=SC2086
    set -- $s
    TICKS=$(( ${12} + ${13} ))
}

# Ticks summed over a comma-separated list of process ids into GROUP_TICKS;
# "-" when a process is missing (it ended, or was never found).
group_ticks() {
    local sum=0 p
    GROUP_TICKS=-
    [ -n "$1" ] || return
    for p in ${1//,/ }; do
        cpu_ticks "$p" || return
        sum=$((sum + TICKS))
    done
    GROUP_TICKS=$sum
}

# Over $1 seconds, the percent of one core used by each group NAME=PID,PID...
# given after it; prints "NAME PERCENT" lines ("-" for a group that changed).
cpu_percent() {
    local seconds=$1 g i=0 hz
    shift
    local before=() after=()
    for g in "$@"; do group_ticks "${g#*=}"; before+=("$GROUP_TICKS"); done
    sleep "$seconds"
    for g in "$@"; do group_ticks "${g#*=}"; after+=("$GROUP_TICKS"); done
    hz=$(getconf CLK_TCK)
    for g in "$@"; do
        if [ "${before[i]}" = - ] || [ "${after[i]}" = - ]; then
            echo "${g%%=*} -"
        else
            awk -v n="${g%%=*}" -v t=$((after[i] - before[i])) -v hz="$hz" -v s="$seconds" \
                'BEGIN { printf "%s %.1f\n", n, 100 * t / hz / s }'
        fi
        i=$((i + 1))
    done
}

# Waits until the benchmark writing to $1 has its traffic going, then a second more.
wait_running() {
    for _ in $(seq 300); do
        grep -q '^running' "$1" 2>/dev/null && break
        sleep 0.1
    done
    sleep 1
}

# The window in which a sampler measures a run that has started.
sample_seconds() { echo $((SECS > 4 ? SECS - 3 : 1)); }

# Processes of this Wine prefix whose command name is $1 (or $1 and a suffix
# of digits, as in "wineserver64").
wine_pids() {
    local p c
    for p in /proc/[0-9]*; do
        { read -r c < "$p/comm"; } 2>/dev/null || continue
        [[ "$c" =~ ^$1[0-9]*$ ]] || continue
        tr '\0' '\n' < "$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "${p#/proc/}"
    done
}

# ---- our path: inside the PC namespace, in a Wine session of its own ----

serialprog() { wine "$BIN/serialprog.exe" "$@" 2>/dev/null | sed -u 's/\r$//'; return "${PIPESTATUS[0]}"; }
pmauto() { wine "$BIN/pmauto.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Runs one measurement: $1 result name, the rest the serialprog bench arguments.
ours() {
    local name=$1
    shift
    serialprog bench "$@" > "$WORK/ours-$name.txt"
    echo "exit $?" >> "$WORK/ours-$name.txt"
}

# The same, while sampling where the CPU goes in the middle of the run.
ours_sampled() {
    local name=$1
    shift
    (
        wait_running "$WORK/ours-$name.txt"
        local serialprog host wineserver paird g
        serialprog=$(wine_pids serialprog.exe | paste -sd,); host=$(wine_pids ParloHost.exe | paste -sd,)
        wineserver=$(wine_pids wineserver | paste -sd,); paird=$(cat "$WORK/paird.pid")
        # System calls and context switches of each, where perf can count them.
        if command -v perf >/dev/null; then
            for g in serialprog="$serialprog" host="$host" wineserver="$wineserver" paird="$paird"; do
                [ -n "${g#*=}" ] && perf stat -x, -e raw_syscalls:sys_enter,context-switches -p "${g#*=}" \
                    -o "$WORK/calls-${g%%=*}.txt" -- sleep "$(sample_seconds)" >/dev/null 2>&1 &
            done
        fi
        cpu_percent "$(sample_seconds)" serialprog="$serialprog" host="$host" wineserver="$wineserver" \
            paird="$paird" devsim="$(cat "$WORK/devsim.pid")"
        wait
    ) > "$WORK/busy-ours.txt" &
    local sampler=$!
    ours "$name" "$@"
    wait $sampler
}

stop_inner_ours() {
    [ -n "${echo_pid:-}" ] && kill "$echo_pid" 2>/dev/null
    kill "$(cat "$WORK/paird.pid" 2>/dev/null)" 2>/dev/null
}

inner_ours() {
    local host_pid="" server k ptys=()
    echo_pid=""
    trap stop_inner_ours EXIT
    "$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$WORK/paird.pid" --log "$WORK/paird.log" ||
        { note "pair daemon did not start"; return 1; }
    local dir="$WINEPREFIX/drive_c/parlo"
    mkdir -p "$dir"
    cp "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$dir/"
    # The host's own loop, as the service runs it, in the foreground.
    (cd "$dir" && exec wine ParloHost.exe --console > "$WORK/host.log" 2>&1) &
    pmauto table-wait 20000 >/dev/null || { note "ParloHost did not publish the table"; return 1; }
    pmauto port-create-range 0 $PORTS $FIRST_COM $FIRST_DEV $PER_DEVICE $FIRST_RPORT enable tcpc >/dev/null
    if ! pmauto port-wait 0 state $LINK_CONNECTED 60000 $PORTS > "$WORK/connect.txt"; then
        note "not every port connected: $(cat "$WORK/connect.txt")"
        return 1
    fi
    host_pid=$(wine_pids ParloHost.exe | head -1)
    [ -n "$host_pid" ] || { note "ParloHost's process not found"; return 1; }
    sleep 1
    server=$(wine_pids wineserver | paste -sd,)
    cpu_percent $IDLE_SECONDS host="$host_pid" wineserver="$server" paird="$(cat "$WORK/paird.pid")" \
        > "$WORK/idle-ours.txt"

    # How soon the table shows a program's open and settings, and its close
    # (aim: 20 ms median, 60 ms at most), over 20 opens of one port.
    serialprog openstate COM$FIRST_COM 19200 20 > "$WORK/ours-openstate.txt"

    ours tcp1-latency $FIRST_COM 1 "$SECS" latency
    ours tcp1-throughput $FIRST_COM 1 "$SECS" throughput
    ours tcp128-latency $FIRST_COM $PORTS "$SECS" latency
    ours_sampled tcp128-throughput-1 $FIRST_COM $PORTS "$SECS" throughput
    for r in $(seq 2 "$ROUNDS"); do ours tcp128-throughput-$r $FIRST_COM $PORTS "$SECS" throughput; done
    keep_median "$WORK/ours-tcp128-throughput"

    # The first port over UDP to the device that answers datagrams.
    pmauto port-retarget 0 $FIRST_RPORT 0 udp $UDP_DEV >/dev/null
    sleep 1
    pmauto port-wait 0 state $LINK_CONNECTED 10000 >/dev/null || note "the UDP port did not come up"
    ours udp1-latency $FIRST_COM 1 "$SECS" latency
    ours udp1-throughput $FIRST_COM 1 "$SECS" throughput

    # The Windows side alone: the host stopped, a native echo on the far ends.
    kill "$host_pid" 2>/dev/null
    for _ in $(seq 50); do [ -e "/proc/$host_pid" ] || break; sleep 0.1; done
    if [ -e "/proc/$host_pid" ]; then
        note "ParloHost did not end on SIGTERM"
        kill -KILL "$host_pid" 2>/dev/null
        sleep 0.5
    fi
    for k in $(seq 0 $((PORTS - 1))); do
        ptys+=("$(readlink -f "$WINEPREFIX/dosdevices/null_com$((FIRST_COM + k))")")
    done
    "$WORK/pty_client" $((SECS * 6 + 30)) echo 0 "${ptys[@]}" > "$WORK/echo.log" 2>&1 &
    echo_pid=$!
    sleep 0.5
    for r in $(seq 1 "$ROUNDS"); do ours alone128-throughput-$r $FIRST_COM $PORTS "$SECS" throughput; done
    keep_median "$WORK/ours-alone128-throughput"
    ours alone128-latency $FIRST_COM $PORTS "$SECS" latency
    ours alone1-throughput $FIRST_COM 1 "$SECS" throughput
    ours alone1-latency $FIRST_COM 1 "$SECS" latency
    return 0
}

# ---- socat: inside the PC namespace, natively ----

socat_pids=()
stop_socats() {
    [ ${#socat_pids[@]} -gt 0 ] && kill "${socat_pids[@]}" 2>/dev/null
    [ ${#socat_pids[@]} -gt 0 ] && wait "${socat_pids[@]}" 2>/dev/null
    socat_pids=()
}

# The address of the device that serves port k (0-based) of the 128.
device_of() {
    awk -v a="$FIRST_DEV" -v k=$(($1 / PER_DEVICE)) 'BEGIN { split(a, o, "."); print o[1] "." o[2] "." o[3] "." (o[4] + k) }'
}

# Starts one socat per pty link in $WORK/pty; $1 "tcp" or "udp", $2 count.
start_socats() {
    local k
    rm -rf "$WORK/pty"
    mkdir -p "$WORK/pty"
    for k in $(seq 0 $(($2 - 1))); do
        if [ "$1" = udp ]; then
            socat PTY,link="$WORK/pty/p$k",raw,echo=0 UDP:$UDP_DEV:$FIRST_RPORT 2>>"$WORK/socat.log" &
        else
            socat PTY,link="$WORK/pty/p$k",raw,echo=0 TCP:"$(device_of "$k")":$((FIRST_RPORT + k % PER_DEVICE)),nodelay \
                2>>"$WORK/socat.log" &
        fi
        socat_pids+=($!)
    done
    for _ in $(seq 100); do
        [ "$(find "$WORK/pty" -type l | wc -l)" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

# One measurement through socat: $1 result name, $2 ports, $3 mode, $4 "sampled" to sample CPU.
theirs() {
    local name=$1 count=$2 mode=$3 k ptys=() sampler=""
    for k in $(seq 0 $((count - 1))); do ptys+=("$WORK/pty/p$k"); done
    "$WORK/pty_client" "$SECS" "$mode" 0 "${ptys[@]}" > "$WORK/socat-$name.txt" &
    local client=$!
    if [ "${4:-}" = sampled ]; then
        (
            wait_running "$WORK/socat-$name.txt"
            cpu_percent "$(sample_seconds)" client="$client" socat="$(IFS=,; echo "${socat_pids[*]}")" \
                devsim="$(cat "$WORK/devsim.pid")"
        ) > "$WORK/busy-socat.txt" &
        sampler=$!
    fi
    wait $client
    echo "exit $?" >> "$WORK/socat-$name.txt"
    [ -n "$sampler" ] && wait $sampler
}

inner_socat() {
    trap stop_socats EXIT
    start_socats tcp $PORTS || { note "socat ptys did not appear"; return 1; }
    sleep 1
    cpu_percent $IDLE_SECONDS socat="$(IFS=,; echo "${socat_pids[*]}")" > "$WORK/idle-socat.txt"
    theirs tcp1-latency 1 latency
    theirs tcp1-throughput 1 throughput
    theirs tcp128-latency $PORTS latency
    theirs tcp128-throughput-1 $PORTS throughput sampled
    for r in $(seq 2 "$ROUNDS"); do theirs tcp128-throughput-$r $PORTS throughput; done
    keep_median "$WORK/socat-tcp128-throughput"
    stop_socats
    start_socats udp 1 || { note "socat pty did not appear"; return 1; }
    theirs udp1-latency 1 latency
    theirs udp1-throughput 1 throughput
    stop_socats
}

# ---- the table ----

# Field $2 of the result file $1 (e.g. median_ms), or "-".
field() {
    [ -f "$1" ] || { echo -; return; }
    awk -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == k) { print $(i + 1); found = 1; exit } }
                   END { if (!found) print "-" }' "$1"
}

# Of the runs $1-1.txt, $1-2.txt..., keeps the one whose slowest port is the
# median as $1.txt, with every run's slowest port on a line of its own. The
# machine's noise moves single runs by a quarter and more.
keep_median() {
    local f runs=()
    for f in "$1"-[0-9]*.txt; do
        [ -f "$f" ] && runs+=("$(field "$f" slowest_port_Bps) $f")
    done
    [ ${#runs[@]} -gt 0 ] || return
    cp "$(printf '%s\n' "${runs[@]}" | sort -n | awk '{ f[NR] = $2 } END { print f[int((NR + 1) / 2)] }')" "$1.txt"
    echo "runs_slowest_port_Bps $(printf '%s\n' "${runs[@]}" | cut -d' ' -f1 | paste -sd' ')" >> "$1.txt"
}

# The slowest port of every run of $1, in KB/s, "a / b / c".
runs_kb() {
    awk '$1 == "runs_slowest_port_Bps" { for (i = 2; i <= NF; i++) printf "%s%.1f", (i > 2 ? " / " : ""), $i / 1000 }' "$1" 2>/dev/null
}

# "echo checked" when every byte came back as sent, else what went wrong.
verified() {
    local sent received bad
    sent=$(field "$1" sent); received=$(field "$1" received); bad=$(field "$1" mismatches)
    if [ "$sent" = - ]; then echo "no result"; return; fi
    if [ "$sent" = "$received" ] && [ "$bad" = 0 ]; then echo "echo checked"; return; fi
    echo "ECHO WRONG: sent $sent, back $received, $bad differ"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
kb() { awk -v v="$1" 'BEGIN { if (v == "-") print "-"; else printf "%.1f KB/s", v / 1000 }'; }
mb() { awk -v v="$1" 'BEGIN { if (v == "-") print "-"; else printf "%.2f MB/s", v / 1e6 }'; }
ms() { if [ "$1" = - ]; then echo -; else echo "$1 ms"; fi; }
share() { awk -v n="$2" '$1 == n { print $2; found = 1 } END { if (!found) print "-" }' "$1" 2>/dev/null || echo -; }

# "NAME CALLS / SWITCHES" per 4 KB echoed during the sampled 128-port stream.
calls_per_chunk() {
    local f="$WORK/calls-$1.txt" bps
    bps=$(field "$WORK/ours-tcp128-throughput-1.txt" total_Bps)
    awk -F, -v n="$1" -v bps="$bps" -v s="$(sample_seconds)" '
        $3 ~ /sys_enter/ { calls = $1 } $3 ~ /context-switches/ { sw = $1 }
        END { chunks = bps * s / 4096
              if (calls == "" || chunks <= 0) printf "%s -", n
              else printf "%s %.1f / %.1f", n, calls / chunks, sw / chunks }' "$f" 2>/dev/null || echo "$1 -"
}

# A row: what, then ours, alone and socat as raw values, and how to show them
# (mb, kb or ms). A dash where a path was not measured.
row() {
    local what=$1 o=$2 a=$3 s=$4 unit=$5
    echo "| $what | $($unit "$o") | $($unit "$a") | $($unit "$s") | $(ratio "$o" "$a") | $(ratio "$o" "$s") |"
}

print_table() {
    local O="$WORK/ours" S="$WORK/socat"
    echo "| data path ($PORTS ports = 4 devices x 32; ${SECS} s each; KB = 1000 bytes; alone = the Windows side alone: serialprog, pair daemon, native echo, no ParloHost, no network) | ours | alone | socat | ours / alone | ours / socat |"
    echo "|---|---|---|---|---|---|"
    row "TCP, 1 port: echoed throughput" "$(field "$O-tcp1-throughput.txt" total_Bps)" \
        "$(field "$O-alone1-throughput.txt" total_Bps)" "$(field "$S-tcp1-throughput.txt" total_Bps)" mb
    row "TCP, 1 port: round trip of 16 bytes, median" "$(field "$O-tcp1-latency.txt" median_ms)" \
        "$(field "$O-alone1-latency.txt" median_ms)" "$(field "$S-tcp1-latency.txt" median_ms)" ms
    row "TCP, 1 port: round trip, p99" "$(field "$O-tcp1-latency.txt" p99_ms)" \
        "$(field "$O-alone1-latency.txt" p99_ms)" "$(field "$S-tcp1-latency.txt" p99_ms)" ms
    row "TCP, $PORTS ports: echoed throughput, all ports (median of $ROUNDS runs)" \
        "$(field "$O-tcp128-throughput.txt" total_Bps)" "$(field "$O-alone128-throughput.txt" total_Bps)" \
        "$(field "$S-tcp128-throughput.txt" total_Bps)" mb
    row "TCP, $PORTS ports: slowest port" "$(field "$O-tcp128-throughput.txt" slowest_port_Bps)" \
        "$(field "$O-alone128-throughput.txt" slowest_port_Bps)" "$(field "$S-tcp128-throughput.txt" slowest_port_Bps)" kb
    row "TCP, $PORTS ports: round trip, median" "$(field "$O-tcp128-latency.txt" median_ms)" \
        "$(field "$O-alone128-latency.txt" median_ms)" "$(field "$S-tcp128-latency.txt" median_ms)" ms
    row "UDP, 1 port: echoed throughput" "$(field "$O-udp1-throughput.txt" total_Bps)" - \
        "$(field "$S-udp1-throughput.txt" total_Bps)" mb
    row "UDP, 1 port: round trip, median" "$(field "$O-udp1-latency.txt" median_ms)" - \
        "$(field "$S-udp1-latency.txt" median_ms)" ms
    echo "| UDP, 1 port: throughput / TCP's, ours | $(ratio "$(field "$O-udp1-throughput.txt" total_Bps)" "$(field "$O-tcp1-throughput.txt" total_Bps)") | | | | |"
    local f checks=""
    for f in "$O"-*-throughput.txt "$O"-*-latency.txt "$S"-*-throughput.txt "$S"-*-latency.txt; do
        [ -f "$f" ] || continue
        [ "$(verified "$f")" = "echo checked" ] || checks="$checks $(basename "$f" .txt): $(verified "$f");"
    done
    echo "| every echoed byte checked | ${checks:-yes} | | | | |"
    local result="$O-tcp128-throughput.txt" slowest verdict
    slowest=$(field "$result" slowest_port_Bps)
    if [ "$slowest" != - ] && [ "$(verified "$result")" = "echo checked" ] &&
        awk -v s="$slowest" -v f=$FLOOR_BPS 'BEGIN { exit !(s >= f) }'; then
        verdict="CLEARED"
    else
        verdict="NOT CLEARED"
    fi
    echo "| floor: each of $PORTS TCP ports >= 92.16 KB/s echoed (921,600 baud) | slowest $(kb "$slowest"), runs $(runs_kb "$result") KB/s: $verdict | runs $(runs_kb "$O-alone128-throughput.txt") KB/s | runs $(runs_kb "$S-tcp128-throughput.txt") KB/s | | |"
    echo "| idle CPU, $PORTS ports connected, no traffic, over ${IDLE_SECONDS} s (% of one core) | ParloHost $(share "$WORK/idle-ours.txt" host)% (wineserver $(share "$WORK/idle-ours.txt" wineserver)%, pair daemon $(share "$WORK/idle-ours.txt" paird)%) | | $PORTS socat $(share "$WORK/idle-socat.txt" socat)% | | |"
    echo "| CPU while $PORTS TCP ports stream (% of one core) | serialprog $(share "$WORK/busy-ours.txt" serialprog), ParloHost $(share "$WORK/busy-ours.txt" host), wineserver $(share "$WORK/busy-ours.txt" wineserver), pair daemon $(share "$WORK/busy-ours.txt" paird), devsim $(share "$WORK/busy-ours.txt" devsim) | | pty_client $(share "$WORK/busy-socat.txt" client), socat $(share "$WORK/busy-socat.txt" socat), devsim $(share "$WORK/busy-socat.txt" devsim) | | |"
    echo "| system calls / context switches per 4 KB echoed while $PORTS TCP ports stream | $(calls_per_chunk serialprog), $(calls_per_chunk host), $(calls_per_chunk wineserver), $(calls_per_chunk paird) | | | | |"
    echo "| open state: a program's open and settings, and its close, reach the table (20 opens; aim: median 20 ms, 60 ms at most) | open: median $(awk '$1 == "open_ms" { print $3 " ms, max " $5 " ms" }' "$WORK/ours-openstate.txt" 2>/dev/null); close: median $(awk '$1 == "close_ms" { print $3 " ms, max " $5 " ms" }' "$WORK/ours-openstate.txt" 2>/dev/null) | | | | |"
    echo "| machine load (1-minute average) at the start / after our path / after socat's | $(cat "$WORK/load-before" 2>/dev/null) / $(cat "$WORK/load-ours" 2>/dev/null) / $(cat "$WORK/load-after" 2>/dev/null) | | | | |"
}

# The figures as one flat JSON object of numbers (null where not measured).
write_results() {
    local O="$WORK/ours" S="$WORK/socat"
    {
        cat <<EOF
tcp1_mbps $(field "$O-tcp1-throughput.txt" total_Bps) 1e-6
tcp1_alone_mbps $(field "$O-alone1-throughput.txt" total_Bps) 1e-6
tcp1_socat_mbps $(field "$S-tcp1-throughput.txt" total_Bps) 1e-6
tcp1_rtt_median_ms $(field "$O-tcp1-latency.txt" median_ms) 1
tcp1_alone_rtt_median_ms $(field "$O-alone1-latency.txt" median_ms) 1
tcp1_socat_rtt_median_ms $(field "$S-tcp1-latency.txt" median_ms) 1
tcp128_all_mbps $(field "$O-tcp128-throughput.txt" total_Bps) 1e-6
tcp128_alone_all_mbps $(field "$O-alone128-throughput.txt" total_Bps) 1e-6
tcp128_socat_all_mbps $(field "$S-tcp128-throughput.txt" total_Bps) 1e-6
tcp128_slowest_kbps $(field "$O-tcp128-throughput.txt" slowest_port_Bps) 1e-3
tcp128_alone_slowest_kbps $(field "$O-alone128-throughput.txt" slowest_port_Bps) 1e-3
tcp128_socat_slowest_kbps $(field "$S-tcp128-throughput.txt" slowest_port_Bps) 1e-3
tcp128_rtt_median_ms $(field "$O-tcp128-latency.txt" median_ms) 1
udp1_mbps $(field "$O-udp1-throughput.txt" total_Bps) 1e-6
udp1_socat_mbps $(field "$S-udp1-throughput.txt" total_Bps) 1e-6
udp1_rtt_median_ms $(field "$O-udp1-latency.txt" median_ms) 1
host_idle_cpu_128_ports_pct $(share "$WORK/idle-ours.txt" host) 1
open_state_median_ms $(awk '$1 == "open_ms" { print $3 }' "$WORK/ours-openstate.txt" 2>/dev/null) 1
open_state_max_ms $(awk '$1 == "open_ms" { print $5 }' "$WORK/ours-openstate.txt" 2>/dev/null) 1
close_state_median_ms $(awk '$1 == "close_ms" { print $3 }' "$WORK/ours-openstate.txt" 2>/dev/null) 1
close_state_max_ms $(awk '$1 == "close_ms" { print $5 }' "$WORK/ours-openstate.txt" 2>/dev/null) 1
EOF
    } | awk 'BEGIN { printf "{" }
             { printf "%s\"%s\": ", (NR > 1 ? ", " : ""), $1
               if ($2 == "-" || $2 == "") printf "null"; else printf "%.6g", $2 * $3 }
             END { print "}" }' > "$1"
}

# ---- the outer part: the lab, devsim, both paths, the table ----

outer() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "datapath: needs root (for the test network)"; return 1
    fi
    local f
    for f in "$NBIN/devsim" "$NBIN/parlo-paird" "$BIN/serialprog.exe" "$BIN/pmauto.exe" "$BIN/ParloHost.exe" \
             "$BIN/VSPDCTL.DLL"; do
        [ -e "$f" ] || { echo "datapath: missing $f"; return 1; }
    done
    command -v socat >/dev/null || { echo "datapath: socat is not installed"; return 1; }
    rm -rf "$WORK"
    mkdir -p "$WORK"
    g++ -O2 -std=c++17 -o "$WORK/pty_client" "$ROOT/bench/pty_client.cpp" ||
        { echo "datapath: cannot build pty_client"; return 1; }

    cut -d' ' -f1 /proc/loadavg > "$WORK/load-before"
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    runid="bdp$$"
    trap outer_teardown EXIT
    trap 'exit 130' INT TERM
    bash "$ROOT/lab/netns.sh" up "$runid" >/dev/null || { echo "datapath: lab up failed"; return 1; }
    cat > "$WORK/devsim.conf" <<EOF
device sn=BENCH count=$((PORTS / PER_DEVICE)) ip=$FIRST_DEV ports=$PER_DEVICE
device sn=BENCHUDP0001 ip=$UDP_DEV ports=1
port 1 mode=udp dport=$FIRST_RPORT
EOF
    bash "$ROOT/lab/netns.sh" exec "$runid" dev "$NBIN/devsim" --config "$WORK/devsim.conf" \
        --control "$WORK/devsim.sock" --no-multicast > "$WORK/devsim.log" 2>&1 &
    devsim_pid=$!
    echo $devsim_pid > "$WORK/devsim.pid"
    for _ in $(seq 50); do [ -S "$WORK/devsim.sock" ] && break; sleep 0.1; done
    [ -S "$WORK/devsim.sock" ] || { echo "datapath: devsim did not start"; return 1; }

    local started=$SECONDS
    if [[ " $DP_PATHS " == *" ours "* ]]; then
        bash "$ROOT/lab/netns.sh" exec "$runid" pc bash "$ROOT/lab/with-wine.sh" --name bench-datapath -- \
            bash "$SELF" --ours > "$WORK/ours.log" 2>&1 ||
            echo "datapath: our path did not finish: $(tail -3 "$WORK/ours.log")"
        echo "our path: $((SECONDS - started)) s; load after it: $(cut -d' ' -f1-3 /proc/loadavg)"
        cut -d' ' -f1 /proc/loadavg > "$WORK/load-ours"
    fi
    started=$SECONDS
    if [[ " $DP_PATHS " == *" socat "* ]]; then
        bash "$ROOT/lab/netns.sh" exec "$runid" pc bash "$SELF" --socat > "$WORK/socat-run.log" 2>&1 ||
            echo "datapath: the socat path did not finish: $(tail -3 "$WORK/socat-run.log")"
        echo "socat path: $((SECONDS - started)) s; load after it: $(cut -d' ' -f1-3 /proc/loadavg)"
    fi
    cut -d' ' -f1 /proc/loadavg > "$WORK/load-after"
    echo
    for f in "$WORK"/ours-*.txt "$WORK"/socat-*.txt "$WORK"/idle-*.txt "$WORK"/busy-*.txt; do
        [ -f "$f" ] && grep -v '^running' "$f" | sed "s|^|$(basename "$f" .txt): |"
    done
    echo
    print_table
    mkdir -p "$(dirname "$DP_RESULTS")"
    write_results "$DP_RESULTS"
}

outer_teardown() {
    if [ -n "${devsim_pid:-}" ]; then
        kill "$devsim_pid" 2>/dev/null
        wait "$devsim_pid" 2>/dev/null
        devsim_pid=""
    fi
    [ -n "${runid:-}" ] && bash "$ROOT/lab/netns.sh" down "$runid" >/dev/null 2>&1
    runid=""
}

case "${1:-}" in
--ours) inner_ours ;;
--socat) inner_socat ;;
*) outer ;;
esac
