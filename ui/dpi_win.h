// The display DPI of the manager's windows, and what follows it: icons, fonts, lists.
#pragma once
#include <windows.h>

#include <cstdint>

// Sent when a window moves to a display of another DPI (newer systems; the
// program is built for older ones too).
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The DPI of the system's own metrics (the primary display's at logon).
int systemDpi();

// The DPI a window is laid out for: the one WM_DPICHANGED last gave its
// top-level window, else what the system says of that window.
int windowDpi(HWND window);

// The DPI of what a device context draws on: its window's, or for a context
// of no window (memory, printer) its own logical DPI.
int deviceDpi(HDC dc);

// Records the DPI a top-level window is laid out for, from WM_DPICHANGED;
// forgetWindowDpi drops it (before the window goes).
void setWindowDpi(HWND window, int dpi);
void forgetWindowDpi(HWND window);

// The DPI in a WM_DPICHANGED's first parameter; 0 when it carries none.
int dpiOfMessage(WPARAM wParam);

// The program icon `id` at the size of a big or small icon at dpi, from the
// executable's images for it. Loaded once per size and kept for the process.
HICON programIconAt(HINSTANCE instance, int id, bool big, int dpi);

// A list view's text font at dpi: the system's font for icon titles (which
// lists use by default) at that DPI. Made once per DPI and kept.
HFONT listTextFontAt(int dpi);

// Resizes a list's first `count` columns from oldDpi to newDpi. stored holds
// their widths as the record keeps them (96 DPI): a column still at its
// stored width gets exactly that width scaled, a dragged one its own.
void rescaleListColumns(HWND list, const int32_t* stored, int count, int oldDpi, int newDpi);

// Has an owner-drawn list measure its rows again (its owner answers
// WM_MEASUREITEM with the height for its DPI) and redraw.
void remeasureListRows(HWND list);
