# Shared helpers of the e2e scenarios: the manager under Wine driven by pmauto.
# Sourced inside lab/with-wine.sh, so WINEPREFIX and DISPLAY are set.

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
BIN=${BIN:-$(bash "$ROOT/lab/test-build.sh")/bin}
SHOTS=${SHOTS:-$ROOT/build/e2e/shots}
DRIVE_C="$WINEPREFIX/drive_c"
PARLO_DIR="$DRIVE_C/parlo"
mkdir -p "$SHOTS"

e2e_passed=0
e2e_failed=0

pass() { e2e_passed=$((e2e_passed + 1)); echo "  ok: $*"; }
fail() { e2e_failed=$((e2e_failed + 1)); echo "  FAILED: $*"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; return 1; fi; }
expect_eq() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; return 1; fi; }
# Runs a command with its output dropped (for check).
quiet() { "$@" >/dev/null 2>&1; }
# Runs the command after $1 until it succeeds or $1 seconds have passed.
wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.1
    done
}
# expect_eq on what the command after $3 prints, once it prints $2 or $3
# seconds have passed: for what follows an action a moment later.
expect_soon() {
    local what=$1 want=$2 end=$((SECONDS + $3)) got
    shift 3
    while got=$("$@"); [ "$got" != "$want" ] && [ $SECONDS -lt $end ]; do sleep 0.1; done
    expect_eq "$what" "$want" "$got"
}

pmauto() { wine "$BIN/pmauto.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

shot() { /usr/bin/import -display "$DISPLAY" -window root "$SHOTS/$1.png" 2>/dev/null && echo "  screenshot: $SHOTS/$1.png"; }

# Wine's ReportEvent writes no log, but prints each event's strings on the
# eventlog channel and its id on advapi's fixme line. A scenario that sets
# SERVICES_LOG before its session starts finds there what the services
# (ParloHost) reported; host_events reads it.
HOST_EVENT_DEBUG=err+eventlog,warn+eventlog,trace+eventlog,fixme+advapi

# The manager inside a Wine virtual desktop, where keyboard input from
# another program reaches it.
use_virtual_desktop() {
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # The desktop is chosen when Wine starts: begin a new session.
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    if [ -n "${SERVICES_LOG:-}" ]; then
        WINEDEBUG=$HOST_EVENT_DEBUG start_wineserver "$SERVICES_LOG"
    else
        start_wineserver
    fi
}

# The events ParloHost reported so far (SERVICES_LOG), one a line: the event
# id (its severity bits left out), then its strings, tab-separated.
host_events() {
    awk '
    function hex(s,   v, i) {
        s = tolower(s); sub(/^0x/, "", s); v = 0
        for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
        return v
    }
    /:fixme:advapi:ReportEventW \(/ {
        t = substr($0, 1, index($0, ":") - 1)
        s = $0; sub(/.*ReportEventW \(/, "", s); split(s, f, ",")
        line[t] = hex(f[4]) % 65536; want[t] = hex(f[6])
        if (want[t] == 0) { print line[t]; delete want[t] }
        next
    }
    /:eventlog:ReportEventW L"/ {
        t = substr($0, 1, index($0, ":") - 1)
        if (!(t in want)) next
        s = $0; sub(/^[^"]*"/, "", s); sub(/"$/, "", s)
        gsub(/\\\\/, "\001", s); gsub(/\\"/, "\"", s); gsub(/\001/, "\\", s)
        line[t] = line[t] "\t" s
        if (--want[t] == 0) { print line[t]; delete want[t] }
    }' "$SERVICES_LOG" 2>/dev/null
}

# Waits up to $2 seconds until ParloHost has reported an event whose
# host_events line begins with the text $1.
wait_host_event() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        host_events | EVENT="$1" awk 'index($0, ENVIRON["EVENT"]) == 1 { found = 1 } END { exit !found }' && return 0
        sleep 0.2
    done
    return 1
}

# The Linux process of this prefix whose command name is $1.
prefix_pid() {
    local p c
    for p in /proc/[0-9]*; do
        { read -r c < "$p/comm"; } 2>/dev/null || continue
        [ "$c" = "$1" ] || continue
        { tr '\0' '\n' < "$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && { echo "${p#/proc/}"; return; }
    done
}

install_binaries() {
    mkdir -p "$PARLO_DIR"
    cp "$BIN/ParloMgr.exe" "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$PARLO_DIR/"
}

# Starts ParloMgr.exe from folder $1 (relative to C:\); sets manager_pid.
start_manager() {
    (cd "$DRIVE_C/$1" && exec wine ParloMgr.exe) &
    manager_pid=$!
}

# Waits up to $1 seconds for the manager to end; sets manager_rc.
wait_manager() {
    local limit=$(( $1 * 10 ))
    for _ in $(seq 1 "$limit"); do
        if ! kill -0 "$manager_pid" 2>/dev/null; then
            wait "$manager_pid"; manager_rc=$?
            return 0
        fi
        sleep 0.1
    done
    kill "$manager_pid" 2>/dev/null; wait "$manager_pid" 2>/dev/null
    manager_rc=timeout
    return 1
}

# ---- reading the manager's windows ----

# The main list's row of a COM name: Serial Port, Open State, Connection,
# Remote IP, Remote Port, Local Port, Rx Bytes, Tx Bytes, State (tab-separated).
list_row() { pmauto list PARLOMGR - 1000 | awk -F'\t' -v c="$1" 'NR > 2 && $2 == c { $1 = ""; sub(/^\t/, ""); print; exit }' OFS='\t'; }
list_cell() { list_row "$1" | cut -f"$2"; }
# The COM names of the main list's rows, in row order, space-separated.
list_names() { pmauto list PARLOMGR - 1000 | awk -F'\t' 'NR > 2 { printf "%s%s", sep, $2; sep = " " }'; }
# The row number of a COM name in the main list, or nothing.
list_index() { pmauto list PARLOMGR - 1000 | awk -F'\t' -v c="$1" 'NR > 2 && $2 == c { print NR - 3; exit }'; }

# Waits up to $3 seconds until the list shows $2 in the State cell of $1.
wait_state() { wait_cell "$1" 9 "$2" "$3"; }

# Waits up to $4 seconds until cell $2 (1-based) of row $1 reads $3.
wait_cell() {
    local end=$((SECONDS + $4))
    while [ $SECONDS -lt $end ]; do
        [ "$(list_cell "$1" "$2")" = "$3" ] && return 0
        sleep 0.2
    done
    return 1
}

# Waits up to $2 seconds until the COM name $1 has no row.
wait_row_gone() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        [ -z "$(list_index "$1")" ] && return 0
        sleep 0.2
    done
    return 1
}

# Selects the row of a COM name in the main list, as a click would.
select_port() {
    local row
    row=$(list_index "$1")
    [ -n "$row" ] && pmauto list-select PARLOMGR - 1000 "$row" >/dev/null
}

# The text of control $2 of the dialog titled $1.
dialog_text() { pmauto get-text '#32770' "$1" "$2"; }
# The "enabled"/"disabled" state of control $2 of the dialog titled $1.
dialog_enabled() { pmauto controls '#32770' "$1" | awk -F'\t' -v id="$2" '$1 == id { print $3; exit }'; }
# The selected entry of combo box $2 of the dialog titled $1, as text.
combo_selected() { pmauto combo '#32770' "$1" "$2" | awk -F'\t' 'NR > 1 && $2 == "*" { print $3; exit }'; }

# A message box as seen within $1 ms: "caption<TAB>text<TAB>icon<TAB>owner
# class", the icon told by its picture. The box stays open.
msgbox_seen() {
    local box icon
    box=$(pmauto msgbox "$1") || return 1
    icon=$(pmauto msgbox-icon 3000)
    printf '%s\n' "$box" | awk -F'\t' -v i="$icon" 'BEGIN { OFS = "\t" } { $3 = i; print }'
}
# Answers the message box with button $2 (1 OK, 2 Cancel, 6 Yes, 7 No).
answer_msgbox() { pmauto msgbox "$1" "$2"; }

# The registry value HKCU\Software\Quorvat\ParloMgr\Settings as one line of
# upper-case hex digits, or nothing when it is missing.
settings_hex() {
    wine reg query 'HKCU\Software\Quorvat\ParloMgr' /v Settings 2>/dev/null | tr -d '\r' |
        awk '$1 == "Settings" && $2 == "REG_BINARY" { print toupper($3) }'
}
# The little-endian 32-bit word at byte offset $2 of hex text $1, signed.
hex_word() {
    local b=${1:$(($2 * 2)):8}
    [ ${#b} -eq 8 ] || { echo "?"; return 1; }
    local v=$((16#${b:6:2}${b:4:2}${b:2:2}${b:0:2}))
    [ $v -ge 2147483648 ] && v=$((v - 4294967296))
    echo $v
}

# A text as upper-case hex digit pairs without separators.
hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }

serialprog() { wine "$BIN/serialprog.exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Field $2 of port-show's line for table entry $1 (inuse, present, command, capture, write...).
port_field() { pmauto port-show "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'; }

# ---- scenarios in the lab ----
#
# A scenario that needs real data or devices runs in the lab, with devsim in
# its device namespace and the manager's Wine session in its PC namespace, so
# everything Wine sends stays in the lab. Inside the test run's own lab
# (lab/in-lab.sh) that is this very session. Otherwise the outer part (what
# run.sh sources) builds a lab of its own and runs the scenario script again
# with --inner, in a Wine session started inside its PC namespace; that
# session reuses the outer session's freshly booted prefix when there is one.

NBIN=${NBIN:-$ROOT/build/native/bin}
LAB_DEV=10.231.1.1
LAB_PC=10.231.0.1

# True when this shell already runs in the PC namespace of the lab that the
# test run built, with its Wine session started there.
lab_in_run_lab() {
    [ -n "${PARLO_LAB_RUNID:-}" ] &&
        [ "$(ip netns identify $$ 2>/dev/null)" = "$(bash "$ROOT/lab/netns.sh" name "$PARLO_LAB_RUNID" pc)" ]
}

# lab_scenario SCRIPT NAME DEVSIM_CONFIG INNER: runs the function INNER (or
# "SCRIPT --inner") in the lab with devsim started from DEVSIM_CONFIG. devsim
# hears the management group only when LAB_MULTICAST is 1. INNER ends with
# lab_inner_end, which hands its counts over.
lab_scenario() {
    local script=$1 name=$2 config=$3 inner=$4 lab
    # Named after the outer session, so runs side by side keep apart.
    LAB_WORK=${LAB_WORK:-$ROOT/build/e2e/$(basename "${WINEPREFIX:-$name}")}
    LAB_DEVSIM_SOCK="$LAB_WORK/devsim.sock"
    if [ "$(id -u)" -ne 0 ] || [ ! -x "$NBIN/devsim" ] || [ ! -x "$NBIN/parlo-paird" ]; then
        fail "$name needs root (for the lab) and the native devsim and parlo-paird in $NBIN"
        return
    fi
    mkdir -p "$LAB_WORK"
    rm -f "$LAB_WORK"/inner.counts "$LAB_DEVSIM_SOCK"
    lab_runid=""
    lab_devsim_pid=""
    trap lab_teardown EXIT
    if lab_in_run_lab; then
        lab=$PARLO_LAB_RUNID
    else
        lab_runid="${name:0:12}$$"
        lab=$lab_runid
        if ! bash "$ROOT/lab/netns.sh" up "$lab" >/dev/null; then
            fail "lab up"
            lab_runid=""
            return
        fi
    fi

    local group=(--no-multicast)
    [ "${LAB_MULTICAST:-0}" = 1 ] && group=()
    printf '%s\n' "$config" > "$LAB_WORK/devsim.conf"
    bash "$ROOT/lab/netns.sh" exec "$lab" dev "$NBIN/devsim" --config "$LAB_WORK/devsim.conf" \
        --control "$LAB_DEVSIM_SOCK" "${group[@]}" > "$LAB_WORK/devsim.log" 2>&1 &
    lab_devsim_pid=$!
    for _ in $(seq 50); do [ -S "$LAB_DEVSIM_SOCK" ] && break; sleep 0.1; done
    check "devsim runs in the device namespace" test -S "$LAB_DEVSIM_SOCK"

    if [ -z "$lab_runid" ]; then
        "$inner"
    else
        # The outer session's prefix, when it is one of ours and nothing of
        # Wine runs on it any more; otherwise a fresh one of the scenario's own.
        local session=(--name "e2e-$name-lab" --fresh)
        if [ -n "${WINEPREFIX:-}" ] && [ "$(dirname "$WINEPREFIX")" = "$ROOT/build/wine" ] &&
            [ -f "$WINEPREFIX/system.reg" ]; then
            wineserver -k >/dev/null 2>&1
            wineserver -w >/dev/null 2>&1
            session=(--name "$(basename "$WINEPREFIX")")
        fi
        bash "$ROOT/lab/netns.sh" exec "$lab" pc env BIN="$BIN" NBIN="$NBIN" SHOTS="$SHOTS" \
            LAB_WORK="$LAB_WORK" LAB_DEVSIM_SOCK="$LAB_DEVSIM_SOCK" \
            bash "$ROOT/lab/with-wine.sh" "${session[@]}" -- bash "$script" --inner \
            2> "$LAB_WORK/wine-stderr.log"
        if [ -f "$LAB_WORK/inner.counts" ]; then
            read -r p f < "$LAB_WORK/inner.counts"
            e2e_passed=$((e2e_passed + p))
            e2e_failed=$((e2e_failed + f))
        else
            fail "the lab part did not finish"
        fi
    fi
    lab_teardown
    trap - EXIT
}

lab_teardown() {
    if [ -n "${lab_devsim_pid:-}" ]; then
        kill "$lab_devsim_pid" 2>/dev/null
        wait "$lab_devsim_pid" 2>/dev/null
        lab_devsim_pid=""
    fi
    [ -n "${lab_runid:-}" ] && bash "$ROOT/lab/netns.sh" down "$lab_runid" >/dev/null 2>&1
    lab_runid=""
}

devsim_ctl() { "$NBIN/devsim" --ctl "$LAB_DEVSIM_SOCK" "$@"; }

# The inner part's session: a virtual desktop, the binaries, and the pair
# daemon for this prefix. Returns 1 when the daemon did not start.
lab_inner_prepare() {
    use_virtual_desktop
    install_binaries
    rm -f "$LAB_WORK/paird.pid"
    "$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$LAB_WORK/paird.pid" --log "$LAB_WORK/paird.log"
    check "pair daemon started" test -s "$LAB_WORK/paird.pid"
}

# The inner part's start: its session, the manager, the host's table.
# Returns 1 when something is missing.
lab_inner_start() {
    lab_inner_prepare || return 1
    start_manager parlo
    check "main window appears" quiet pmauto wait-window PARLOMGR - 30000 || return 1
    # Wide enough that screenshots show every column.
    pmauto move PARLOMGR 0 0 880 520 >/dev/null
    check "the service publishes the table" pmauto table-wait 10000 || return 1
}

# The inner part's end: the manager closed, the service gone, the pair
# daemon stopped, the counts handed to the outer part.
lab_inner_end() {
    if pmauto wait-window PARLOMGR - 0 >/dev/null 2>&1; then
        pmauto command PARLOMGR 105 >/dev/null
        wait_manager 20
    fi
    pmauto service-delete PARLOSVR >/dev/null
    [ -s "$LAB_WORK/paird.pid" ] && kill "$(cat "$LAB_WORK/paird.pid")" 2>/dev/null
    echo "$e2e_passed $e2e_failed" > "$LAB_WORK/inner.counts"
}
