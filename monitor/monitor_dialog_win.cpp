// The Monitor window: one port's captured traffic, a row per record, and the dump of the selected one.
#include "monitor/monitor_dialog_win.h"

#include <commctrl.h>

#include "app/app.h"
#include "app/settings.h"
#include "monitor/monitor_ids.h"
#include "monitor/monitor_paint_win.h"
#include "monitor/monitor_rows.h"
#include "monitor/record_text.h"
#include "monitor/traffic_log_win.h"
#include "res/resource.h"

static const int columnTitles[MONITOR_COLUMNS] = {
    IDS_COL_NUMBER, IDS_COL_TIME, IDS_COL_RXTX, IDS_COL_BYTES, IDS_COL_DATA,
};

enum { DETAIL_FONT_POINTS = 9, COLUMN_TITLE_BYTES = 64 };

static HWND monitorList;   // null before the window is set up and once it closes
static HFONT detailFont;

PortEntry* monitoredPortEntry()
{
    if (!portTable || monitoredEntry < 0 || monitoredEntry >= PORT_TABLE_ENTRIES)
        return nullptr;
    return &portTable->entries[monitoredEntry];
}

static void writeCaptureCommand(int command)
{
    PortEntry* entry = monitoredPortEntry();
    if (entry)
        writeShared(&entry->captureCommand, command);
}

// The buttons follow what the host reports, not what was last pressed.
static void showCaptureState(HWND dialog)
{
    const PortEntry* entry = monitoredPortEntry();
    const bool active = entry && readShared(&entry->captureActive) != 0;
    HWND gaining = GetDlgItem(dialog, active ? IDC_MONITOR_STOP : IDC_MONITOR_START);
    HWND losing = GetDlgItem(dialog, active ? IDC_MONITOR_START : IDC_MONITOR_STOP);
    EnableWindow(gaining, TRUE);
    // The keyboard focus would otherwise be left on a disabled button.
    if (GetFocus() == losing && IsWindowEnabled(losing))
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)gaining, TRUE);
    EnableWindow(losing, FALSE);
}

static void setCell(HWND list, int row, int column, const char* text)
{
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&cell);
}

// The list being filled by one tick. Its drawing is held back from the first
// new row on: a row at a time, the list would repaint and rescroll for each.
struct RowBatch {
    HWND list;
    int frozen;
};

// Adds the list row of one record; the cell texts are built in the shared scratch buffer.
static int appendMonitorRow(void* context, int row, int number, int slot, int dropOldest)
{
    RowBatch* batch = static_cast<RowBatch*>(context);
    const PortEntry* entry = monitoredPortEntry();
    if (!batch->frozen) {
        SendMessageA(batch->list, WM_SETREDRAW, FALSE, 0);
        batch->frozen = 1;
    }
    if (dropOldest)
        SendMessageA(batch->list, LVM_DELETEITEM, 0, 0);
    if (!entry)
        return 0;

    formatMonitorCell(entry, slot, number, MONITOR_COL_NUMBER, textScratch, TEXT_SCRATCH_SIZE);
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = textScratch;
    const int added = (int)SendMessageA(batch->list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (added < 0)
        return 0;
    for (int column = MONITOR_COL_TIME; column < MONITOR_COLUMNS; column++) {
        formatMonitorCell(entry, slot, number, column, textScratch, TEXT_SCRATCH_SIZE);
        setCell(batch->list, added, column, textScratch);
    }
    return 1;
}

void pollCapture(HWND dialog)
{
    showCaptureState(dialog);
    if (!monitorList)
        return;
    RowBatch batch = {monitorList, 0};
    pollCaptureRing(monitoredPortEntry(), &monitorRows, appendMonitorRow, &batch);
    if (!batch.frozen)
        return;
    SendMessageA(monitorList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(monitorList, nullptr, TRUE);
}

void renderRecordDetail(HWND dialog, int slot)
{
    const PortEntry* entry = monitoredPortEntry();
    textScratch[0] = '\0';
    if (entry && slot >= 0)
        formatRecordDetail(entry, slot, textScratch, TEXT_SCRATCH_SIZE);
    SetDlgItemTextA(dialog, IDC_MONITOR_DETAIL, textScratch);
}

static void addColumns(HWND list)
{
    for (int c = 0; c < MONITOR_COLUMNS; c++) {
        char title[COLUMN_TITLE_BYTES] = "";
        LoadStringA(appResources(), columnTitles[c], title, sizeof title);
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = windowSettings.columnWidths[MONITOR_WIDTH_SLOT + c];
        column.pszText = title;
        column.iSubItem = c;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)c, (LPARAM)&column) < 0)
            return;
    }
}

// A fixed-pitch font lines the dump's columns up.
static void setDetailFont(HWND dialog)
{
    HDC dc = GetDC(dialog);
    const int height = -MulDiv(DETAIL_FONT_POINTS, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(dialog, dc);
    detailFont = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             FIXED_PITCH | FF_MODERN, "Courier New");
    if (detailFont)
        SendDlgItemMessageA(dialog, IDC_MONITOR_DETAIL, WM_SETFONT, (WPARAM)detailFont, FALSE);
}

static void initMonitor(HWND dialog)
{
    monitorRowsClear(&monitorRows);
    monitorList = GetDlgItem(dialog, IDC_MONITOR_LIST);
    showCaptureState(dialog);
    addColumns(monitorList);
    SendMessageA(monitorList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
    setDetailFont(dialog);
    SetTimer(dialog, MONITOR_TIMER_ID, MONITOR_TIMER_PERIOD_MS, nullptr);
}

static void clearMonitor(HWND dialog)
{
    writeCaptureCommand(CAPTURE_CLEAR);
    SetDlgItemTextA(dialog, IDC_MONITOR_DETAIL, "");
    SendMessageA(monitorList, LVM_DELETEALLITEMS, 0, 0);
    monitorRowsClear(&monitorRows);
}

static void closeMonitor(HWND dialog, int command)
{
    // Only columns the list really has: a missing one would store a width of 0.
    HWND header = (HWND)SendMessageA(monitorList, LVM_GETHEADER, 0, 0);
    const int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    for (int c = 0; c < MONITOR_COLUMNS && c < columns; c++)
        windowSettings.columnWidths[MONITOR_WIDTH_SLOT + c] =
            (int32_t)SendMessageA(monitorList, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0);
    writeCaptureCommand(CAPTURE_STOP);
    monitorList = nullptr;
    KillTimer(dialog, MONITOR_TIMER_ID);
    EndDialog(dialog, command);
    monitorRowsClear(&monitorRows);
}

static int measureMonitorRow(HWND dialog, MEASUREITEMSTRUCT* measure)
{
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, listFont);
    TEXTMETRICA tm;
    const BOOL known = GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    if (!known)
        return FALSE;
    measure->itemHeight = tm.tmHeight + 1;
    return TRUE;
}

static void onListNotify(HWND dialog, const NMHDR* header)
{
    if (header->idFrom != IDC_MONITOR_LIST || header->code != LVN_ITEMCHANGED)
        return;
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED))
        renderRecordDetail(dialog, monitorRowSlot(&monitorRows, change->iItem));
}

static void onCommand(HWND dialog, int command)
{
    switch (command) {
    case IDC_MONITOR_START:
        writeCaptureCommand(CAPTURE_START);
        break;
    case IDC_MONITOR_STOP:
        writeCaptureCommand(CAPTURE_STOP);
        break;
    case IDC_MONITOR_CLEAR:
        clearMonitor(dialog);
        break;
    case IDC_MONITOR_SAVE:
        saveTrafficLog(dialog);
        break;
    case IDOK:
    case IDCANCEL:
        closeMonitor(dialog, command);
        break;
    }
}

INT_PTR CALLBACK monitorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        initMonitor(dialog);
        return TRUE;
    case WM_TIMER:
        pollCapture(dialog);
        return TRUE;
    case WM_NOTIFY:
        onListNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_MEASUREITEM: {
        MEASUREITEMSTRUCT* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (measure->CtlType != ODT_LISTVIEW)
            return FALSE;
        return measureMonitorRow(dialog, measure);
    }
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID != IDC_MONITOR_LIST)
            return FALSE;
        drawMonitorRow(item->hwndItem, item, MONITOR_COLUMNS);
        return TRUE;
    }
    case WM_COMMAND:
        onCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_NCDESTROY:
        if (detailFont)
            DeleteObject(detailFont);
        detailFont = nullptr;
        return FALSE;
    }
    return FALSE;
}

void openMonitorDialog(HWND owner)
{
    DialogBoxParamA(appResources(), MAKEINTRESOURCEA(IDD_MONITOR), owner, monitorDialogProc, 0);
}
