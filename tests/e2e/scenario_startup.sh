# First start, menu, About by its keys, the three ways to close, and a
# start with no host at all.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

echo "scenario: start-up and close"
SERVICES_LOG="$WINEPREFIX/services.log"
rm -f "$SERVICES_LOG"
use_virtual_desktop
install_binaries
pmauto service-delete PARLOSVR >/dev/null
# A configuration the host cannot restore, edited by hand.
printf 'entry_v1_1=COM5 192.0.2.7 502 on tcpc 6001\r\n\r\n' > "$DRIVE_C/windows/parlo.ini"

start_manager parlo
check "main window appears" pmauto wait-window PARLOMGR "Serial Port Server Administration Tools" 30000
config=$(pmauto service-config PARLOSVR)
expect_eq "service installed as specified" \
    'type=0x110 start=2 error=1 state=4 path=C:\parlo\ParloHost.exe display=PARLOSVR' "$config"
# Beside it, as Wine stores them: the description, and the event source that
# names the program whose message table the Event Viewer reads.
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2  *//p"; }
expect_eq "the service's description" \
    "REG_SZ    Carries the data of ParloMgr's virtual COM ports over TCP and UDP to serial device servers, and publishes their link state, counters and traffic to ParloMgr." \
    "$(reg_value 'HKLM\System\CurrentControlSet\Services\PARLOSVR' Description)"
source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\PARLOSVR'
expect_eq "its event source" 'REG_EXPAND_SZ    C:\parlo\ParloHost.exe|REG_DWORD    0x7' \
    "$(reg_value "$source_key" EventMessageFile)|$(reg_value "$source_key" TypesSupported)"
check "its start reaches the Application log" wait_host_event $'1\t0\tC:\\windows\\parlo.ini\t0' 10
expect_eq "and the line it could not restore, with why" \
    $'4\t1\tC:\\windows\\parlo.ini\tCOM5\tits state is neither enable nor disable' \
    "$(host_events | awk -F'\t' '$1 == 4' | head -1)"

shot startup-main
pmauto keys PARLOMGR f10 down >/dev/null
sleep 0.5
shot startup-menu-open
pmauto keys PARLOMGR esc esc >/dev/null

pmauto keys PARLOMGR alt+/ >/dev/null
check "Alt+/ opens About" pmauto wait-window '#32770' About 5000
shot startup-about
pmauto keys '#32770' esc >/dev/null
check "Esc closes About" pmauto wait-gone '#32770' About 5000
pmauto keys PARLOMGR alt+shift+/ >/dev/null
check "Alt+? opens About" pmauto wait-window '#32770' About 5000
pmauto keys '#32770' enter >/dev/null
check "Enter closes About" pmauto wait-gone '#32770' About 5000

rm -f "$DRIVE_C/windows/parlo.ini"
pmauto command PARLOMGR 105 >/dev/null
wait_manager 20
expect_eq "Exit ends with code 0" 0 "$manager_rc"
check "close rewrote parlo.ini" test -f "$DRIVE_C/windows/parlo.ini"

start_manager parlo
pmauto wait-window PARLOMGR - 30000 >/dev/null
pmauto post PARLOMGR 0x0112 0xF060 0 >/dev/null   # the close box: SC_CLOSE
wait_manager 20
expect_eq "close box ends with code 0" 0 "$manager_rc"

start_manager parlo
pmauto wait-window PARLOMGR - 30000 >/dev/null
pmauto keys PARLOMGR alt+f4 >/dev/null
wait_manager 20
expect_eq "Alt+F4 ends with code 0" 0 "$manager_rc"

echo "scenario: no host"
pmauto service-delete PARLOSVR >/dev/null
mkdir -p "$DRIVE_C/nohost"
cp "$BIN/ParloMgr.exe" "$DRIVE_C/nohost/"
started=$(date +%s.%N)
start_manager nohost
box=$(pmauto msgbox 60000)
seen=$(date +%s.%N)
shot nohost-message
pmauto msgbox 1000 1 >/dev/null
wait_manager 20
expect_eq "message text, no icon, no owner" $'Error\tFailed to install ParloHost!\tnone\tnone' "$box"
check "message after about 5.1 s" awk -v a="$started" -v b="$seen" 'BEGIN { d = b - a; exit !(d >= 5.0 && d < 51) }'
expect_eq "no host ends with code 0" 0 "$manager_rc"
check "no main window was made" bash -c '! wine "$0/pmauto.exe" wait-window PARLOMGR - 0 >/dev/null 2>&1' "$BIN"
pmauto service-delete PARLOSVR >/dev/null
