# Sourced by the scripts that run Wine: the environment of our sessions for
# the prefix build/wine/$1, and what a prefix needs before Wine starts in it.
export WINEPREFIX="$ROOT/build/wine/$1"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Caption buttons are drawn with Wine's Marlett font, which this
# distribution's Wine does not find by itself: the prefix gets a copy.
add_prefix_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
}

# The wineserver of a session is started here, not by Wine: Wine's own
# start-up makes it a session leader with no terminal, and such a process
# takes the first terminal it opens as its controlling terminal. For the
# server that is a virtual pair's pty, so deleting the pair hangs it up and
# the server gets SIGHUP (and dumps its whole object table). Started here it
# stays in the caller's session, never its leader, persistent until
# `wineserver -k`; what it prints goes to $WINEPREFIX/wineserver.log.
start_wineserver() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    wineserver -f -p >> "$WINEPREFIX/wineserver.log" 2>&1 < /dev/null &
    local server=$! ready=0
    # The server works in its own folder and makes its socket there.
    for _ in $(seq 1 200); do
        [ -S "/proc/$server/cwd/socket" ] && { ready=1; break; }
        kill -0 "$server" 2>/dev/null || return 1
        sleep 0.05
    done
    [ "$ready" = 1 ] || return 1
    # A persistent server keeps Wine's own services running between
    # programs: start them now, with nothing of ours as their output, or
    # they would hold the pipe of whatever program started them.
    wine cmd.exe /c exit > /dev/null 2>&1 < /dev/null
    return 0
}
export -f start_wineserver

# Boots the prefix once. It is a 64-bit prefix; with 32-bit Wine installed
# it runs 32-bit programs too (Wine adds that half to an older prefix by
# itself when the installation changes).
boot_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
}
