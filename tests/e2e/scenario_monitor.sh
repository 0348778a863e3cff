# The Monitor window on a port with data flowing, in the lab: Monitor COM on
# the selected row, Stop and Start, traffic from a serial program as rows,
# the dump of a selected row, Save into a log typed into the save dialog
# (checked byte for byte), Clear, and Exit. What the window shows is checked
# against the host's capture ring, rendered here on its own.
MN_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$MN_SCRIPT")/lib.sh"

MON=Monitor
SAVE="Save File ..."

mon_click() { pmauto click '#32770' "$MON" "$1" >/dev/null; }
mon_rows() { pmauto list '#32770' "$MON" 1007 | awk -F'\t' 'NR > 2' | cut -f2-; }
mon_row_count() { pmauto list '#32770' "$MON" 1007 | awk -F'\t' 'NR == 1 { print $2 }'; }
# "Start" and "Stop" as enabled/disabled, e.g. "disabled enabled".
mon_buttons() { echo "$(dialog_enabled "$MON" 33000) $(dialog_enabled "$MON" 33001)"; }
wait_buttons() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        [ "$(mon_buttons)" = "$1" ] && return 0
        sleep 0.2
    done
    return 1
}
wait_rows() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        [ "$(mon_row_count)" = "$1" ] && return 0
        sleep 0.2
    done
    return 1
}
# The save dialog's question before it overwrites a file (its wording is the system's).
asks_replace() { [[ "$1" == "$SAVE"$'\t'*"already exists"*$'\t'warning$'\t'* ]]; }
no_save_dialog() { ! pmauto wait-window '#32770' "$SAVE" 1500 >/dev/null; }
# Types $1 as the save dialog's file name, reads it back (typed again until
# the dialog shows it, 5 s at most), and presses Save.
press_save() {
    local end=$((SECONDS + 5))
    until pmauto set-text '#32770' "$SAVE" 1148 "$1" >/dev/null && [ "$(dialog_text "$SAVE" 1148)" = "$1" ]; do
        [ $SECONDS -lt $end ] || { echo "  the save dialog did not take the name $1" >&2; return 1; }
        sleep 0.2
    done
    pmauto click '#32770' "$SAVE" 1 >/dev/null
}
# Saves as $1 and waits for the dialog to close (save_closes) or to ask before
# replacing the file (save_asks, printing the question as msgbox_seen does).
# Save is pressed once more if neither came within 5 s, and the dialog's
# controls are shown: a press the dialog lost is not the manager's fault,
# while what is checked is what the manager does once the dialog returns.
save_closes() {
    press_save "$1" && pmauto wait-gone '#32770' "$SAVE" 5000 && return 0
    save_pressed_again "$1" && pmauto wait-gone '#32770' "$SAVE" 10000
}
save_asks() {
    press_save "$1" && msgbox_seen 5000 && return 0
    save_pressed_again "$1" && msgbox_seen 5000
}
save_pressed_again() {
    {
        echo "  the save dialog is still open 5 s after Save; pressed again. Its controls:"
        pmauto controls '#32770' "$SAVE" | sed 's/^/    /'
    } >&2
    press_save "$1"
}

# Renders the capture ring as pmauto capture-dump prints it, on its own:
#   mode=rows    the Monitor's rows: #, Time, RX/TX, Bytes, Data
#   mode=detail  the dump of slot $slot, CR and LF written as \r and \n
#   mode=log     the traffic log of the first $count slots, byte for byte
#   mode=data    the bytes of one direction ($dir), as hex, joined
render_ring() {
    awk -F'\t' -v mode="$1" -v slot="${2:-0}" -v count="${2:-0}" -v dir="${2:-}" '
    function byteAt(h, k) { return (index(HEX, substr(h, 2 * k + 1, 1)) - 1) * 16 + index(HEX, substr(h, 2 * k + 2, 1)) - 1 }
    function isFrame(h, n,   c, sum, k) {
        if (n <= 4 || byteAt(h, 0) != 165 || byteAt(h, 1) != 90) return 0
        c = byteAt(h, 2)
        if (c > n - 4) return 0
        sum = 0
        for (k = 0; k < c; k++) sum = (sum + byteAt(h, 3 + k)) % 256
        return byteAt(h, 3 + c) == 255 - sum
    }
    function ch(b) { return b >= 32 && b <= 126 ? sprintf("%c", b) : "?" }
    # One dump line of bytes from..from+31, as hex or characters.
    function dumpLine(h, n, from, asHex,   k, s) {
        s = ""
        for (k = from; k < from + 32 && k < n; k++) {
            if (k - from == 16) s = s "    "
            s = s (asHex ? sprintf("%02x ", byteAt(h, k)) : ch(byteAt(h, k)))
        }
        return s
    }
    function preview(h, n,   k, s, shown) {
        if (isFrame(h, n)) return ""
        shown = n < 16 ? n : 16
        s = ""
        for (k = 0; k < shown; k++) s = s sprintf("%02X", byteAt(h, k)) (k == 15 && n > 16 ? "..." : " ")
        return s
    }
    BEGIN { HEX = "0123456789ABCDEF" }
    NR == 1 { split($0, head, /[ =]/); start = head[2]; rate = head[4]; next }
    {
        n = $3; h = $5; secs = ($4 - start) / rate; lines = int((n + 31) / 32)
        if (mode == "rows")
            printf "%d\t%f\t%s\t%d\t%s\n", $1, secs, $2, n, preview(h, n)
        else if (mode == "data" && $2 == dir)
            printf "%s", h
        else if (mode == "detail" && $1 == slot) {
            if (isFrame(h, n)) exit
            printf "HEX:\\r\\n"
            for (l = 0; l < lines; l++) printf "%s\\r\\n", dumpLine(h, n, l * 32, 1)
            printf "ASCII:\\r\\n"
            for (l = 0; l < lines; l++) printf "%s\\r\\n", dumpLine(h, n, l * 32, 0)
            printf "\\r\\n\n"
        } else if (mode == "log" && $1 < count) {
            printf "%05d  %08f  %s  %03d\r\n", $1, secs, $2, n
            if (!isFrame(h, n)) {
                printf "\tHEX:"
                for (l = 0; l < lines; l++) printf "\r\n            %s", dumpLine(h, n, l * 32, 1)
                printf "\r\n\tASCII:"
                for (l = 0; l < lines; l++) printf "\r\n            %s", dumpLine(h, n, l * 32, 0)
            }
            printf "\r\n\r\n"
        }
    }'
}

mn_inner() {
    lab_inner_start || { lab_inner_end; return; }
    pmauto port-create 0 COM45 $LAB_DEV 4001 enable tcpc 0 >/dev/null
    check "the port connects" wait_state COM45 Connected 20

    echo "-- Monitor COM"
    select_port COM45
    pmauto command PARLOMGR 32777 >/dev/null
    check "Monitor COM opens the Monitor" quiet pmauto wait-window '#32770' "$MON" 10000
    expect_eq "its columns" $'#\tTime\tRX/TX\tBytes\tData' "$(pmauto headers '#32770' "$MON" 1007)"
    check "capture runs: Start disabled, Stop enabled" wait_buttons "disabled enabled" 5
    expect_eq "the host captures" 1 "$(port_field 0 capture)"
    expect_eq "the list starts empty" 0 "$(mon_row_count)"
    shot monitor-open

    mon_click 33001
    check "Stop: Start enabled, Stop disabled" wait_buttons "enabled disabled" 5
    serialprog exchange COM45 9600 'early\r\n' 9 5000 > "$LAB_WORK/early.out"
    expect_eq "traffic before Start goes through" "got 9 >\\x20early\\r\\n" "$(head -1 "$LAB_WORK/early.out")"
    sleep 0.3
    expect_eq "but shows no row" 0 "$(mon_row_count)"

    echo "-- Start, traffic"
    mon_click 33000
    check "Start: Stop enabled again" wait_buttons "disabled enabled" 5
    local long='%s 100% \x00\x7F\xC8~ the quick brown fox jumps over\r\n'
    serialprog exchange COM45 9600 'hello\r\n' 9 5000 > "$LAB_WORK/hello.out"
    serialprog exchange COM45 9600 "$long" 47 5000 > "$LAB_WORK/long.out"
    serialprog exchange COM45 9600 '\xA5\x5A\x02\x10\x20\xCF' 8 5000 > "$LAB_WORK/frame.out"
    expect_eq "the three exchanges" "got 9|got 47|got 8" \
        "$(cut -d' ' -f1,2 "$LAB_WORK/hello.out" | head -1)|$(cut -d' ' -f1,2 "$LAB_WORK/long.out" | head -1)|$(cut -d' ' -f1,2 "$LAB_WORK/frame.out" | head -1)"
    local dump records
    dump=$(pmauto capture-dump 0)
    records=$(echo "$dump" | head -1 | sed 's/.*records=//')
    check "the host captured them" test "${records:-0}" -ge 6
    check "every captured record shows as a row" wait_rows "$records" 5
    expect_eq "the rows: number, time, direction, length, preview" "$(echo "$dump" | render_ring rows)" "$(mon_rows)"
    local sent received
    sent=$( { printf 'hello\r\n%%s 100%% '; printf '\x00\x7F\xC8~'; printf ' the quick brown fox jumps over\r\n'; printf '\xA5\x5A\x02\x10\x20\xCF'; } | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
    received=$( { printf '> hello\r\n> %%s 100%% '; printf '\x00\x7F\xC8~'; printf ' the quick brown fox jumps over\r\n> '; printf '\xA5\x5A\x02\x10\x20\xCF'; } | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
    expect_eq "the sent records hold what the program wrote" "$sent" "$(echo "$dump" | render_ring data tx)"
    expect_eq "the received records hold what came back" "$received" "$(echo "$dump" | render_ring data rx)"
    expect_eq "the frame's row has an empty Data cell" \
        $'tx\t6\t' "$(mon_rows | awk -F'\t' '$4 == 6 { print $3 "\t" $4 "\t" $5 }')"

    echo "-- a selected row's dump"
    local slot
    slot=$(echo "$dump" | awk -F'\t' 'NR > 1 && $2 == "rx" && $3 == 9 { print $1; exit }')
    pmauto list-select '#32770' "$MON" 1007 "$slot" >/dev/null
    expect_soon "the dump of the received hello" 'HEX:\r\n3e 20 68 65 6c 6c 6f 0d 0a \r\nASCII:\r\n> hello??\r\n\r\n' 5 \
        dialog_text "$MON" 1008
    slot=$(echo "$dump" | awk -F'\t' 'NR > 1 && $3 > 32 { print $1; exit }')
    pmauto list-select '#32770' "$MON" 1007 "$slot" >/dev/null
    expect_soon "a two-line dump" "$(echo "$dump" | render_ring detail "$slot")" 5 dialog_text "$MON" 1008
    shot monitor-rows
    slot=$(echo "$dump" | awk -F'\t' 'NR > 1 && $3 == 6 { print $1; exit }')
    pmauto list-select '#32770' "$MON" 1007 "$slot" >/dev/null
    expect_soon "a frame's dump is empty" "" 5 dialog_text "$MON" 1008
    expect_eq "row colours: received tinted, sent plain, selected highlighted" \
        "E7E6FF $(pmauto syscolor 5) $(pmauto syscolor 13)" \
        "$(pmauto row-colour '#32770' "$MON" 1007 1) $(pmauto row-colour '#32770' "$MON" 1007 0) $(pmauto row-colour '#32770' "$MON" 1007 "$slot")"

    echo "-- Stop, Save"
    mon_click 33001
    check "Stop" wait_buttons "enabled disabled" 5
    local shown
    shown=$(mon_row_count)
    serialprog exchange COM45 9600 'after\r\n' 7 3000 > /dev/null
    sleep 0.3
    expect_eq "no rows while stopped" "$shown" "$(mon_row_count)"
    rm -f "$DRIVE_C/parlo/traffic.log"
    mon_click 33002
    check "Save opens the save dialog" quiet pmauto wait-window '#32770' "$SAVE" 10000
    shot monitor-save-dialog
    expect_eq "it offers the program's folder and the log type" "parlo|Traffic log (*.log)" \
        "$(dialog_text "$SAVE" 1137)|$(dialog_text "$SAVE" 1136)"
    # A bare name: the dialog's folder and the .log extension complete it.
    check "the save dialog closes" save_closes traffic
    # The manager writes it once the dialog has closed: a moment later.
    check "the log is written" wait_for 5 test -s "$DRIVE_C/parlo/traffic.log"
    echo "$dump" | render_ring log "$shown" > "$LAB_WORK/expected.log"
    check "the log holds every shown record, byte for byte" cmp "$LAB_WORK/expected.log" "$DRIVE_C/parlo/traffic.log"
    check "the log keeps a percent sign and s as they were" grep -q '%s 100% ' "$DRIVE_C/parlo/traffic.log"

    echo "-- Clear, Start again, Exit"
    mon_click 33004
    check "Clear empties the list" wait_rows 0 3
    expect_eq "and the dump" "" "$(dialog_text "$MON" 1008)"
    expect_eq "and the host's ring" 0 "$(port_field 0 write)"
    mon_click 33002
    check "Save with nothing shown opens nothing" no_save_dialog
    shot monitor-cleared
    mon_click 33000
    wait_buttons "disabled enabled" 5
    serialprog exchange COM45 9600 'again\r\n' 9 5000 > /dev/null
    check "new traffic shows again" wait_rows 2 5
    expect_eq "numbered from 0 after Clear" "0 1" "$(mon_rows | cut -f1 | tr '\n' ' ' | sed 's/ $//')"

    # Saving under the same name again asks before replacing the log.
    dump=$(pmauto capture-dump 0)
    mon_click 33002
    pmauto wait-window '#32770' "$SAVE" 10000 >/dev/null
    local box
    box=$(save_asks traffic)
    shot monitor-replace
    answer_msgbox 1000 7 >/dev/null
    check "an existing log is not replaced without asking" asks_replace "$box"
    sleep 0.3
    check "No keeps the old log" cmp "$LAB_WORK/expected.log" "$DRIVE_C/parlo/traffic.log"
    check "and the save dialog open" quiet pmauto wait-window '#32770' "$SAVE" 0
    save_asks traffic >/dev/null
    answer_msgbox 1000 6 >/dev/null
    pmauto wait-gone '#32770' "$SAVE" 5000
    echo "$dump" | render_ring log 2 > "$LAB_WORK/expected2.log"
    check "Yes replaces it with the rows now shown" wait_for 5 quiet cmp "$LAB_WORK/expected2.log" "$DRIVE_C/parlo/traffic.log"
    pmauto column-width '#32770' "$MON" 1007 0 45 >/dev/null
    pmauto column-width '#32770' "$MON" 1007 4 220 >/dev/null
    mon_click 1
    check "Exit closes the Monitor" pmauto wait-gone '#32770' "$MON" 5000
    expect_soon "Exit stops the capture" 0 5 port_field 0 capture
    check "the main window is back" quiet pmauto wait-window PARLOMGR - 0

    echo "-- Ctrl+M opens it again, Esc closes it"
    pmauto keys PARLOMGR ctrl+m >/dev/null
    check "Ctrl+M opens the Monitor on the selected row" quiet pmauto wait-window '#32770' "$MON" 10000
    check "capturing again" wait_buttons "disabled enabled" 5
    expect_eq "empty, with the column widths it was left with" $'rows\t0|width=45\twidth=80\twidth=80\twidth=80\twidth=220' \
        "$(pmauto list '#32770' "$MON" 1007 | head -2 | cut -f1,2 | head -1)|$(pmauto list '#32770' "$MON" 1007 | sed -n 2p)"
    shot monitor-reopened
    pmauto keys '#32770' esc >/dev/null
    check "Esc closes the Monitor" pmauto wait-gone '#32770' "$MON" 5000
    expect_soon "and stops the capture" 0 5 port_field 0 capture
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20
    local hex widths=""
    hex=$(settings_hex)
    for slot in 9 10 11 12 13; do widths+="$(hex_word "$hex" $((20 + slot * 4))) "; done
    expect_eq "the Monitor's column widths reach the registry at the close" "45 80 80 80 220 " "$widths"

    lab_inner_end
}

if [ "${1:-}" = "--inner" ]; then
    mn_inner
else
    echo "scenario: the Monitor with data flowing"
    lab_scenario "$MN_SCRIPT" monitor "device sn=MONITOR00001 ip=$LAB_DEV ports=1
port 1 mode=tcp dport=4001 prefix=>\s" mn_inner
fi
