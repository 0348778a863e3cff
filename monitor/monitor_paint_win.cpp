// Painting of the Monitor list's rows: received records are tinted.
#include "monitor/monitor_paint_win.h"

#include "monitor/monitor_dialog_win.h"
#include "ui/list_paint_win.h"

// The tint follows the row's own record.
static void monitorRowColours(void*, int row, COLORREF* text, COLORREF* background)
{
    CaptureRecord record;
    if (copyShownRecord(row, &record) && record.recordDirection != 0) {
        *text = RGB(0, 0, 0);
        *background = RX_ROW_BACKGROUND;
        return;
    }
    *text = GetSysColor(COLOR_WINDOWTEXT);
    *background = GetSysColor(COLOR_WINDOW);
}

void drawMonitorRow(HWND list, const DRAWITEMSTRUCT* item, int columns)
{
    drawListRowWith(list, item, columns, monitorRowColours, nullptr);
}
