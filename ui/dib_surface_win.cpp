// 32-bit memory surfaces for drawing off screen.
#include "ui/dib_surface_win.h"

bool makeDibSurface(DibSurface* s, int width, int height)
{
    *s = {};
    if (width <= 0 || height <= 0 || (long long)width * height > DIB_SURFACE_MAX_PIXELS)
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    s->dc = CreateCompatibleDC(nullptr);
    if (!s->dc)
        return false;
    s->bitmap = CreateDIBSection(s->dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!s->bitmap || !bits) {
        if (s->bitmap)
            DeleteObject(s->bitmap);
        DeleteDC(s->dc);
        *s = {};
        return false;
    }
    s->oldBitmap = SelectObject(s->dc, s->bitmap);
    s->bits = static_cast<unsigned*>(bits);
    s->width = width;
    s->height = height;
    return true;
}

void freeDibSurface(DibSurface* s)
{
    if (!s->dc)
        return;
    SelectObject(s->dc, s->oldBitmap);
    DeleteObject(s->bitmap);
    DeleteDC(s->dc);
    *s = {};
}
