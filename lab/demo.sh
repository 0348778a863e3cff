#!/usr/bin/env bash
# The headless demo: runs inside lab/with-wine.sh, walks the manager's main
# window and writes screenshots to the folder given.
set -uo pipefail
SHOTS=$1
source "$(dirname "$0")/../tests/e2e/lib.sh"
SHOTS=$1

use_virtual_desktop
install_binaries
start_manager parlo
pmauto wait-window PARLOMGR - 30000 >/dev/null || { echo "demo: the main window did not appear"; exit 1; }
shot demo-1-main
pmauto keys PARLOMGR f10 down >/dev/null
sleep 0.5
shot demo-2-device-menu
pmauto keys PARLOMGR esc esc >/dev/null
pmauto keys PARLOMGR alt+/ >/dev/null
pmauto wait-window '#32770' About 5000 >/dev/null
shot demo-3-about
pmauto keys '#32770' esc >/dev/null
pmauto command PARLOMGR 105 >/dev/null
wait_manager 20 || true
pmauto service-delete PARLOSVR >/dev/null
