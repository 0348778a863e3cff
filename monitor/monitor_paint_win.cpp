// Painting of the Monitor list's rows: received records are tinted.
#include "monitor/monitor_paint_win.h"

#include "app/app.h"
#include "monitor/monitor_rows.h"
#include "ui/list_paint_win.h"

// Read from the ring at drawing time: a slot the host reused shows its newer record.
static void monitorRowColours(void*, int row, COLORREF* text, COLORREF* background)
{
    const int slot = monitorRowSlot(&monitorRows, row);
    const bool known = slot >= 0 && portTable && monitoredEntry >= 0 &&
                       monitoredEntry < PORT_TABLE_ENTRIES;
    if (known &&
        readShared(&portTable->entries[monitoredEntry].captureRing[slot].recordDirection) != 0) {
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
