# The installer and the uninstaller under Wine, in the lab: a silent install
# registers and starts PARLOSVR from the install folder, the manager started
# there shows the table, a port made in it survives a silent install over it
# (the host restores it from parlo.ini), and a silent uninstall takes the
# service, the pairs, the files, the shortcut and the Programs and Features
# entry away and keeps parlo.ini; a second uninstall finishes cleanly.
IN_SCRIPT=${BASH_SOURCE[0]}
source "$(dirname "$IN_SCRIPT")/lib.sh"

SETUP="$ROOT/build/dist/ParloMgr-3.3.3-setup.exe"
CREATE="Create Virtual Serial Port"
INSTALL_WIN='C:\Program Files (x86)\ParloMgr'
INSTALL_DIR="$DRIVE_C/Program Files (x86)/ParloMgr"
SHORTCUT="$DRIVE_C/ProgramData/Microsoft/Windows/Start Menu/Programs/ParloMgr.lnk"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ParloMgr'

installed_files() { (cd "$INSTALL_DIR" 2>/dev/null && ls | tr '\n' ' '); }
# Value $1 of the Programs and Features entry (the installer is 32-bit).
uninstall_value() {
    wine reg query "$UNINSTALL_KEY" /v "$1" /reg:32 2>/dev/null | tr -d '\r' |
        awk -v v="$1" '$1 == v { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }'
}
entry_gone() { ! wine reg query "$UNINSTALL_KEY" /reg:32 >/dev/null 2>&1; }
wait_entry_gone() {
    local end=$((SECONDS + $1))
    while [ $SECONDS -lt $end ]; do entry_gone && return 0; sleep 0.5; done
    return 1
}
service_line() { pmauto service-config PARLOSVR; }
# The program the Application log's source PARLOSVR names, or nothing.
event_source() {
    wine reg query 'HKLM\System\CurrentControlSet\Services\EventLog\Application\PARLOSVR' /v EventMessageFile \
        2>/dev/null | tr -d '\r' | sed -n 's/^ *EventMessageFile  *REG_EXPAND_SZ  *//p'
}
# The shortcut's working folder (one of its counted UTF-16 strings: the count
# goes) and its run-as-administrator flag.
shortcut_folder() { strings -el "$SHORTCUT" 2>/dev/null | sed 's/^.*C:/C:/' | grep -qFx "$INSTALL_WIN"; }
shortcut_runas() { [ $(( $(od -An -tu1 -j21 -N1 "$SHORTCUT") & 32 )) -ne 0 ]; }
pairs_held() { grep -c '^COM' "$LAB_WORK/paird.state" 2>/dev/null; }
close_manager() {
    pmauto command PARLOMGR 105 >/dev/null
    wait_manager 20
}

in_inner() {
    # Shortcuts stay inside the prefix: no menu entries for the machine's desktop.
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
    use_virtual_desktop
    rm -f "$LAB_WORK/paird.pid" "$LAB_WORK/paird.state"
    "$NBIN/parlo-paird" --prefix "$WINEPREFIX" --pidfile "$LAB_WORK/paird.pid" --log "$LAB_WORK/paird.log" \
        --state "$LAB_WORK/paird.state"
    check "pair daemon started" test -s "$LAB_WORK/paird.pid" || { lab_inner_end; return; }
    local running="type=0x110 start=2 error=1 state=4 path=\"$INSTALL_WIN\\ParloHost.exe\" display=PARLOSVR"

    echo "-- silent install"
    expect_eq "the installer ends with 0" 0 "$(wine "$SETUP" /S >/dev/null 2>&1; echo $?)"
    check "the service publishes the table" pmauto table-wait 10000
    expect_eq "PARLOSVR as the manager registers it, quoted path, running" "$running" "$(service_line)"
    expect_eq "its event source names the installed program" "$INSTALL_WIN\ParloHost.exe" "$(event_source)"
    expect_eq "the three files and the uninstaller" "ParloHost.exe ParloMgr.exe Uninstall.exe VSPDCTL.DLL " \
        "$(installed_files)"
    check "the shortcut starts in the install folder" shortcut_folder
    check "the shortcut runs as administrator" shortcut_runas
    expect_eq "Programs and Features: name, version, publisher, uninstaller" \
        "ParloMgr|3.3.3|Quorvat|\"$INSTALL_WIN\\Uninstall.exe\"" \
        "$(uninstall_value DisplayName)|$(uninstall_value DisplayVersion)|$(uninstall_value Publisher)|$(uninstall_value UninstallString)"

    echo "-- the manager from the shortcut's folder, a port"
    start_manager "Program Files (x86)/ParloMgr"
    check "main window appears" quiet pmauto wait-window PARLOMGR - 30000 || { lab_inner_end; return; }
    expect_eq "it shows the (empty) table" $'rows\t0' "$(pmauto list PARLOMGR - 1000 | head -1 | cut -f1,2)"
    pmauto command PARLOMGR 32772 >/dev/null
    pmauto wait-window '#32770' "$CREATE" 10000 >/dev/null
    pmauto combo-select '#32770' "$CREATE" 1002 COM45 >/dev/null
    pmauto set-text '#32770' "$CREATE" 1003 "$LAB_DEV" >/dev/null
    pmauto set-text '#32770' "$CREATE" 1006 4001 >/dev/null
    pmauto click '#32770' "$CREATE" 1 >/dev/null
    check "the port connects" wait_state COM45 Connected 20
    shot installer-port
    close_manager
    expect_eq "the service is still the installer's" "$running" "$(service_line)"

    echo "-- silent install over it"
    expect_eq "the installer ends with 0" 0 "$(wine "$SETUP" /S >/dev/null 2>&1; echo $?)"
    check "the service publishes the table again" pmauto table-wait 10000
    expect_eq "the service runs again" "$running" "$(service_line)"
    start_manager "Program Files (x86)/ParloMgr"
    check "main window appears" quiet pmauto wait-window PARLOMGR - 30000
    check "the port is back and connects" wait_state COM45 Connected 20
    check "its pair is there" test -e "$WINEPREFIX/dosdevices/com45"
    close_manager

    echo "-- silent uninstall"
    mkdir -p "$DRIVE_C/again"
    cp "$INSTALL_DIR/Uninstall.exe" "$DRIVE_C/again/"
    wine "$INSTALL_WIN\\Uninstall.exe" /S >/dev/null 2>&1
    # The uninstaller runs on as a copy of itself; its entry goes last.
    check "the Programs and Features entry goes" wait_entry_gone 60
    expect_eq "the service is gone" missing "$(service_line)"
    expect_eq "its event source is gone" "" "$(event_source)"
    check "the pairs are gone" test ! -e "$WINEPREFIX/dosdevices/com45" -a ! -e "$WINEPREFIX/dosdevices/null_com45"
    expect_eq "the pair daemon holds none" 0 "$(pairs_held)"
    check "the files are gone" test ! -e "$INSTALL_DIR"
    check "the shortcut is gone" test ! -e "$SHORTCUT"
    expect_eq "parlo.ini is kept" "entry_v1_1=COM45 $LAB_DEV 4001 enable tcpc 6001" \
        "$(tr -d '\r' < "$DRIVE_C/windows/parlo.ini" 2>/dev/null)"
    check "the window settings are kept" test -n "$(settings_hex)"

    echo "-- a second uninstall"
    expect_eq "it ends with 0" 0 \
        "$(wine 'C:\again\Uninstall.exe' /S "_?=$INSTALL_WIN" >/dev/null 2>&1; echo $?)"
    expect_eq "parlo.ini is still kept" 1 "$(grep -c COM45 "$DRIVE_C/windows/parlo.ini" 2>/dev/null)"

    lab_inner_end
}

if [ "${1:-}" = "--inner" ]; then
    in_inner
elif [ ! -f "$SETUP" ]; then
    echo "scenario: installer"
    fail "$SETUP is not built (make dist)"
elif [ "$BIN" != "$ROOT/build/win32/bin" ]; then
    echo "scenario: installer skipped: the installer is a 32-bit program and the tests run the x86_64 build"
else
    echo "scenario: installer"
    lab_scenario "$IN_SCRIPT" installer "device sn=INSTALL00001 ip=$LAB_DEV ports=1
port 1 mode=tcp dport=4001 prefix=>\s" in_inner
fi
