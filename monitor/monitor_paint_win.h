// Painting of the Monitor list's rows: received records are tinted.
#pragma once
#include <windows.h>

// Background of unselected rows that show received data (red 231, green 230, blue 255).
const COLORREF RX_ROW_BACKGROUND = 0x00FFE6E7;

// Draws one row of the Monitor list, tinting it by the direction of the
// record that the row shows in the monitored entry's ring.
void drawMonitorRow(HWND list, const DRAWITEMSTRUCT* item, int columns);
