// A 32-bit top-down DIB section selected into a memory context of its own:
// pixels that GDI draws on and the program reads and writes directly.
#pragma once
#include <windows.h>

struct DibSurface {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    unsigned* bits;  // width x height, top row first, no padding
    int width, height;
};

enum { DIB_SURFACE_MAX_PIXELS = 16 * 1024 * 1024 };

// Makes a surface of width x height pixels (at most DIB_SURFACE_MAX_PIXELS).
// On failure returns false and s holds nothing.
bool makeDibSurface(DibSurface* s, int width, int height);

// Frees what s holds, if anything, and empties it.
void freeDibSurface(DibSurface* s);
