# The data path end to end, inside the lab: a serial program under Wine talks
# through COM ports, the pair daemon, ParloHost (run by the manager as its
# service) and the lab network to devsim's echoing serial devices, over TCP
# and UDP; the main list follows link state, open state and counters; Stop,
# Start, Restart, a device that goes away and comes back, capture, and ports
# that cannot work (a name that does not resolve, a local port in use).
#
# It runs in the test run's lab when there is one, or builds a lab of its own
# (lab_scenario in lib.sh).
DP_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$DP_SCRIPT")/lib.sh"
DP_DEV=$LAB_DEV

# ---- the inner part: inside the PC namespace, in a Wine session of its own ----

serialprog() { wine "$BIN/serialprog.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# The main list's row of a COM name: Serial Port, Open State, Connection,
# Remote IP, Remote Port, Local Port, Rx Bytes, Tx Bytes, State (tab-separated).
list_row() { pmauto list PARLOMGR - 1000 | awk -F'\t' -v c="$1" '$2 == c { $1 = ""; sub(/^\t/, ""); print; exit }' OFS='\t'; }
list_cell() { list_row "$1" | cut -f"$2"; }

# Waits up to $3 seconds until the list shows $2 in the State cell of $1.
wait_state() {
    local end=$((SECONDS + $3))
    while [ $SECONDS -lt $end ]; do
        [ "$(list_cell "$1" 9)" = "$2" ] && return 0
        sleep 0.2
    done
    return 1
}

# Processes of this prefix that hold a pair's pty (/dev/pts/N) as their
# controlling terminal, or could take one: the wineserver opens every device
# for its clients, and as a session leader it would take the first terminal
# it opens (a pair's, when it has none yet). A deleted pair hangs it up.
pair_tty_takers() {
    local l p s n c pairs=" "
    for l in "$WINEPREFIX"/dosdevices/com* "$WINEPREFIX"/dosdevices/null_com*; do
        [ -L "$l" ] && pairs+="$(readlink -f "$l") "
    done
    for p in /proc/[0-9]*; do
        { tr '\0' '\n' < "$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        { read -r s < "$p/stat"; } 2>/dev/null || continue
        c=${s#*(}; c=${c%%)*}
        s=${s##*) }
        set -- $s
        n=$5   # tty_nr: pts majors are 136-143
        if [ "$4" = "${p#/proc/}" ] && [[ "$c" == wineserver* ]]; then
            echo "${p#/proc/} ($c) leads a session"
            continue
        fi
        (( (n >> 8 & 0xfff) >= 136 && (n >> 8 & 0xfff) <= 143 )) || continue
        n=$(( ((n >> 8 & 0xfff) - 136) * 256 + ((n & 0xff) | (n >> 12 & 0xfff00)) ))
        [[ "$pairs" == *" /dev/pts/$n "* ]] && echo "${p#/proc/} ($c) holds /dev/pts/$n"
    done
}

# Waits for each COM name given to leave the list.
rows_gone() { local c; for c; do wait_row_gone "$c" 10 || return 1; done; }

hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }

dp_inner() {
    local state
    lab_inner_start || { lab_inner_end; return; }

    # Ports as the Create dialog would make them.
    pmauto port-create 0 COM45 $DP_DEV 4001 enable tcpc 6045 >/dev/null
    pmauto port-create 1 COM46 $DP_DEV 4002 enable udp 0 >/dev/null
    check "TCP port connects" wait_state COM45 Connected 20
    check "UDP port is up" wait_state COM46 Connected 20
    expect_eq "list row of the TCP port" \
        $'COM45\t \tTCP Client\t10.231.1.1\t4001\t6045\t0\t0\tConnected' "$(list_row COM45)"

    # TCP: the device's answer comes back with its prefix; capture follows both ways.
    pmauto capture 0 start >/dev/null
    pmauto port-wait 0 capture 1 3000 >/dev/null
    serialprog exchange COM45 9600 'hello\r\n' 9 5000 4000 > "$LAB_WORK/tcp.out" &
    local prog=$!
    check "open state while the program holds COM45" wait_cell COM45 2 "9600,8N1" 4
    shot datapath-open-state
    wait $prog
    expect_eq "TCP echo through the whole path" "got 9 >\\x20hello\\r\\n" "$(head -1 "$LAB_WORK/tcp.out")"
    check "open state clears when the program closes" wait_cell COM45 2 " " 5
    expect_eq "Rx Bytes and Tx Bytes" $'9\t7' "$(list_row COM45 | cut -f7,8)"

    # The table follows a program's open, settings and close at once (20 ms
    # is the aim, measured by make bench), so a port closed a moment ago can
    # be deleted at once. Here: every one is seen, none only after a poll's
    # worth of waiting (200 ms, ten times the aim).
    serialprog openstate COM45 19200 10 > "$LAB_WORK/openstate.out"
    local seen=$?
    echo "  open state: $(tr '\n' ';' < "$LAB_WORK/openstate.out")"
    expect_eq "every open, setting and close reaches the table" 0 "$seen"
    check "open state and settings reach the table at once (median under 200 ms)" \
        awk '$2 == "median" { n++; if ($3 >= 200) bad = 1 } END { exit bad || n != 2 }' "$LAB_WORK/openstate.out"
    local dump
    dump=$(pmauto capture-dump 0)
    expect_eq "capture: one record each way" 2 "$(echo "$dump" | tail -n +2 | grep -c .)"
    expect_eq "capture: sent record" "tx 7 $(hex $'hello\r\n')" "$(echo "$dump" | awk -F'\t' '$1 == 0 { print $2, $3, $5 }')"
    expect_eq "capture: received record" "rx 9 $(hex $'> hello\r\n')" "$(echo "$dump" | awk -F'\t' '$1 == 1 { print $2, $3, $5 }')"
    check "capture: times after the start, in order" bash -c 'echo "$0" | awk -F"\t" '"'"'
        NR == 1 { split($1, a, "="); start = a[2]; prev = start; next }
        { if ($4 < prev) bad = 1; prev = $4 } END { exit bad || NR < 3 }'"'"'' "$dump"

    # A block longer than a record is captured in records of at most 512 bytes.
    local block
    block=$(head -c 700 /dev/zero | tr '\0' 'x')
    serialprog exchange COM45 9600 "$block" 702 5000 > "$LAB_WORK/block.out"
    expect_eq "700 bytes through and back" "got 702" "$(cut -d' ' -f1,2 "$LAB_WORK/block.out" | head -1)"
    dump=$(pmauto capture-dump 0 | tail -n +2)
    expect_eq "capture: 700 bytes sent, in records" 707 "$(echo "$dump" | awk -F'\t' '$2 == "tx" { n += $3 } END { print n }')"
    expect_eq "capture: 702 bytes received, in records" 711 "$(echo "$dump" | awk -F'\t' '$2 == "rx" { n += $3 } END { print n }')"
    expect_eq "capture: no record over 512 bytes" 0 "$(echo "$dump" | awk -F'\t' '$3 > 512 || $3 < 1' | wc -l)"
    pmauto capture 0 stop >/dev/null

    # UDP: each write becomes a datagram, each datagram back comes through.
    serialprog exchange COM46 19200 'udp ping' 8 5000 > "$LAB_WORK/udp.out"
    expect_eq "UDP echo through the whole path" "got 8 udp\\x20ping" "$(head -1 "$LAB_WORK/udp.out")"
    expect_eq "UDP Rx Bytes and Tx Bytes" $'8\t8' "$(list_row COM46 | cut -f7,8)"
    shot datapath-connected

    # Stop carries nothing; Start reconnects.
    pmauto port-command 0 $PORT_STOP >/dev/null
    check "Stop shows Stop" wait_state COM45 Stop 10
    serialprog exchange COM45 9600 'lost\r\n' 1 1500 > "$LAB_WORK/stopped.out"
    expect_eq "nothing comes back while stopped" "got 0 " "$(head -1 "$LAB_WORK/stopped.out")"
    expect_eq "counters unchanged while stopped" $'711\t707' "$(list_row COM45 | cut -f7,8)"
    shot datapath-stopped
    pmauto port-command 0 $PORT_START >/dev/null
    check "Start reconnects" wait_state COM45 Connected 20
    serialprog exchange COM45 9600 'again\r\n' 9 5000 > "$LAB_WORK/again.out"
    expect_eq "data flows after Start" "got 9 >\\x20again\\r\\n" "$(head -1 "$LAB_WORK/again.out")"

    # The device goes away and comes back.
    quiet devsim_ctl down 1
    check "a device that goes away shows Disconnected" wait_state COM45 Disconnected 10
    shot datapath-disconnected
    check "then Connection failed. while it stays away" wait_state COM45 "Connection failed." 15
    shot datapath-connection-failed
    expect_eq "the UDP port is not disturbed" Connected "$(list_cell COM46 9)"
    quiet devsim_ctl up 1
    check "Connected again when it returns" wait_state COM45 Connected 20
    serialprog exchange COM45 9600 'back\r\n' 8 5000 > "$LAB_WORK/back.out"
    expect_eq "data flows after the device returns" "got 8 >\\x20back\\r\\n" "$(head -1 "$LAB_WORK/back.out")"

    # Restart takes the entry's current settings: a port nobody serves, then back.
    pmauto port-retarget 0 4009 0 tcpc $DP_DEV >/dev/null
    check "Restart onto a closed port fails" wait_state COM45 "Connection failed." 15
    pmauto port-show 0 > "$LAB_WORK/refused.out"
    check "refused is told apart" grep -q 'detail=4 ' "$LAB_WORK/refused.out"
    pmauto port-retarget 0 4001 6045 tcpc $DP_DEV >/dev/null
    check "Restart onto the device connects" wait_state COM45 Connected 20

    # Ports that cannot work say so; the service and the other ports carry on.
    pmauto port-create 2 COM47 nosuchdevice.invalid 4001 enable tcpc 0 >/dev/null
    pmauto port-create 3 COM48 $DP_DEV 4002 enable udp 5048 >/dev/null
    pmauto port-create 4 COM49 $DP_DEV 4002 enable udp 5048 >/dev/null
    check "a name that does not resolve fails" wait_state COM47 "Connection failed." 20
    check "the first UDP port on 5048 is up" wait_state COM48 Connected 20
    check "a local port in use fails" wait_state COM49 "Connection failed." 20
    pmauto port-show 2 > "$LAB_WORK/bad.out"
    pmauto port-show 4 >> "$LAB_WORK/bad.out"
    check "the reasons are told apart" bash -c 'grep -q "com=COM47 .*detail=2 " "$0" && grep -q "com=COM49 .*detail=3 " "$0"' "$LAB_WORK/bad.out"
    serialprog exchange COM45 9600 'still\r\n' 9 5000 > "$LAB_WORK/still.out"
    expect_eq "the good ports still carry data" "got 9 >\\x20still\\r\\n" "$(head -1 "$LAB_WORK/still.out")"
    shot datapath-failures

    local takers
    takers=$(pair_tty_takers)
    expect_eq "no Wine process holds or can take a pair's pty as its terminal" "" "$takers"

    # Delete: the rows go, and the pair with them.
    for i in 2 3 4; do pmauto port-delete $i >/dev/null; done
    check "deleted ports leave the list" rows_gone COM47 COM48 COM49
    check "the deleted port's pair is gone" test ! -e "$WINEPREFIX/dosdevices/com47"
    # No Wine process holds a pair's pty as its terminal: deleting pairs sent
    # the server no hang-up (it would dump its object table).
    check "deleting pairs leaves the wineserver quiet" test ! -s "$WINEPREFIX/wineserver.log"

    lab_inner_end
}

PORT_START=1
PORT_STOP=2
if [ "${1:-}" = "--inner" ]; then
    dp_inner
else
    echo "scenario: data path through the lab"
    lab_scenario "$DP_SCRIPT" datapath "device sn=DATAPATH0001 ip=$LAB_DEV ports=2
port 1 mode=tcp dport=4001 prefix=>\s
port 2 mode=udp dport=4002" dp_inner
fi
