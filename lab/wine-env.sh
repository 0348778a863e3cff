# Sourced by the scripts that run Wine: the environment of our sessions for
# the prefix build/wine/$1, and what a prefix needs before Wine starts in it.
export WINEPREFIX="$ROOT/build/wine/$1"
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or HTML engine to offer (no network), and no menu entries or
# desktop files to make for programs of a test prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Debian's `wine` runs the 32-bit loader whenever wine32 is installed, even
# on a kernel that cannot execute 32-bit programs (no IA-32 emulation, or a
# hypervisor without it): then every Wine command fails with "Exec format
# error". There, `wine` (and `wine-stable`, which wineboot and the other
# launchers call) is pointed at the 64-bit loader, so the x86_64 build runs.
if [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ] \
   && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    PARLO_WINE_SHIM="$ROOT/build/wine/bin64"
    if [ ! -x "$PARLO_WINE_SHIM/wine-stable" ]; then
        mkdir -p "$PARLO_WINE_SHIM"
        printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
            > "$PARLO_WINE_SHIM/wine-stable"
        chmod +x "$PARLO_WINE_SHIM/wine-stable"
        ln -sf wine-stable "$PARLO_WINE_SHIM/wine"
    fi
    case ":$PATH:" in *":$PARLO_WINE_SHIM:"*) ;; *) export PATH="$PARLO_WINE_SHIM:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64
fi

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
# With a file argument, Wine's own services, and the services they start
# (ParloHost), write their debug output there, as WINEDEBUG asks.
start_wineserver() {
    local services_log=${1:-/dev/null}
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
    wine cmd.exe /c exit > /dev/null 2>> "$services_log" < /dev/null
    return 0
}
export -f start_wineserver

# Boots the prefix once. It is a 64-bit prefix; with 32-bit Wine installed
# it runs 32-bit programs too (Wine adds that half to an older prefix by
# itself when the installation changes). Booting takes Wine tens of seconds
# on a busy machine, so one prefix is booted for the whole build tree
# (build/wine/.template) and every new prefix starts as a copy of it: as
# fresh as a boot of its own, in a second.
boot_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    local wines="$ROOT/build/wine" template="$ROOT/build/wine/.template"
    mkdir -p "$wines" "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$template/system.reg" ]; then
            rm -rf "$template.boot"
            mkdir -p "$template.boot"
            WINEPREFIX="$template.boot" wineboot -i >/dev/null 2>&1 || true
            WINEPREFIX="$template.boot" wineserver -w
            [ -f "$template.boot/system.reg" ] && rm -rf "$template" && mv "$template.boot" "$template"
        fi
    ) 9> "$wines/.template.lock"
    if [ -f "$template/system.reg" ]; then
        cp -a "$template/." "$WINEPREFIX/"
    else
        # No template could be made: this prefix boots on its own.
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
}
