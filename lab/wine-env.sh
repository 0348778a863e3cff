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

# Boots the prefix once. It is a 64-bit prefix; with 32-bit Wine installed
# it runs 32-bit programs too (Wine adds that half to an older prefix by
# itself when the installation changes).
boot_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
}
