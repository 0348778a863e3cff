# Shell helpers of the devices scenarios: their lab with devsim, devsim's
# request log taken apart, and the manager's device windows read through
# pmauto. Sourced after lib.sh.

NBIN=${NBIN:-$ROOT/build/native/bin}
DV_WORK=${DV_WORK:-$ROOT/build/e2e/devices}
DV_SOCK="$DV_WORK/devsim.sock"
DV_PC=10.231.0.1

# ---- the outer part: the lab, devsim in its device namespace ----

# True when this shell already runs in the PC namespace of a lab that the
# test run built (lab/in-lab.sh), with its Wine session started there.
dv_in_run_lab() {
    [ -n "${PARLO_LAB_RUNID:-}" ] &&
        [ "$(ip netns identify $$ 2>/dev/null)" = "$(bash "$ROOT/lab/netns.sh" name "$PARLO_LAB_RUNID" pc)" ]
}

# dv_outer SCRIPT DEVSIM-CONFIG INNER: starts devsim (hearing the management
# group, as real devices do) in a lab's device namespace and runs the
# function INNER with the manager's Wine session in its PC namespace. Inside
# the test run's lab that is this very session; otherwise the lab is built
# here and "SCRIPT --inner" runs in a fresh Wine session started inside it.
# Everything started here is stopped, and a lab built here is taken down.
dv_outer() {
    local script=$1 config=$2 inner=$3 lab
    if [ "$(id -u)" -ne 0 ] || [ ! -x "$NBIN/devsim" ] || [ ! -x "$NBIN/parlo-paird" ]; then
        fail "the devices scenarios need root (for the lab) and the native devsim and parlo-paird in $NBIN"
        return
    fi
    mkdir -p "$DV_WORK"
    rm -f "$DV_WORK"/inner.counts "$DV_SOCK"
    dv_devsim_pid=""
    dv_runid=""
    trap dv_teardown EXIT
    if dv_in_run_lab; then
        lab=$PARLO_LAB_RUNID
    else
        dv_runid="dv$$"
        lab=$dv_runid
        if ! bash "$ROOT/lab/netns.sh" up "$lab" >/dev/null; then
            fail "lab up"
            dv_runid=""
            return
        fi
        # Names outside the lab's hosts file fail at once instead of asking
        # a name server outside the lab.
        echo "nameserver 127.0.0.1" > "/etc/netns/$(bash "$ROOT/lab/netns.sh" name "$lab" pc)/resolv.conf"
    fi
    printf '%s\n' "$config" > "$DV_WORK/devsim.conf"
    bash "$ROOT/lab/netns.sh" exec "$lab" dev "$NBIN/devsim" --config "$DV_WORK/devsim.conf" \
        --control "$DV_SOCK" > "$DV_WORK/devsim.log" 2>&1 &
    dv_devsim_pid=$!
    for _ in $(seq 50); do [ -S "$DV_SOCK" ] && break; sleep 0.1; done
    check "devsim runs in the device namespace" test -S "$DV_SOCK"

    if [ -z "$dv_runid" ]; then
        "$inner"
    else
        bash "$ROOT/lab/netns.sh" exec "$lab" pc env BIN="$BIN" NBIN="$NBIN" SHOTS="$SHOTS" DV_WORK="$DV_WORK" \
            bash "$ROOT/lab/with-wine.sh" --name e2e-devices-lab --fresh -- bash "$script" --inner \
            2> "$DV_WORK/wine-stderr.log"
        if [ -f "$DV_WORK/inner.counts" ]; then
            read -r p f < "$DV_WORK/inner.counts"
            e2e_passed=$((e2e_passed + p))
            e2e_failed=$((e2e_failed + f))
        else
            fail "the lab part did not finish"
        fi
    fi
    dv_teardown
    trap - EXIT
}

dv_teardown() {
    if [ -n "${dv_devsim_pid:-}" ]; then
        kill "$dv_devsim_pid" 2>/dev/null
        wait "$dv_devsim_pid" 2>/dev/null
        dv_devsim_pid=""
    fi
    [ -n "${dv_runid:-}" ] && bash "$ROOT/lab/netns.sh" down "$dv_runid" >/dev/null 2>&1
    dv_runid=""
}

# ---- the inner part: the manager and its session ----

dv_start() {
    use_virtual_desktop
    install_binaries
    # The shell's handler of web addresses records them instead of starting
    # a browser, so Browse can be seen and nothing leaves.
    cp "$BIN/pmauto.exe" "$PARLO_DIR/"
    wine reg add 'HKCR\http\shell\open\command' /ve /f \
        /d '"C:\parlo\pmauto.exe" record-args C:\parlo\browse.txt "%1"' >/dev/null 2>&1
    "$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$DV_WORK/paird.pid" --log "$DV_WORK/paird.log"
    check "pair daemon started after the prefix boots" test -s "$DV_WORK/paird.pid"
}

# Everything the inner part started goes; the counts go to the outer part.
dv_finish() {
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20
    pmauto service-delete PARLOSVR >/dev/null
    kill "$(cat "$DV_WORK/paird.pid")" 2>/dev/null
    echo "$e2e_passed $e2e_failed" > "$DV_WORK/inner.counts"
}

dv_devsim_ctl() { "$NBIN/devsim" --ctl "$DV_SOCK" "$@" 2>/dev/null; }
dv_serialprog() { wine "$BIN/serialprog.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

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

# As check, but a failure also fails the caller, so a part can stop early.
dv_quiet() { "$@" >/dev/null 2>&1; }
dv_check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; return 1; fi; }

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

# The scan: Scan Device is disabled while one runs. Waits for it to start
# (it may already have) and to end.
dv_wait_scan() {
    local end=$((SECONDS + 3))
    while [ $SECONDS -lt $end ] && [ "$(dv_control_state "$WINDOW_SCAN" 1012)" = enabled ]; do sleep 0.05; done
    end=$((SECONDS + ${1:-10}))
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
    pmauto keys PARLOMGR ctrl+s >/dev/null
    dv_check "Ctrl+S opens Scan Online Devices" dv_wait_dialog "$WINDOW_SCAN" || return 1
    dv_check "the scan ends" dv_wait_scan 10
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
