# A restart of the host loses nothing, in the lab. 16 ports stream (12 TCP,
# 4 UDP) with the Monitor open on one of them while ParloHost is killed and
# the service started again (sc start), as the service manager's recovery
# would; then the same with a clean sc stop and sc start. Each time every
# port connects again within its back-off, every byte written after the
# reconnect echoes intact, the table holds each port once and in its entry,
# no counter goes backwards or shows garbage, and the Monitor shows new
# records without being reopened.
#
# What ParloHost tells the Application log is read from Wine's debug output
# (lib.sh, host_events): the start with the ports it took over, a far end
# that cannot be opened, settings it cannot use, a link failure once per
# streak and its return, the stop.
RS_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$RS_SCRIPT")/lib.sh"
RS_PORTS=16
RS_FIRST_COM=101
RS_RATE=20000          # bytes/s per port: the point is the restart, not the speed
RS_CONNECTED=0x1000002
RS_FAILED=0x1000000
# A restarted host connects at once (the longest back-off is 8 s): 20 s only catches a hang.
RS_RECONNECT_MS=20000
RS_EVT=10.231.1.3
MON=Monitor

# The Monitor's row count and the number of its last row, "rows N last #".
mon_tail() { pmauto list-tail '#32770' "$MON" 1007 | awk -F'\t' 'NR == 1 { n = $2 } NR > 2 { last = $2 } END { print n, last + 0 }'; }
mon_last() { mon_tail | cut -d' ' -f2; }
# The Monitor's last row number once it has stopped growing (no host
# captures): what it shows of the records from before.
mon_settled() {
    local last now end=$((SECONDS + 20))
    last=$(mon_last)
    while [ $SECONDS -lt $end ]; do
        sleep 0.5
        now=$(mon_last)
        [ "$now" = "$last" ] && break
        last=$now
    done
    echo "$last"
}
# Waits up to $2 seconds until the Monitor's last row is numbered above $1.
wait_mon_beyond() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        [ "$(mon_last)" -gt "$1" ] && return 0
        sleep 0.3
    done
    return 1
}
service_state() { wine sc query PARLOSVR 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'; }
wait_service() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        [ "$(service_state)" = "$1" ] && return 0
        sleep 0.2
    done
    return 1
}
wait_pid_gone() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}
# "INDEX COM" of every entry the host holds, and the COM names held twice.
table_ports() { pmauto port-list | awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^com=/) print $1, substr($i, 5) }'; }
# The first event $1 of port $2 (its first string), as host_events prints it.
first_event() { host_events | awk -F'\t' -v id="$1" -v p="$2" '$1 == id && $2 == p { print; exit }'; }
count_events() { host_events | awk -F'\t' -v id="$1" -v p="$2" '$1 == id && (p == "" || $2 == p)' | wc -l; }

# One death and return of the host, while the ports stream: $1 is "kill" or
# "sc stop", $2 the how-manieth start of the host this is after the first.
rs_round() {
    local how=$1 before table_before stopped host
    local started=$'1\t0\tC:\\windows\\parlo.ini\t19'
    table_before=$(table_ports)
    rm -f "$DRIVE_C/rs-stop"
    pmauto counters-watch 0 $RS_PORTS 'C:\rs-stop' 300000 > "$LAB_WORK/watch.txt" &
    local watch=$!
    before=$(mon_last)
    serialprog bench $RS_FIRST_COM $RS_PORTS 8 throughput $RS_RATE > "$LAB_WORK/cut.txt" &
    local stream=$!
    check "$how: the Monitor shows the stream" wait_mon_beyond "$before" 20

    if [ "$how" = kill ]; then
        host=$(prefix_pid ParloHost.exe)
        [ -n "$host" ] && kill -9 "$host"
        check "kill: ParloHost is gone" wait_pid_gone "${host:-0}" 10
        # Wine's service manager may still call it running (it notices no
        # death it did not cause); its start request starts a new host all
        # the same. Windows restarts it by itself, after the failure actions.
    else
        wine sc stop PARLOSVR >/dev/null 2>&1
        check "sc stop: the service stops" wait_service STOPPED 20
        stopped=$(pmauto port-list | grep -c 'state=0x1000003 ')
        expect_eq "sc stop: every port shows Disconnected while no host runs" 19 "$stopped"
        check "sc stop: the stop is told with the ports it held" wait_host_event $'2\t19' 10
        shot restart-stopped
    fi
    before=$(mon_settled)
    wine sc start PARLOSVR >/dev/null 2>&1
    check "$how: the service runs again" wait_service RUNNING 20
    check "$how: every port connects again within its back-off" \
        quiet pmauto port-wait 0 state $RS_CONNECTED $RS_RECONNECT_MS $RS_PORTS
    shot "restart-after-${how// /-}"
    wait $stream
    # What the cut stream left in the pairs and the network comes back to
    # nobody; once it has drained, a new stream must echo byte for byte.
    check "$how: what was in flight drains" quiet pmauto port-quiet 0 $RS_PORTS 1500 30000
    if serialprog bench $RS_FIRST_COM $RS_PORTS 3 throughput $RS_RATE > "$LAB_WORK/after.txt"; then
        pass "$how: every byte written after the reconnect echoes intact"
    else
        fail "$how: echo after the reconnect: $(grep -E 'sent|cannot' "$LAB_WORK/after.txt" | tr '\n' ' ')"
    fi
    expect_eq "$how: the table holds each port once, in its entry" "$table_before" "$(table_ports)"
    check "$how: the Monitor shows new records without being reopened" wait_mon_beyond "$before" 10
    expect_eq "$how: the host still captures for it" 1 "$(port_field 0 capture)"
    touch "$DRIVE_C/rs-stop"
    wait $watch
    local watched=$?
    echo "  counters: $(cat "$LAB_WORK/watch.txt")"
    expect_eq "$how: no counter went backwards or showed garbage" 0 "$watched"
    wait_host_event "$started" 10
    expect_eq "$how: the start is told with the 19 ports taken over" "$2" "$(host_events | grep -cxF "$started")"
}

rs_inner() {
    SERVICES_LOG="$LAB_WORK/services.log"
    rm -f "$SERVICES_LOG"
    lab_inner_start || { lab_inner_end; return; }
    check "the first start is told: nothing to restore or take over" \
        wait_host_event $'1\t0\tC:\\windows\\parlo.ini\t0' 10

    pmauto port-create-range 0 12 $RS_FIRST_COM $LAB_DEV 12 4001 enable tcpc >/dev/null
    pmauto port-create-range 12 4 $((RS_FIRST_COM + 12)) 10.231.1.2 4 4001 enable udp >/dev/null
    check "16 ports connect" quiet pmauto port-wait 0 state $RS_CONNECTED 60000 $RS_PORTS || { lab_inner_end; return; }

    echo "-- what the Application log is told"
    pmauto port-write 16 COM130 $RS_EVT 4001 enable tcpc 0 >/dev/null
    pmauto port-create 17 COM131 $RS_EVT 70000 enable tcpc 0 >/dev/null
    pmauto port-create 18 COM132 $RS_EVT 4001 enable tcpc 0 >/dev/null
    check "a far end that cannot be opened is told" wait_host_event $'6\tCOM130\t' 10
    local far
    far=$(first_event 6 COM130)
    echo "  far end: $far"
    check "naming the device path and the system's error" \
        test "${far%%: *}" = $'6\tCOM130\t\\\\.\\NULL_COM130\terror 2'
    check "settings the host cannot use are told" wait_host_event $'9\tCOM131\t' 10
    expect_eq "naming the setting" $'9\tCOM131\tits remote port "70000" is not a number from 1 to 65535' \
        "$(first_event 9 COM131)"
    check "the event port connects" quiet pmauto port-wait 18 state $RS_CONNECTED 20000
    quiet devsim_ctl down 3
    check "its device goes away: it fails, and retries fail" quiet pmauto port-wait 18 state $RS_FAILED 20000
    quiet devsim_ctl up 3
    check "it comes back" quiet pmauto port-wait 18 state $RS_CONNECTED 20000
    check "the return is told" wait_host_event $'8\tCOM132\t' 10
    expect_eq "the failure is told once for the streak" 1 "$(count_events 7 COM132)"
    expect_eq "saying why and where" $'7\tCOM132\t10.231.1.3:4001 (TCP)\tthe device closed the connection' \
        "$(first_event 7 COM132)"

    echo "-- the Monitor on COM$RS_FIRST_COM"
    select_port COM$RS_FIRST_COM
    pmauto command PARLOMGR 32777 >/dev/null
    check "the Monitor opens" quiet pmauto wait-window '#32770' "$MON" 10000
    check "the host captures for it" quiet pmauto port-wait 0 capture 1 5000

    echo "-- ParloHost killed, the service started again"
    expect_eq "19 ports in the table, each once" "19 19" \
        "$(table_ports | wc -l) $(table_ports | cut -d' ' -f2 | sort -u | wc -l)"
    rs_round kill 1
    echo "-- sc stop, sc start"
    rs_round "sc stop" 2
    expect_eq "the restarts told no link of a streaming port as failed" 0 \
        "$(host_events | awk -F'\t' '$1 == 7 && $2 != "COM132"' | wc -l)"
    echo "  events: $(host_events | cut -f1 | sort -n | uniq -c | awk '{ printf "%s%s x%s", sep, $2, $1; sep = ", " }')"

    pmauto close '#32770' "$MON" >/dev/null
    lab_inner_end
}

if [ "${1:-}" = "--inner" ]; then
    rs_inner
else
    echo "scenario: a restart of the host loses nothing"
    lab_scenario "$RS_SCRIPT" restart "device sn=RESTARTTCP01 ip=$LAB_DEV ports=12
device sn=RESTARTUDP01 ip=10.231.1.2 ports=4
port all mode=udp
device sn=RESTARTEVT01 ip=$RS_EVT ports=1" rs_inner
fi
