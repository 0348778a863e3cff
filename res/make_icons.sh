#!/usr/bin/env bash
# Remakes the program's icons with ImageMagick: parlomgr.ico and
# parlomgr_small.ico, each with images of 16, 20, 24, 32, 40 and 48 pixels,
# so that every display scaling finds its size drawn rather than stretched.
# The 16 and 32-pixel images are the hand-drawn ones already in the files;
# the others are drawn from the same shapes on the 32-pixel grid (a rounded
# square, the connector's outline, its five pins), at eight times the size
# and reduced, so their edges are smoothed as the hand-drawn ones are.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The existing image of a size, whatever its place in the file.
existing() {
    local size=$1 i
    for i in $(seq 0 $(($(identify parlomgr.ico | wc -l) - 1))); do
        if [ "$(identify -format '%w' "parlomgr.ico[$i]")" = "$size" ]; then
            convert "parlomgr.ico[$i]" -depth 8 "PNG32:$work/$size.png"
            return
        fi
    done
    echo "make_icons: parlomgr.ico has no $size-pixel image" >&2
    exit 1
}

drawn() {
    local size=$1
    local shapes
    shapes=$(python3 - "$size" <<'PY'
import sys
n = int(sys.argv[1]); f = n * 8 / 32
# Drawing coordinates are pixel centres: an edge at e lies at e - 0.5.
def at(v): return v * f - 0.5
# The connector's top and bottom edges fall on whole pixels at every size.
def row(y): return round(y * n / 32) * 32 / n
blue = "'#1F5FA8'"
print("fill %s roundrectangle %.2f,%.2f %.2f,%.2f %.2f,%.2f" % (blue, at(1), at(1), at(31), at(31), 5 * f, 5 * f))
outline = [(7, row(11)), (26, row(11)), (23, row(22)), (10, row(22))]
print("fill white polygon " + " ".join("%.2f,%.2f" % (at(x), at(y)) for x, y in outline))
for x, y in [(11.5, 14.5), (16.5, 14.5), (21.5, 14.5), (14, 18.5), (19, 18.5)]:
    print("fill %s circle %.2f,%.2f %.2f,%.2f" % (blue, at(x), at(y), at(x + 1.5), at(y)))
PY
)
    convert -size $((size * 8))x$((size * 8)) xc:none -draw "$shapes" -filter box -resize "${size}x${size}" \
        -depth 8 "PNG32:$work/$size.png"
}

existing 16
existing 32
for size in 20 24 40 48; do drawn "$size"; done

# The big icon lists its sizes largest first, the small one smallest first.
convert "$work"/{48,40,32,24,20,16}.png parlomgr.ico
convert "$work"/{16,20,24,32,40,48}.png parlomgr_small.ico
identify parlomgr.ico parlomgr_small.ico
