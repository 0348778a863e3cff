# Faults held, inside the lab: 128 TCP ports stream through the whole path
# while, round after round, the device side drops every connection or stops
# answering for a while and comes back, and the serial program opens and
# closes every port. After each round every port is connected again within
# its back-off, every byte sent after the reconnect echoes intact, no counter
# goes backwards (but a Clear Counters pressed mid-stream always takes), and
# neither ParloHost nor the pair daemon grows: descriptors and resident
# memory stay within 1% of the first round's.
#
# SOAK_ROUNDS rounds (default 20; make bench runs 200), SOAK_SECONDS of
# streaming each (default 2).
SOAK_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$SOAK_SCRIPT")/lib.sh"
SOAK_ROUNDS=${SOAK_ROUNDS:-20}
SOAK_SECONDS=${SOAK_SECONDS:-2}
SOAK_PORTS=128
SOAK_FIRST_COM=101
SOAK_PER_DEVICE=32
SOAK_DEVICES=$((SOAK_PORTS / SOAK_PER_DEVICE))
SOAK_CONNECTED=0x1000002
# The longest a port waits before it tries again (8 s), and the connect
# itself, make 10 s: make bench holds every round to that. A test run only
# catches a port that never comes back, at ten times as long.
SOAK_RECONNECT_MS=${SOAK_RECONNECT_MS:-100000}

serialprog() { wine "$BIN/serialprog.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# "FDS RSS_KB" of a process.
usage_of() {
    echo "$(ls "/proc/$1/fd" 2>/dev/null | wc -l) $(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null)"
}

# Whether "FDS RSS" $2 stays within 1% of the first round's $1 (descriptors:
# at least one more is allowed, as 1% of a few dozen rounds down to none).
flat() {
    awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, " "); split(b, y, " ");
        fd = y[1] <= x[1] + (x[1] / 100 > 1 ? x[1] / 100 : 1); rss = y[2] <= x[2] * 1.01;
        exit !(y[1] > 0 && y[2] > 0 && fd && rss) }'
}

soak_inner() {
    lab_inner_start || { lab_inner_end; return; }
    pmauto port-create-range 0 $SOAK_PORTS $SOAK_FIRST_COM $LAB_DEV $SOAK_PER_DEVICE 4001 enable tcpc >/dev/null
    check "128 ports connect" quiet pmauto port-wait 0 state $SOAK_CONNECTED 60000 $SOAK_PORTS || { lab_inner_end; return; }

    local host paird round fault first_host="" first_paird="" bad_reconnect=0 bad_echo=0 bad_counters=0
    local bad_clear=0 bad_host=0 bad_paird=0 started=$SECONDS slowest_ms=0 back_ms
    host=$(prefix_pid ParloHost.exe)
    paird=$(cat "$LAB_WORK/paird.pid")
    pmauto port-counters 0 $SOAK_PORTS > "$LAB_WORK/counters.before"
    for round in $(seq 1 "$SOAK_ROUNDS"); do
        # The fault: every connection dropped, or the devices silent for a while.
        if [ $((round % 2)) = 1 ]; then
            fault="connections dropped"
            devsim_ctl down all >/dev/null
            devsim_ctl up all >/dev/null
        else
            fault="devices away 1.5 s"
            devsim_ctl down all >/dev/null
            sleep 1.5
            devsim_ctl up all >/dev/null
        fi
        back_ms=$(date +%s%3N)
        if pmauto port-wait 0 state $SOAK_CONNECTED $SOAK_RECONNECT_MS $SOAK_PORTS > "$LAB_WORK/reconnect.txt"; then
            back_ms=$(( $(date +%s%3N) - back_ms ))
            [ "$back_ms" -gt "$slowest_ms" ] && slowest_ms=$back_ms
        else
            bad_reconnect=$((bad_reconnect + 1))
            echo "  round $round ($fault): not reconnected within $((SOAK_RECONNECT_MS / 1000)) s: $(cat "$LAB_WORK/reconnect.txt")"
            pmauto port-wait 0 state $SOAK_CONNECTED 30000 $SOAK_PORTS >/dev/null
        fi

        # The program opens every port, streams, checks every echoed byte and
        # closes them; every fifth round Clear Counters is pressed mid-stream.
        serialprog bench $SOAK_FIRST_COM $SOAK_PORTS "$SOAK_SECONDS" throughput > "$LAB_WORK/stream.txt" &
        local prog=$! cleared=0
        if [ $((round % 5)) = 0 ]; then
            sleep 1
            pmauto port-clear 0 $SOAK_PORTS >/dev/null && cleared=1
        fi
        if ! wait $prog; then
            bad_echo=$((bad_echo + 1))
            echo "  round $round ($fault): echo wrong: $(grep -E 'sent|mismatch' "$LAB_WORK/stream.txt" | tr '\n' ' ')"
        fi

        # Counters: never backwards, and below what they were after a clear.
        pmauto port-counters 0 $SOAK_PORTS > "$LAB_WORK/counters.after"
        if [ "$cleared" = 1 ]; then
            awk 'NR == FNR { rx[$1] = $2; tx[$1] = $3; next } !($2 < rx[$1] && $3 < tx[$1]) { bad = 1 } END { exit bad }' \
                "$LAB_WORK/counters.before" "$LAB_WORK/counters.after" || {
                bad_clear=$((bad_clear + 1)); echo "  round $round: a Clear Counters did not take"; }
        else
            awk 'NR == FNR { rx[$1] = $2; tx[$1] = $3; next } !($2 > rx[$1] && $3 > tx[$1]) { bad = 1 } END { exit bad }' \
                "$LAB_WORK/counters.before" "$LAB_WORK/counters.after" || {
                bad_counters=$((bad_counters + 1)); echo "  round $round: a counter went backwards or stood still"; }
        fi
        mv "$LAB_WORK/counters.after" "$LAB_WORK/counters.before"

        # The processes stay as they were after the first round.
        local now_host now_paird
        now_host=$(usage_of "$host")
        now_paird=$(usage_of "$paird")
        [ -n "$first_host" ] || { first_host=$now_host; first_paird=$now_paird; }
        flat "$first_host" "$now_host" || { bad_host=$((bad_host + 1)); echo "  round $round: ParloHost fds and RSS $now_host, first $first_host"; }
        flat "$first_paird" "$now_paird" || { bad_paird=$((bad_paird + 1)); echo "  round $round: pair daemon fds and RSS $now_paird, first $first_paird"; }
    done
    echo "  slowest reconnect of a round: $slowest_ms ms"
    echo "  $SOAK_ROUNDS rounds in $((SECONDS - started)) s; ParloHost fds and RSS (KB) first $first_host, last $now_host; pair daemon first $first_paird, last $now_paird"
    expect_eq "every port reconnected within $((SOAK_RECONNECT_MS / 1000)) s, every round" 0 "$bad_reconnect"
    expect_eq "every byte after the reconnect echoed intact, every round" 0 "$bad_echo"
    expect_eq "counters never went backwards" 0 "$bad_counters"
    expect_eq "every Clear Counters pressed mid-stream took" 0 "$bad_clear"
    expect_eq "ParloHost's descriptors and memory stayed flat" 0 "$bad_host"
    expect_eq "the pair daemon's descriptors and memory stayed flat" 0 "$bad_paird"
    lab_inner_end
}

if [ "${1:-}" = "--inner" ]; then
    soak_inner
else
    echo "scenario: faults held ($SOAK_ROUNDS rounds, $SOAK_PORTS ports)"
    lab_scenario "$SOAK_SCRIPT" soak "device sn=SOAK count=$SOAK_DEVICES ip=$LAB_DEV ports=$SOAK_PER_DEVICE" soak_inner
fi
