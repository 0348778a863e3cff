# Virtual COM ports made and handled the way a user does it, in the lab: a
# TCP and a UDP port to devsim through the Create Virtual Serial Port dialog
# (with its refusals), data through both, an edit by double-click, Stop,
# Start, Restart, Restart All and Clear Counters from the menu, parlo.ini
# after a close, the ports after a restart of the manager and of the host,
# and Delete refused while a program holds the port, then done.
PT_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$PT_SCRIPT")/lib.sh"

CREATE="Create Virtual Serial Port"
INI="$DRIVE_C/windows/parlo.ini"

# Opens the Create dialog with Manually Add.
open_create() {
    pmauto command PARLOMGR 32772 >/dev/null
    pmauto wait-window '#32770' "$CREATE" 10000 >/dev/null
}
create_set() { pmauto set-text '#32770' "$CREATE" "$1" "$2" >/dev/null; }
create_pick() { pmauto combo-select '#32770' "$CREATE" "$1" "$2" >/dev/null; }
create_ok() { pmauto click '#32770' "$CREATE" 1 >/dev/null; }
create_gone() { pmauto wait-gone '#32770' "$CREATE" 5000; }
create_open() { pmauto wait-window '#32770' "$CREATE" 0 >/dev/null; }
# The parlo.ini text with its line ends made visible.
ini_text() { sed 's/\r$/<CR>/' "$INI" 2>/dev/null; }
table_gone() { ! pmauto table-wait 0; }
# The local end of the established TCP link to devsim's port $1 (Wine's
# sockets live in this namespace).
tcp_source() { ss -Htn state established "( dport = :$1 )" | awk '{ print $3 }' | head -1; }

both_state() { wait_state COM45 "$1" "$2" && wait_state COM46 "$1" "$2"; }

# Runs a menu command on the row of a COM name.
on_port() {
    select_port "$1" || return 1
    pmauto command PARLOMGR "$2" >/dev/null
}

pt_inner() {
    lab_inner_start || { lab_inner_end; return; }

    echo "-- Manually Add: a TCP port"
    check "Manually Add opens the dialog" open_create
    local combo
    combo=$(pmauto combo '#32770' "$CREATE" 1002)
    expect_eq "COM list: COM1 to COM256, COM1 chosen" $'count\t256\tselected\t0|COM1|COM256' \
        "$(echo "$combo" | head -1)|$(echo "$combo" | sed -n 2p | cut -f3)|$(echo "$combo" | tail -1 | cut -f3)"
    expect_eq "Connection offers TCP Client and UDP, TCP Client chosen" $'count\t2\tselected\t0|TCP Client|UDP' \
        "$(pmauto combo '#32770' "$CREATE" 1007 | awk -F'\t' 'NR == 1 { printf "%s", $0 } NR > 1 { printf "|%s", $3 }')"
    expect_eq "empty address and remote port, local port 6001" "||6001" \
        "$(dialog_text "$CREATE" 1003)|$(dialog_text "$CREATE" 1006)|$(dialog_text "$CREATE" 1009)"
    shot ports-create-dialog
    create_pick 1002 COM45
    create_set 1003 "$LAB_DEV "
    create_set 1006 4001
    create_ok
    local box
    box=$(msgbox_seen 5000)
    shot ports-invalid-address
    answer_msgbox 1000 1 >/dev/null
    expect_eq "an address with a space is refused" $'Error\tInvalid address [10.231.1.1 ]!!!\terror\t#32770' "$box"
    check "the dialog stays open for correction" create_open
    expect_eq "the typed texts stay" "$LAB_DEV |4001|COM45" \
        "$(dialog_text "$CREATE" 1003)|$(dialog_text "$CREATE" 1006)|$(combo_selected "$CREATE" 1002)"
    expect_eq "nothing was made" $'rows\t0' "$(pmauto list PARLOMGR - 1000 | head -1 | cut -f1,2)"
    create_set 1003 "$LAB_DEV"
    create_ok
    check "OK closes the dialog" create_gone
    check "the TCP port connects" wait_state COM45 Connected 20
    expect_eq "its row" $'COM45\t \tTCP Client\t10.231.1.1\t4001\t6001\t0\t0\tConnected' "$(list_row COM45)"
    expect_eq "its link comes from local port 6001" "10.231.0.1:6001" "$(tcp_source 4001)"
    expect_eq "parlo.ini written on creation" "entry_v1_1=COM45 10.231.1.1 4001 enable tcpc 6001<CR>" "$(ini_text)"

    echo "-- Manually Add: a UDP port"
    open_create
    expect_eq "the next local port is above the configured ones" 6002 "$(dialog_text "$CREATE" 1009)"
    create_pick 1002 COM45
    create_set 1003 "$LAB_DEV"
    create_set 1006 4002
    create_pick 1007 UDP
    create_ok
    box=$(msgbox_seen 5000)
    shot ports-com-exists
    answer_msgbox 1000 1 >/dev/null
    expect_eq "a COM name in use is refused" \
        $'Error\tCOM45 already exist, please select another COM port!\terror\t#32770' "$box"
    check "the dialog stays open" create_open
    create_pick 1002 COM46
    create_ok
    check "OK closes the dialog" create_gone
    check "the UDP port is up" wait_state COM46 Connected 20
    expect_eq "its row" $'COM46\t \tUDP\t10.231.1.1\t4002\t6002\t0\t0\tConnected' "$(list_row COM46)"
    expect_eq "rows in table order" "COM45 COM46" "$(list_names)"
    expect_eq "parlo.ini has both" \
        "entry_v1_1=COM45 10.231.1.1 4001 enable tcpc 6001<CR>"$'\n'"entry_v1_2=COM46 10.231.1.1 4002 enable udp 6002<CR>" \
        "$(ini_text)"

    echo "-- data through both"
    serialprog exchange COM45 9600 'hello\r\n' 9 5000 3000 > "$LAB_WORK/tcp.out" &
    local prog=$!
    check "the open state shows while a program holds COM45" wait_cell COM45 2 "9600,8N1" 5
    serialprog exchange COM46 19200 'udp ping' 8 5000 3000 > "$LAB_WORK/udp.out" &
    local prog2=$!
    check "the open state of COM46" wait_cell COM46 2 "19200,8N1" 5
    shot ports-open
    wait $prog $prog2
    expect_eq "TCP echo" "got 9 >\\x20hello\\r\\n" "$(head -1 "$LAB_WORK/tcp.out")"
    expect_eq "UDP echo" "got 8 udp\\x20ping" "$(head -1 "$LAB_WORK/udp.out")"
    check "the open state clears when the program closes" wait_cell COM45 2 " " 5
    expect_eq "COM45 counters" $'9\t7' "$(list_row COM45 | cut -f7,8)"
    expect_eq "COM46 counters" $'8\t8' "$(list_row COM46 | cut -f7,8)"
    expect_eq "both Connected" "Connected Connected" "$(list_cell COM45 9) $(list_cell COM46 9)"
    shot ports-connected

    echo "-- edit by double-click"
    pmauto list-dblclick PARLOMGR - 1000 "$(list_index COM45)" >/dev/null
    check "a double-click opens the dialog" quiet pmauto wait-window '#32770' "$CREATE" 10000
    expect_eq "it shows COM45's settings, the COM name fixed" "COM45|disabled|10.231.1.1|4001|6001|TCP Client" \
        "$(combo_selected "$CREATE" 1002)|$(dialog_enabled "$CREATE" 1002)|$(dialog_text "$CREATE" 1003)|$(dialog_text "$CREATE" 1006)|$(dialog_text "$CREATE" 1009)|$(combo_selected "$CREATE" 1007)"
    shot ports-edit-dialog
    create_pick 1007 UDP
    create_set 1009 6002
    create_ok
    box=$(msgbox_seen 5000)
    shot ports-port-in-use
    answer_msgbox 1000 1 >/dev/null
    expect_eq "a local port another port holds is refused" \
        $'Error\tPort 6002 is in use, please change another one!\terror\t#32770' "$box"
    check "the dialog stays open" create_open
    create_pick 1007 "TCP Client"
    create_set 1009 6050
    create_ok
    check "OK closes the dialog" create_gone
    check "the row shows the new local port" wait_cell COM45 6 6050 5
    check "and it connects again" wait_state COM45 Connected 20
    expect_eq "now from local port 6050" "10.231.0.1:6050" "$(tcp_source 4001)"
    serialprog exchange COM45 9600 'edit\r\n' 8 5000 > "$LAB_WORK/edit.out"
    expect_eq "data flows after the edit" "got 8 >\\x20edit\\r\\n" "$(head -1 "$LAB_WORK/edit.out")"
    expect_eq "an edit leaves parlo.ini for the close" \
        "entry_v1_1=COM45 10.231.1.1 4001 enable tcpc 6001<CR>"$'\n'"entry_v1_2=COM46 10.231.1.1 4002 enable udp 6002<CR>" \
        "$(ini_text)"

    echo "-- Stop, Start, Restart, Restart All, Clear Counters"
    on_port COM45 148
    check "Stop Connection shows Stop" wait_state COM45 Stop 10
    expect_eq "the other port carries on" Connected "$(list_cell COM46 9)"
    shot ports-stopped
    serialprog exchange COM45 9600 'lost\r\n' 1 1500 > "$LAB_WORK/stopped.out"
    expect_eq "nothing comes back while stopped" "got 0 " "$(head -1 "$LAB_WORK/stopped.out")"
    on_port COM45 147
    check "Start Connection connects" wait_state COM45 Connected 20
    on_port COM45 148
    wait_state COM45 Stop 10
    on_port COM45 145
    check "Restart Connection starts a stopped port" wait_state COM45 Connected 20
    on_port COM46 148
    on_port COM45 148
    check "both stopped" both_state Stop 10
    pmauto command PARLOMGR 32774 >/dev/null
    check "Restart All starts every port" both_state Connected 20
    serialprog exchange COM45 9600 'all\r\n' 7 5000 > "$LAB_WORK/all.out"
    expect_eq "data flows after Restart All" "got 7 >\\x20all\\r\\n" "$(head -1 "$LAB_WORK/all.out")"
    expect_eq "COM45 counted everything" $'24\t18' "$(list_row COM45 | cut -f7,8)"
    on_port COM45 32775
    check "Clear Counters zeroes the selected row" wait_cell COM45 7 0 3
    expect_eq "both counters" $'0\t0' "$(list_row COM45 | cut -f7,8)"
    expect_eq "the other row keeps its counters" $'8\t8' "$(list_row COM46 | cut -f7,8)"
    shot ports-cleared

    echo "-- close and start again"
    on_port COM46 148
    wait_state COM46 Stop 10
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20
    expect_eq "Exit ends with code 0" 0 "$manager_rc"
    expect_eq "parlo.ini after the close, the stopped port disabled" \
        "entry_v1_1=COM45 10.231.1.1 4001 enable tcpc 6050<CR>"$'\n'"entry_v1_2=COM46 10.231.1.1 4002 disable udp 6002<CR>" \
        "$(ini_text)"
    start_manager parlo
    pmauto wait-window PARLOMGR - 30000 >/dev/null
    expect_soon "the rows are back" "COM45 COM46" 5 list_names
    expect_eq "with their states" "Connected|Stop" "$(list_cell COM45 9)|$(list_cell COM46 9)"
    expect_eq "and COM46's counters" $'8\t8' "$(list_row COM46 | cut -f7,8)"

    echo "-- the host restarts with the table gone"
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20
    pmauto service-delete PARLOSVR >/dev/null
    check "with the service stopped the table is gone" table_gone
    start_manager parlo
    pmauto wait-window PARLOMGR - 30000 >/dev/null
    pmauto table-wait 10000 >/dev/null
    check "the host restores COM45 from parlo.ini" wait_state COM45 Connected 20
    check "and COM46, still stopped" wait_state COM46 Stop 10
    expect_eq "restored rows" \
        $'COM45\t \tTCP Client\t10.231.1.1\t4001\t6050\t0\t0\tConnected\nCOM46\t \tUDP\t10.231.1.1\t4002\t6002\t0\t0\tStop' \
        "$(list_row COM45)"$'\n'"$(list_row COM46)"
    shot ports-restored
    if [ -z "$(list_index COM45)" ]; then
        # So that Delete is still tried: the ports as the host should have restored them.
        pmauto port-create 0 COM45 $LAB_DEV 4001 enable tcpc 6050 >/dev/null
        pmauto port-create 1 COM46 $LAB_DEV 4002 disable udp 6002 >/dev/null
        wait_state COM45 Connected 20
    fi
    serialprog exchange COM45 9600 'back\r\n' 8 5000 > "$LAB_WORK/back.out"
    expect_eq "the restored port carries data" "got 8 >\\x20back\\r\\n" "$(head -1 "$LAB_WORK/back.out")"

    echo "-- Delete"
    serialprog exchange COM45 9600 'held\r\n' 8 5000 4000 > "$LAB_WORK/held.out" &
    prog=$!
    wait_cell COM45 2 "9600,8N1" 5
    on_port COM45 32771
    box=$(msgbox_seen 5000)
    shot ports-delete-refused
    answer_msgbox 1000 1 >/dev/null
    expect_eq "Delete refused while a program holds the port" \
        $'Error\tCOM45 is being used, Please close it first!\terror\tPARLOMGR' "$box"
    expect_eq "the row and the entry stay" "COM45 COM46|1|1" "$(list_names)|$(port_field 0 present)|$(port_field 0 command)"
    wait $prog
    check "the program closed the port" wait_cell COM45 2 " " 5
    on_port COM45 32771
    check "Delete removes the row" wait_row_gone COM45 30
    expect_eq "the entry is free again" "0 0 0" "$(port_field 0 inuse) $(port_field 0 present) $(port_field 0 command)"
    check "the port's pair is gone" test ! -e "$WINEPREFIX/dosdevices/com45"
    expect_eq "COM46 is left" "COM46" "$(list_names)"
    shot ports-deleted
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20
    expect_eq "parlo.ini after the delete" "entry_v1_1=COM46 10.231.1.1 4002 disable udp 6002<CR>" "$(ini_text)"

    lab_inner_end
}

if [ "${1:-}" = "--inner" ]; then
    pt_inner
else
    echo "scenario: ports made and handled from the menu and the Create dialog"
    lab_scenario "$PT_SCRIPT" ports "device sn=PORTS0000001 ip=$LAB_DEV ports=2
port 1 mode=tcp dport=4001 prefix=>\s
port 2 mode=udp dport=4002" pt_inner
fi
