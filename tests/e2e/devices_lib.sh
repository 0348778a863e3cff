# Shell helpers of the devices scenario: its session, devsim's request log
# taken apart, and the manager's device windows read through pmauto. Sourced
# after lib.sh.

# ---- the inner part's session ----

# The lab session, and the shell's handler of web addresses recording them
# instead of starting a browser, so Browse can be seen and nothing leaves.
dv_start() {
    lab_inner_prepare || return 1
    cp "$BIN/pmauto.exe" "$PARLO_DIR/"
    wine reg add 'HKCR\http\shell\open\command' /ve /f \
        /d '"C:\parlo\pmauto.exe" record-args C:\parlo\browse.txt "%1"' >/dev/null 2>&1
}

dv_devsim_ctl() { devsim_ctl "$@" 2>/dev/null; }

# devsim's log of device $1, the requests with code $2 only when given.
dv_log() {
    if [ -n "${2:-}" ]; then dv_devsim_ctl log "$1" | awk -v c="code=$2" '{ for (i = 1; i <= NF; i++) if ($i == c) { print; next } }'
    else dv_devsim_ctl log "$1"; fi
}
# One KEY=VALUE field of a log or list line.
dv_field() { printf '%s\n' "$1" | tr ' ' '\n' | sed -n "s/^$2=//p" | head -1; }

# Taking a request's payload apart (hex text, offsets in bytes). Missing
# bytes read as "?" rather than stopping the scenario.
dv_hex_at() { printf '%s' "${1:$(($2 * 2)):$(($3 * 2))}"; }
dv_number() { [ -n "$1" ] && printf '%d' "0x$1" 2>/dev/null || printf '?'; }
dv_byte() { dv_number "$(dv_hex_at "$1" "$2" 1)"; echo; }
dv_le16() { local h; h=$(dv_hex_at "$1" "$2" 2); dv_number "${h:2:2}${h:0:2}"; echo; }
dv_le32() { local h; h=$(dv_hex_at "$1" "$2" 4); echo "0x${h:6:2}${h:4:2}${h:2:2}${h:0:2}"; }
# Text up to its terminator, N bytes at most.
dv_hex_text() {
    local h b
    h=$(dv_hex_at "$1" "$2" "$3")
    while [ ${#h} -ge 2 ]; do
        b=${h:0:2}; h=${h:2}
        [ "$b" = 00 ] && break
        printf "\\x$b"
    done
    echo
}
# An IPv4 address carried in network byte order.
dv_hex_ip() {
    local h
    h=$(dv_hex_at "$1" "$2" 4)
    echo "$(dv_number "${h:0:2}").$(dv_number "${h:2:2}").$(dv_number "${h:4:2}").$(dv_number "${h:6:2}")"
}
# The digest a request carries for these credentials.
dv_digest_of() { printf '%s:mgmt.realm.0001:%s' "$1" "$2" | md5sum | cut -d' ' -f1; }

# ---- checks and windows ----

WINDOW_SCAN="Scan Online Devices"
WINDOW_AUTH="Authentication"
WINDOW_CONFIGURE="Configure Device"
WINDOW_AUTO="Automatically create serial port"
WINDOW_NETWORK="Network Configurations"

# The message box seen within $1 ms: caption, text, icon (told by its
# picture when pmauto can) and owner class, tab-separated; it stays open.
dv_msgbox() {
    local box icon
    box=$(pmauto msgbox "$1") || return 1
    icon=$(pmauto msgbox-icon 1000) || icon=$(printf '%s' "$box" | cut -f3)
    printf '%s\n' "$box" | awk -F'\t' -v i="$icon" 'BEGIN { OFS = "\t" } { $3 = i; print }'
}
# Answers the message box with button $2 (1 OK, 2 Cancel).
dv_answer() { pmauto msgbox "$1" "$2" >/dev/null; }
# True when no message box shows up within $1 ms.
dv_no_msgbox() { ! pmauto msgbox "$1" >/dev/null; }

dv_wait_dialog() { pmauto wait-window '#32770' "$1" "${2:-5000}" >/dev/null; }
dv_gone_dialog() { pmauto wait-gone '#32770' "$1" "${2:-5000}"; }
dv_dialog_handle() { pmauto wait-window '#32770' "$1" "${2:-5000}" | cut -f1; }
# Waits for a window with title $1 other than the one whose handle is $2.
dv_wait_new_dialog() {
    local end=$((SECONDS + ${3:-5})) h
    while [ $SECONDS -lt $end ]; do
        h=$(pmauto wait-window '#32770' "$1" 0 | cut -f1)
        [ -n "$h" ] && [ "$h" != "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
# "enabled" or "disabled" for control $2 of dialog $1.
dv_control_state() { pmauto controls '#32770' "$1" | awk -F'\t' -v id="$2" '$1 == id { print $3 }'; }
dv_combo_selected() { pmauto combo '#32770' "$1" "$2" | awk -F'\t' '$2 == "*" { print $3 }'; }
dv_combo_items() { pmauto combo '#32770' "$1" "$2" | tail -n +2 | cut -f3 | paste -sd, -; }
dv_combo_count() { pmauto combo '#32770' "$1" "$2" | head -1 | cut -f2; }

# Rows of a dialog's list view without the item data column, one per line.
dv_dialog_rows() { pmauto list '#32770' "$1" "$2" | tail -n +3 | cut -f2-; }
dv_dialog_row_count() { pmauto list '#32770' "$1" "$2" | head -1 | cut -f2; }

# The request number (seq) of the last probe device 1 heard, 0 for none: its
# log keeps only the last requests, so probes are told apart by number.
dv_probes() { dv_log 1 128 | sed -n 's/.* seq=\([0-9]*\) .*/\1/p' | tail -1 | grep . || echo 0; }
# The scan: waits up to $1 seconds for device 1 to hear a probe after the
# one numbered $2, then for Scan Device, disabled while a scan runs, to come
# back. (A scan that ends before the button is seen disabled is not missed,
# nor is an earlier scan's list taken for its own.)
dv_wait_scan() {
    local end=$((SECONDS + ${1:-10}))
    while [ "$(dv_probes)" -le "$2" ]; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.1
    done
    while [ $SECONDS -lt $end ]; do
        [ "$(dv_control_state "$WINDOW_SCAN" 1012)" = enabled ] && return 0
        sleep 0.1
    done
    return 1
}
dv_scan_rows() { dv_dialog_rows "$WINDOW_SCAN" 1009; }
# The row of the scan list that shows serial number $1, or nothing.
dv_scan_row_of() { dv_scan_rows | awk -F'\t' -v sn="$1" '$2 == sn { print NR - 1; exit }'; }
dv_select_device() {
    local row
    row=$(dv_scan_row_of "$1")
    [ -n "$row" ] && pmauto list-select '#32770' "$WINDOW_SCAN" 1009 "$row" >/dev/null
}

# Back to the main window alone, whatever a failed step left open: message
# boxes answered Cancel, dialogs closed from the innermost out.
dv_close_dialogs() {
    local title
    for _ in $(seq 12); do
        if pmauto msgbox 0 >/dev/null; then
            dv_answer 0 2
        else
            title=$(pmauto controls '#32770' - | head -1 | cut -f2)
            [ -z "$title" ] && return 0
            pmauto close '#32770' "$title" >/dev/null
        fi
        sleep 0.3
    done
    return 1
}

# Ctrl+S, as a user opens the window, and its first scan.
dv_open_scan() {
    local probes
    probes=$(dv_probes)
    pmauto keys PARLOMGR ctrl+s >/dev/null
    check "Ctrl+S opens Scan Online Devices" dv_wait_dialog "$WINDOW_SCAN" || return 1
    check "the scan ends" dv_wait_scan 10 "$probes"
}

# The main list's row of a COM name: Serial Port, Open State, Connection,
# Remote IP, Remote Port, Local Port, Rx Bytes, Tx Bytes, State.
dv_main_rows() { pmauto list PARLOMGR - 1000 | tail -n +3 | cut -f2-; }
dv_main_row() { dv_main_rows | awk -F'\t' -v c="$1" '$1 == c { print; exit }'; }
dv_main_cell() { dv_main_row "$1" | cut -f"$2"; }
dv_main_row_index() { dv_main_rows | awk -F'\t' -v c="$1" '$1 == c { print NR - 1; exit }'; }
dv_wait_main_state() {
    local end=$((SECONDS + $3))
    while [ $SECONDS -lt $end ]; do
        [ "$(dv_main_cell "$1" 9)" = "$2" ] && return 0
        sleep 0.2
    done
    return 1
}
# The port table entry that carries COM name $1.
dv_entry_of() {
    local i
    for i in 0 1 2 3; do
        pmauto port-show "$i" | grep -q "^com=$1 " && { echo "$i"; return 0; }
    done
    return 1
}
