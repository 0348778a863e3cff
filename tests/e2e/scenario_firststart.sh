# First start on a fresh prefix: the manager installs and starts PARLOSVR
# from its working directory (one with a space in its name), opens its main
# window with an empty port list, and on close leaves its
# settings in the registry and an empty parlo.ini in the Windows folder. A
# second start takes the stored window place back.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

echo "scenario: first start"
use_virtual_desktop
FS_DIR="Parlo Tools"
mkdir -p "$DRIVE_C/$FS_DIR"
cp "$BIN/ParloMgr.exe" "$BIN/ParloHost.exe" "$BIN/VSPDCTL.DLL" "$DRIVE_C/$FS_DIR/"
INI="$DRIVE_C/windows/parlo.ini"
SETTINGS_KEY='HKCU\Software\Quorvat\ParloMgr'

expect_eq "no service before the first start" missing "$(pmauto service-config PARLOSVR)"
check "no settings key before the first start" bash -c '! wine reg query "$0" >/dev/null 2>&1' "$SETTINGS_KEY"
check "no parlo.ini before the first start" test ! -e "$INI"

start_manager "$FS_DIR"
window=$(pmauto wait-window PARLOMGR "Serial Port Server Administration Tools" 30000)
check "main window appears with its title" test -n "$window"
expect_eq "service installed from the working directory and running" \
    'type=0x110 start=2 error=1 state=4 path="C:\Parlo Tools\ParloHost.exe" display=PARLOSVR' \
    "$(pmauto service-config PARLOSVR)"
check "the host's table is mapped" pmauto table-wait 5000

list=$(pmauto list PARLOMGR - 1000)
expect_eq "the port list is empty, nothing selected" $'rows\t0\tcolumns\t9\tmark\t-1' "$(echo "$list" | head -1)"
expect_eq "the list's default column widths" \
    $'width=80\twidth=100\twidth=100\twidth=80\twidth=80\twidth=100\twidth=100\twidth=100\twidth=100' \
    "$(echo "$list" | sed -n 2p)"
expect_eq "the list's column titles" \
    $'Serial Port\tOpen State\tConnection\tRemote IP\tRemote Port\tLocal Port\tRX Bytes\tTX Bytes\tState' \
    "$(pmauto headers PARLOMGR - 1000)"
shot firststart-main

check "the settings key is made at start" quiet wine reg query "$SETTINGS_KEY"
expect_eq "no settings value before the first close" "" "$(settings_hex)"

# Close: the settings and parlo.ini are written.
read -r _ left top right bottom <<< "$window"
pmauto command PARLOMGR 105 >/dev/null
wait_manager 20
expect_eq "Exit ends with code 0" 0 "$manager_rc"
hex=$(settings_hex)
expect_eq "Settings is 160 bytes" 320 "${#hex}"
expect_eq "Settings begins with the version 410" 410 "$(hex_word "$hex" 0)"
expect_eq "Settings holds the window's place and size" "$left $top $((right - left)) $((bottom - top))" \
    "$(hex_word "$hex" 4) $(hex_word "$hex" 8) $(hex_word "$hex" 12) $(hex_word "$hex" 16)"
widths=""
for slot in $(seq 0 15); do widths+="$(hex_word "$hex" $((20 + slot * 4))) "; done
expect_eq "Settings holds the default column widths" "80 100 100 80 80 100 100 100 100 60 80 80 80 300 -1 0 " "$widths"
expect_eq "Settings' flag bytes and padding" 000000010100_0000 "${hex:168:12}_${hex:180:4}"
expect_eq "Settings' font: height 18, width 0, weight 400" "18 0 400" \
    "$(hex_word "$hex" 92) $(hex_word "$hex" 96) $(hex_word "$hex" 108)"
expect_eq "Settings' font face" "$(hex 'MS Shell Dlg')00" "${hex:240:26}"
expect_eq "Settings' row colours" FFFFFF00FF000000 "${hex:304:16}"
check "parlo.ini is in the Windows folder" test -f "$INI"
expect_eq "parlo.ini is empty without ports" 0 "$(stat -c %s "$INI" 2>/dev/null)"
service_running() { pmauto service-config PARLOSVR | grep -q ' state=4 '; }
check "the service outlives the manager" service_running

# A second start: the window comes back where the user left it.
start_manager "$FS_DIR"
pmauto wait-window PARLOMGR - 30000 >/dev/null
pmauto move PARLOMGR 40 30 700 500 >/dev/null
sleep 0.3
shot firststart-moved
pmauto keys PARLOMGR alt+f4 >/dev/null
wait_manager 20
expect_eq "Alt+F4 ends with code 0" 0 "$manager_rc"
hex=$(settings_hex)
expect_eq "the moved place is stored" "40 30 700 500" \
    "$(hex_word "$hex" 4) $(hex_word "$hex" 8) $(hex_word "$hex" 12) $(hex_word "$hex" 16)"
start_manager "$FS_DIR"
window=$(pmauto wait-window PARLOMGR - 30000)
expect_eq "the third start opens at the stored place" "40 30 740 530" "$(echo "$window" | cut -f2-5 | tr '\t' ' ')"
expect_eq "the service was started, not installed again" \
    'type=0x110 start=2 error=1 state=4 path="C:\Parlo Tools\ParloHost.exe" display=PARLOSVR' \
    "$(pmauto service-config PARLOSVR)"
shot firststart-restored
pmauto command PARLOMGR 105 >/dev/null
wait_manager 20
pmauto service-delete PARLOSVR >/dev/null
