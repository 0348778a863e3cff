# Device servers end to end, inside the lab: three devsim devices found by
# Scan Devices; one that wants other credentials asks for them; its port is
# bound to a new UDP COM port that then carries data; the bound port is
# re-targeted (a stopped one stays stopped); a device gets a new address and
# mode and is found there after its reboot; Reboot Device asks first; Browse
# hands the device's web address to the shell and sends nothing.
#
# Everything that talks to the devices runs in a lab: the test run's own when
# run.sh runs inside one, or else a lab built here, with the real part run
# again (--inner) in a Wine session started inside its PC namespace.
DV_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$DV_SCRIPT")/lib.sh"
source "$(dirname "$DV_SCRIPT")/devices_lib.sh"

# Device 1 answers discovery late, so arrival order is not the order of the
# devices, their addresses or their serial numbers. Device 3 wants its own
# credentials. Device 2 takes 1.5 s to reboot.
DV_CONFIG='device sn=ROADDEV00001 ip=10.231.1.11 model=DS-A fw=2.4.9 web=8080 ports=2 rebootms=1500
port 1 prefix=>\s
device sn=NETDEV-2 ip=10.231.1.12 model=DS-B fw=1.0.3 ports=1 gw=10.231.0.254 dns1=10.231.0.53 rebootms=1500
device sn=SECURE000003 ip=10.231.1.13 model=DS-SEC fw=3.1.17 web=8443 ports=2 auth=check user=admin pass=s3cret
port 1 prefix=<\s
port 2 mode=udp dport=4102 baud=9600 data=7 parity=even stop=2 if=rs485 ifs=rs485'

SECURE=SECURE000003
REBOOT_ADVICE='If configurations are changed, please reboot the device.\r\n     Rebooting takes about 6 seconds, reboot it?'
DEV3=10.231.1.13

# Device 3's port 1 as another tool left it, in SerialPortConfig layout: a
# TCP server on 4101, 115200 8N1 with bits 29-31 set, a peer, RS-232 in use
# with RS-232 and RS-485 supported, and bytes this program does not
# interpret (offset 41 and 44-67) that must come back unchanged.
seed_peer=$(printf '10.231.0.99' | od -An -tx1 | tr -d ' \n')
seed_peer=$seed_peer$(printf '%0*d' $((64 - ${#seed_peer})) 0)
SEED_RESERVED=5a
SEED_TAIL=a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7
SEED_RECORD=00c281a5${seed_peer}6f17051002${SEED_RESERVED}0103$SEED_TAIL

# ---- 1: the road of one request ----

road() {
    echo "scenario: scan, authenticate, configure and map a device port"
    dv_open_scan || return
    shot devices-scan
    expect_eq "three devices in arrival order, as a user reads them" \
        "$(printf '%s\n' \
            $'DS-B\tNETDEV-2\t1.0.03\\n\t10.231.1.12\t80' \
            $'DS-SEC\tSECURE000003\t3.1.17\\n\t10.231.1.13\t8443' \
            $'DS-A\tROADDEV00001\t2.4.09\\n\t10.231.1.11\t8080')" "$(dv_scan_rows)"
    expect_eq "column widths" $'width=100\twidth=150\twidth=130\twidth=150\twidth=90' \
        "$(pmauto list '#32770' "$WINDOW_SCAN" 1009 | sed -n 2p)"
    expect_eq "one probe reached each device" "1 1 1" \
        "$(dv_log 1 128 | wc -l) $(dv_log 2 128 | wc -l) $(dv_log 3 128 | wc -l)"

    # Device Settings on the device that wants other credentials.
    dv_devsim_ctl log 3 clear >/dev/null
    dv_select_device $SECURE
    pmauto click '#32770' "$WINDOW_SCAN" 1015 >/dev/null
    check "the device asks: Authentication opens" dv_wait_dialog "$WINDOW_AUTH" || return
    local auth
    auth=$(dv_dialog_handle "$WINDOW_AUTH")
    expect_eq "it names the device, with empty fields" "$SECURE||" \
        "$(pmauto get-text '#32770' "$WINDOW_AUTH" 1027)|$(pmauto get-text '#32770' "$WINDOW_AUTH" 1028)|$(pmauto get-text '#32770' "$WINDOW_AUTH" 1030)"
    # A wrong password first: the device asks again.
    pmauto type '#32770' "$WINDOW_AUTH" 1028 admin >/dev/null
    pmauto type '#32770' "$WINDOW_AUTH" 1030 wrong1 >/dev/null
    expect_eq "the typed user name" admin "$(pmauto get-text '#32770' "$WINDOW_AUTH" 1028)"
    shot devices-auth
    pmauto click '#32770' "$WINDOW_AUTH" 1 >/dev/null
    check "a wrong password is asked for again" dv_wait_new_dialog "$WINDOW_AUTH" "$auth" 5 || return
    expect_eq "the new dialog starts empty" "" "$(pmauto get-text '#32770' "$WINDOW_AUTH" 1028)"
    pmauto type '#32770' "$WINDOW_AUTH" 1028 admin >/dev/null
    pmauto type '#32770' "$WINDOW_AUTH" 1030 s3cret >/dev/null
    pmauto click '#32770' "$WINDOW_AUTH" 1 >/dev/null
    check "Configure Device opens" dv_wait_dialog "$WINDOW_CONFIGURE" || return
    expect_eq "three queries: default, typed wrong, typed right credentials" \
        "$(dv_digest_of tolmo tolmo) status=1 $(dv_digest_of admin wrong1) status=1 $(dv_digest_of admin s3cret) ports=2" \
        "$(dv_log 3 19 | while read -r l; do printf '%s %s ' "$(dv_field "$l" digest)" "$(printf '%s' "$l" | grep -o 'status=[0-9]*\|ports=[0-9]*')"; done | sed 's/ $//')"
    sleep 0.3
    shot devices-configure
    expect_eq "the device's port rows" \
        "$(printf '%s\n' $'1\tRS-232\t\t115200\t8\tNone\t1' $'2\tRS-485\t\t9600\t7\tEven\t2')" \
        "$(dv_dialog_rows "$WINDOW_CONFIGURE" 1031)"

    # Map Serial Port on port 1.
    pmauto list-select '#32770' "$WINDOW_CONFIGURE" 1031 0 >/dev/null
    pmauto click '#32770' "$WINDOW_CONFIGURE" 1032 >/dev/null
    check "Map Serial Port opens the creation dialog" dv_wait_dialog "$WINDOW_AUTO" || return
    expect_eq "128 COM names offered" "128 enabled" \
        "$(dv_combo_count "$WINDOW_AUTO" 1037) $(dv_control_state "$WINDOW_AUTO" 1037)"
    echo "  (first free COM name offered: $(dv_combo_selected "$WINDOW_AUTO" 1037))"
    expect_eq "connections offered, UDP chosen" "UDP,TCP Client UDP" \
        "$(dv_combo_items "$WINDOW_AUTO" 1038) $(dv_combo_selected "$WINDOW_AUTO" 1038)"
    expect_eq "the port's interfaces, its own chosen" "RS-232,RS-485 RS-232" \
        "$(dv_combo_items "$WINDOW_AUTO" 1015) $(dv_combo_selected "$WINDOW_AUTO" 1015)"
    expect_eq "its line settings chosen" "115200 8 None 1" \
        "$(dv_combo_selected "$WINDOW_AUTO" 1017) $(dv_combo_selected "$WINDOW_AUTO" 1019) $(dv_combo_selected "$WINDOW_AUTO" 1021) $(dv_combo_selected "$WINDOW_AUTO" 1023)"
    local pick
    for pick in "1037 COM52" "1038 UDP" "1015 RS-485" "1017 38400" "1019 7" "1021 Even" "1023 2"; do
        pmauto combo-select '#32770' "$WINDOW_AUTO" ${pick% *} "${pick#* }" >/dev/null
    done
    shot devices-auto-create
    dv_devsim_ctl log 3 clear >/dev/null
    pmauto click '#32770' "$WINDOW_AUTO" 1 >/dev/null
    check "OK closes the creation dialog" dv_gone_dialog "$WINDOW_AUTO" || return

    # What the device was told.
    local set record
    set=$(dv_log 3 20 | tail -1)
    record=$(dv_field "$set" payload)
    expect_eq "one write with the typed credentials, accepted" "1 $(dv_digest_of admin s3cret) status=0" \
        "$(dv_log 3 20 | wc -l) $(dv_field "$set" digest) $(printf '%s' "$set" | grep -o 'status=[0-9]*')"
    expect_eq "for port number 1" 1 "$(dv_byte "$record" 0)"
    record=${record:2}
    expect_eq "line settings 38400 7E2, bits 29-31 kept" 0xad109600 "$(dv_le32 "$record" 0)"
    expect_eq "peer address: the PC's lab address" $LAB_PC "$(dv_hex_text "$record" 4 32)"
    dv_peer_port=$(dv_le16 "$record" 36)
    expect_eq "device port unchanged, UDP work mode" "4101 4" "$(dv_le16 "$record" 38) $(dv_byte "$record" 40)"
    expect_eq "interface RS-485, supported interfaces kept" "2 3" "$(dv_byte "$record" 42) $(dv_byte "$record" 43)"
    expect_eq "bytes not interpreted go back unchanged" "$SEED_RESERVED $SEED_TAIL" \
        "$(dv_hex_at "$record" 41 1) $(dv_hex_at "$record" 44 24)"
    expect_eq "the device took them" "line=0xad109600 mode=4 dport=4101 peer=$LAB_PC pport=$dv_peer_port if=2 ifs=3" \
        "$(dv_devsim_ctl show 3 | grep '^port 1 ' | cut -d' ' -f3-9)"

    dv_ini_line=$(tr -d '\r' < "$DRIVE_C/windows/parlo.ini" 2>/dev/null | grep -F '=COM52 ' | cut -d= -f2-)
    expect_eq "parlo.ini lists the new port" "COM52 10.231.1.13 4101 enable udp $dv_peer_port" "$dv_ini_line"

    # The list is read again a second later.
    local end=$((SECONDS + 8))
    while [ $SECONDS -lt $end ] && [ "$(dv_dialog_rows "$WINDOW_CONFIGURE" 1031 | head -1 | cut -f2)" != RS-485 ]; do
        sleep 0.2
    done
    expect_eq "the port list shows the new settings" $'1\tRS-485\t38400\t7\tEven\t2' \
        "$(dv_dialog_rows "$WINDOW_CONFIGURE" 1031 | head -1 | cut -f1,2,4-)"

    # Closing asks about a reboot; Cancel reboots nothing.
    pmauto close '#32770' "$WINDOW_CONFIGURE" >/dev/null
    local box
    box=$(dv_msgbox 5000)
    shot devices-configure-reboot-prompt
    expect_eq "closing asks about a reboot" "WARNING	$REBOOT_ADVICE	warning	#32770" "$box"
    dv_answer 1000 2
    check "Configure Device closes" dv_gone_dialog "$WINDOW_CONFIGURE" || return
    expect_eq "Cancel sends no reboot" 0 "$(dv_log 3 16 | wc -l)"

    # The new COM port carries the device's data.
    check "COM52 reaches Connected" dv_wait_main_state COM52 Connected 20 || return
    expect_eq "its row" $'COM52\t \tUDP\t10.231.1.13\t4101\t'"$dv_peer_port"$'\t0\t0\tConnected' "$(dv_main_row COM52)"
    shot devices-com52-connected
    serialprog exchange COM52 38400 'road\r\n' 8 5000 > "$LAB_WORK/road.out"
    expect_eq "a serial program on COM52 talks with the device" "got 8 <\\x20road\\r\\n" "$(head -1 "$LAB_WORK/road.out")"
    serialprog listen COM52 38400 15000 11 > "$LAB_WORK/inject.out" &
    local listener=$!
    com52_open() { [ "$(dv_main_cell COM52 2)" = "38400,8N1" ]; }
    check "the listening program holds COM52" wait_for 10 com52_open
    dv_devsim_ctl inject 3 1 'from\sdevice' >/dev/null
    wait $listener
    expect_eq "and hears what the device sends" "got 11 from\\x20device" "$(head -1 "$LAB_WORK/inject.out")"
}

# Opens Configure Device for device 3 from the open scan window, then the
# creation dialog on its port 1 (already bound to COM52): with the buttons,
# or with double-clicks on the rows when $1 is "dblclick".
open_bound_port() {
    if [ "${1:-}" = dblclick ]; then
        pmauto list-dblclick '#32770' "$WINDOW_SCAN" 1009 "$(dv_scan_row_of $SECURE)" >/dev/null
        check "a double-click on the device opens Configure Device" dv_wait_dialog "$WINDOW_CONFIGURE" || return 1
        pmauto list-dblclick '#32770' "$WINDOW_CONFIGURE" 1031 0 >/dev/null
        check "a double-click on port 1 opens the creation dialog" dv_wait_dialog "$WINDOW_AUTO"
        return
    fi
    dv_select_device $SECURE
    pmauto click '#32770' "$WINDOW_SCAN" 1015 >/dev/null
    check "Device Settings opens Configure Device" dv_wait_dialog "$WINDOW_CONFIGURE" || return 1
    pmauto list-select '#32770' "$WINDOW_CONFIGURE" 1031 0 >/dev/null
    pmauto click '#32770' "$WINDOW_CONFIGURE" 1032 >/dev/null
    check "Map Serial Port opens the creation dialog" dv_wait_dialog "$WINDOW_AUTO"
}

# Closes Configure Device (Cancel to the reboot question) and the scan window.
close_configure_and_scan() {
    pmauto close '#32770' "$WINDOW_CONFIGURE" >/dev/null
    dv_answer 5000 2
    dv_gone_dialog "$WINDOW_CONFIGURE"
    pmauto close '#32770' "$WINDOW_SCAN" >/dev/null
    check "back to the main window" dv_gone_dialog "$WINDOW_SCAN"
}

# ---- 2: a device port already bound to a COM port ----

bound() {
    echo "scenario: a device port already bound to a COM port"
    dv_open_scan || return
    dv_devsim_ctl log 3 clear >/dev/null
    open_bound_port || return
    expect_eq "the typed credentials are kept: one query, no Authentication" "1 $(dv_digest_of admin s3cret)" \
        "$(dv_log 3 19 | wc -l) $(dv_field "$(dv_log 3 19 | tail -1)" digest)"
    expect_eq "port 1 shows its COM port" $'1\tRS-485\tCOM52\t38400\t7\tEven\t2' \
        "$(dv_dialog_rows "$WINDOW_CONFIGURE" 1031 | head -1)"
    expect_eq "only the bound COM name, disabled" "1 COM52 disabled" \
        "$(dv_combo_count "$WINDOW_AUTO" 1037) $(dv_combo_selected "$WINDOW_AUTO" 1037) $(dv_control_state "$WINDOW_AUTO" 1037)"
    expect_eq "the entry's connection chosen" UDP "$(dv_combo_selected "$WINDOW_AUTO" 1038)"
    shot devices-bound-port
    local entry set record
    entry=$(dv_entry_of COM52)
    pmauto combo-select '#32770' "$WINDOW_AUTO" 1038 "TCP Client" >/dev/null
    dv_devsim_ctl log 3 clear >/dev/null
    pmauto click '#32770' "$WINDOW_AUTO" 1 >/dev/null
    check "OK closes the creation dialog" dv_gone_dialog "$WINDOW_AUTO" || return
    set=$(dv_log 3 20 | tail -1)
    record=$(dv_field "$set" payload)
    record=${record:2}
    expect_eq "TCP work mode; peer address and port stay as the device had them" "2 $LAB_PC $dv_peer_port" \
        "$(dv_byte "$record" 40) $(dv_hex_text "$record" 4 32) $(dv_le16 "$record" 36)"
    # The running entry restarts onto its new target.
    local end=$((SECONDS + 20))
    while [ $SECONDS -lt $end ] && [ "$(dv_main_row COM52 | cut -f3,9)" != $'TCP Client\tConnected' ]; do sleep 0.2; done
    local row
    row=$(dv_main_row COM52)
    expect_eq "re-targeted in place: TCP Client, connected again" \
        "COM52 TCP Client 10.231.1.13 4101 Connected $entry 1" \
        "$(printf '%s' "$row" | cut -f1,3,4,5,9 | tr '\t' ' ') $(dv_entry_of COM52) $(dv_main_rows | grep -c '^COM52')"
    check "with a new local port" test "$(printf '%s' "$row" | cut -f6)" != "$dv_peer_port"
    expect_eq "re-targeting leaves parlo.ini to the next close" "$dv_ini_line" \
        "$(tr -d '\r' < "$DRIVE_C/windows/parlo.ini" 2>/dev/null | grep -F '=COM52 ' | cut -d= -f2-)"
    serialprog exchange COM52 38400 'tcp\r\n' 7 5000 > "$LAB_WORK/tcp.out"
    expect_eq "data goes over TCP now" "got 7 <\\x20tcp\\r\\n" "$(head -1 "$LAB_WORK/tcp.out")"
    expect_eq "the device holds the PC's connection" "mode=tcp conns=1" \
        "$(dv_devsim_ctl data 3 | head -1 | grep -o 'mode=[a-z]*\|conns=[0-9]*' | paste -sd' ')"
    close_configure_and_scan || return

    # A stopped entry stays stopped.
    pmauto list-select PARLOMGR - 1000 "$(dv_main_row_index COM52)" >/dev/null
    pmauto command PARLOMGR 148 >/dev/null   # Device > Stop Connection
    check "Stop Connection stops COM52" dv_wait_main_state COM52 Stop 10 || return
    dv_open_scan || return
    open_bound_port dblclick || return
    expect_eq "the stopped entry's connection chosen" "TCP Client" "$(dv_combo_selected "$WINDOW_AUTO" 1038)"
    pmauto combo-select '#32770' "$WINDOW_AUTO" 1038 UDP >/dev/null
    dv_devsim_ctl log 3 clear >/dev/null
    pmauto click '#32770' "$WINDOW_AUTO" 1 >/dev/null
    check "OK closes the creation dialog" dv_gone_dialog "$WINDOW_AUTO" || return
    record=$(dv_field "$(dv_log 3 20 | tail -1)" payload)
    dv_peer_port=$(dv_le16 "${record:2}" 36)
    retarget_seen() { echo "$(dv_main_row COM52 | cut -f3,6,9 | tr '\t' ' ') $(pmauto port-show "$entry" | grep -o 'command=[0-9]*')"; }
    expect_soon "re-targeted to UDP and still stopped" "UDP $dv_peer_port Stop command=2" 10 retarget_seen
    shot devices-stopped-retargeted
    close_configure_and_scan || return
    pmauto list-select PARLOMGR - 1000 "$(dv_main_row_index COM52)" >/dev/null
    pmauto command PARLOMGR 147 >/dev/null   # Device > Start Connection
    check "Start Connection brings it up on the new target" dv_wait_main_state COM52 Connected 20 || return
    serialprog exchange COM52 38400 'udp\r\n' 7 5000 > "$LAB_WORK/udp.out"
    expect_eq "data goes over UDP again" "got 7 <\\x20udp\\r\\n" "$(head -1 "$LAB_WORK/udp.out")"
}

# ---- 3: network settings ----

network() {
    echo "scenario: network settings, reboot, and the device at its new address"
    dv_open_scan || return
    dv_select_device NETDEV-2
    pmauto click '#32770' "$WINDOW_SCAN" 1016 >/dev/null
    check "Network Settings opens Network Configurations" dv_wait_dialog "$WINDOW_NETWORK" || return
    local id shown=""
    for id in 1018 1019 1020 1022 1023; do shown="$shown $(pmauto get-text '#32770' "$WINDOW_NETWORK" $id)"; done
    expect_eq "the device's addresses in the fields" " 10.231.1.12 255.255.0.0 10.231.0.254 10.231.0.53 0.0.0.0" "$shown"
    expect_eq "its mode chosen" "STATIC IP,DHCP STATIC IP" \
        "$(dv_combo_items "$WINDOW_NETWORK" 1021) $(dv_combo_selected "$WINDOW_NETWORK" 1021)"
    shot devices-network
    pmauto set-text '#32770' "$WINDOW_NETWORK" 1018 10.231.1.77 >/dev/null
    pmauto combo-select '#32770' "$WINDOW_NETWORK" 1021 DHCP >/dev/null
    dv_devsim_ctl log 2 clear >/dev/null
    local probes
    probes=$(dv_probes)
    pmauto click '#32770' "$WINDOW_NETWORK" 1 >/dev/null
    # This device keeps the default credentials, not the ones typed for device 3.
    check "the device asks for its credentials" dv_wait_dialog "$WINDOW_AUTH" || return
    expect_eq "for itself" NETDEV-2 "$(pmauto get-text '#32770' "$WINDOW_AUTH" 1027)"
    pmauto type '#32770' "$WINDOW_AUTH" 1028 tolmo >/dev/null
    pmauto type '#32770' "$WINDOW_AUTH" 1030 tolmo >/dev/null
    pmauto click '#32770' "$WINDOW_AUTH" 1 >/dev/null
    local box
    box=$(dv_msgbox 5000)
    shot devices-network-reboot-prompt
    expect_eq "then asks about a reboot" "WARNING	$REBOOT_ADVICE	warning	#32770" "$box"
    dv_answer 1000 1
    check "OK ends the dialog" dv_gone_dialog "$WINDOW_NETWORK" || return
    check "no failure message" dv_no_msgbox 500
    local sets config
    sets=$(dv_log 2 18)
    expect_eq "the settings went twice: refused with the old credentials, taken with the new" \
        "$(dv_digest_of admin s3cret) status=1 $(dv_digest_of tolmo tolmo) status=0" \
        "$(printf '%s\n' "$sets" | while read -r l; do printf '%s %s ' "$(dv_field "$l" digest)" "$(printf '%s' "$l" | grep -o 'status=[0-9]*')"; done | sed 's/ $//')"
    config=$(dv_field "$(printf '%s\n' "$sets" | tail -1)" payload)
    expect_eq "address, mask, gateway, DNS servers, DHCP, seven zero bytes" \
        "10.231.1.77 255.255.0.0 10.231.0.254 10.231.0.53 0.0.0.0 2 00000000000000" \
        "$(dv_hex_ip "$config" 0) $(dv_hex_ip "$config" 4) $(dv_hex_ip "$config" 8) $(dv_hex_ip "$config" 12) $(dv_hex_ip "$config" 16) $(dv_byte "$config" 20) $(dv_hex_at "$config" 21 7)"
    expect_eq "then the reboot" "1 01 status=0" \
        "$(dv_log 2 16 | wc -l) $(dv_field "$(dv_log 2 16)" payload) $(dv_log 2 16 | grep -o 'status=[0-9]*')"
    # The window scans again at once, while the device still reboots.
    check "the window scans again" dv_wait_scan 10 "$probes"
    expect_eq "a rebooting device does not answer" "SECURE000003 ROADDEV00001" "$(dv_scan_rows | cut -f2 | paste -sd' ')"
    local end=$((SECONDS + 6))
    while [ $SECONDS -lt $end ] && ! dv_devsim_ctl list | grep -q '^2 .*rebooting=0 reboots=1'; do sleep 0.2; done
    expect_eq "after its reboot the device runs the new settings" "ip=10.231.1.77 addrmode=2" \
        "$(dv_devsim_ctl show 2 | head -1 | grep -o 'ip=[0-9.]*\|addrmode=[0-9]*' | paste -sd' ')"
    probes=$(dv_probes)
    pmauto click '#32770' "$WINDOW_SCAN" 1012 >/dev/null
    check "Scan Device scans again" dv_wait_scan 10 "$probes"
    shot devices-network-rescan
    expect_eq "the rescan finds it at its new address" $'DS-B\tNETDEV-2\t1.0.03\\n\t10.231.1.77\t80' \
        "$(dv_scan_rows | grep NETDEV-2)"
}

# ---- 4: Reboot Device and Browse ----

reboot_and_browse() {
    echo "scenario: Reboot Device asks first; Browse hands the address to the shell"
    check "the scan window is still open" dv_wait_dialog "$WINDOW_SCAN" 0 || return
    dv_devsim_ctl log 1 clear >/dev/null
    dv_select_device ROADDEV00001
    pmauto click '#32770' "$WINDOW_SCAN" 1017 >/dev/null
    local box
    box=$(dv_msgbox 5000)
    shot devices-reboot-prompt
    expect_eq "Reboot Device asks first" $'WARNING\tAre you sure to reboot the device DS-A ROADDEV00001 ?\twarning\t#32770' "$box"
    dv_answer 1000 2
    sleep 0.5
    expect_eq "Cancel sends nothing" 0 "$(dv_log 1 | wc -l)"
    pmauto click '#32770' "$WINDOW_SCAN" 1017 >/dev/null
    dv_answer 5000 1
    local end=$((SECONDS + 3))
    while [ $SECONDS -lt $end ] && [ -z "$(dv_log 1 16)" ]; do sleep 0.1; done
    expect_eq "OK reboots it, with no message after" "01 status=0 $(dv_digest_of tolmo tolmo)" \
        "$(dv_field "$(dv_log 1 16)" payload) $(dv_log 1 16 | grep -o 'status=[0-9]*') $(dv_field "$(dv_log 1 16)" digest)"
    check "no message follows" dv_no_msgbox 1000
    expect_eq "the device rebooted once" "reboots=1" "$(dv_devsim_ctl list | grep '^1 ' | grep -o 'reboots=[0-9]*')"

    rm -f "$PARLO_DIR/browse.txt"
    local d
    for d in 1 2 3; do dv_devsim_ctl log $d clear >/dev/null; done
    dv_select_device ROADDEV00001
    pmauto click '#32770' "$WINDOW_SCAN" 1034 >/dev/null
    end=$((SECONDS + 10))
    while [ $SECONDS -lt $end ] && [ ! -s "$PARLO_DIR/browse.txt" ]; do sleep 0.2; done
    expect_eq "Browse opens the device's web page" "http://10.231.1.11:8080" "$(tr -d '\r' < "$PARLO_DIR/browse.txt" 2>/dev/null)"
    expect_eq "and sends no request to any device" 0 "$( (dv_log 1; dv_log 2; dv_log 3) | wc -l)"
    shot devices-after-browse
}

dv_inner() {
    dv_start || { lab_inner_end; return; }
    pmauto device-set-port $DEV3 $SECURE admin s3cret 1 "$SEED_RECORD" > "$LAB_WORK/seed.out"
    check "device 3's port 1 seeded" grep -qx 'status 0' "$LAB_WORK/seed.out"
    dv_devsim_ctl misbehave 1 delay=300 on=discover >/dev/null
    start_manager parlo
    check "main window appears" quiet pmauto wait-window PARLOMGR - 30000 || { lab_inner_end; return; }
    check "the service publishes the table" pmauto table-wait 10000
    local part start
    for part in road bound network reboot_and_browse; do
        start=$SECONDS
        "$part"
        echo "  ($part: $((SECONDS - start)) s)"
        # The next part starts from the main window, or from the scan
        # window that the network part leaves open for the last one.
        [ "$part" = network ] || dv_close_dialogs
    done
    lab_inner_end
}

if [ "${1:-}" = "--inner" ]; then
    dv_inner
else
    echo "scenario: device servers through the lab"
    LAB_MULTICAST=1 lab_scenario "$DV_SCRIPT" devices "$DV_CONFIG" dv_inner
fi
