// The Monitor window: one port's captured traffic, a row per record, and the dump of the selected one.
#include "monitor/monitor_dialog_win.h"

#include <commctrl.h>
#include <mmsystem.h>

#include "monitor/monitor_ids.h"
#include "monitor/monitor_paint_win.h"
#include "monitor/monitor_rows.h"
#include "monitor/record_text.h"
#include "monitor/traffic_log_win.h"
#include "res/resource.h"
#include "ui/dpi_win.h"
#include "ui/list_paint_win.h"
#include "ui/ui_thread.h"
#include "ui/window_settings.h"

static const int columnTitles[MONITOR_COLUMNS] = {
    IDS_COL_NUMBER, IDS_COL_TIME, IDS_COL_RXTX, IDS_COL_BYTES, IDS_COL_DATA,
};

enum { DETAIL_FONT_POINTS = 9, COLUMN_TITLE_BYTES = 64 };

// Posted on a DPI change, to follow it once the system has scaled the dialog.
enum { WM_MONITOR_DPI_SETTLED = WM_APP + 1 };

int monitoredEntry = -1;

static HWND monitorList;   // null before the window is set up and once it closes
static HFONT detailFont;

// A port at full speed fills the ring in about 11 ms, less than a timer tick
// may take on a busy machine or behind a long paint. A drain thread therefore
// takes the records every millisecond as well, so the host never has to drop
// one; the timer tick takes what is left and brings the list to the rows.
// The rows are shared by the two threads under rowsLock.
enum { DRAIN_PERIOD_MS = 1 };
static CRITICAL_SECTION rowsLock;
static INIT_ONCE rowsLockOnce = INIT_ONCE_STATIC_INIT;
static HANDLE drainThread;
static volatile LONG drainStop;

static BOOL CALLBACK initRowsLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&rowsLock);
    return TRUE;
}

struct RowsLocked {
    RowsLocked()
    {
        InitOnceExecuteOnce(&rowsLockOnce, initRowsLock, nullptr, nullptr);
        EnterCriticalSection(&rowsLock);
    }
    ~RowsLocked() { LeaveCriticalSection(&rowsLock); }
};

PortEntry* monitoredPortEntry()
{
    if (!portTable || monitoredEntry < 0 || monitoredEntry >= PORT_TABLE_ENTRIES)
        return nullptr;
    return &portTable->entries[monitoredEntry];
}

static int pendingRecords(const PortEntry* entry)
{
    return ringSlot(readShared(&entry->captureWriteIndex) - readShared(&entry->captureReadIndex));
}

static DWORD WINAPI drainLoop(void*)
{
    // Sleep(1) is otherwise a whole system tick, too long for a full-speed port.
    timeBeginPeriod(1);
    while (!InterlockedCompareExchange(&drainStop, 0, 0)) {
        PortEntry* entry = monitoredPortEntry();
        if (entry && pendingRecords(entry) > 0) {
            RowsLocked lock;
            pollCaptureRing(entry, &monitorRows);
        }
        Sleep(DRAIN_PERIOD_MS);
    }
    timeEndPeriod(1);
    return 0;
}

static void startDrain()
{
    InterlockedExchange(&drainStop, 0);
    drainThread = CreateThread(nullptr, 0, drainLoop, nullptr, 0, nullptr);
    if (drainThread)
        SetThreadPriority(drainThread, THREAD_PRIORITY_ABOVE_NORMAL);
}

static void stopDrain()
{
    if (!drainThread)
        return;
    InterlockedExchange(&drainStop, 1);
    WaitForSingleObject(drainThread, INFINITE);
    CloseHandle(drainThread);
    drainThread = nullptr;
}

// The row list item `item` shows. The list follows the rows once a tick, so
// its items still count rows the drain thread dropped since then.
static const MonitorRow* rowOfItem(int item)
{
    return monitorRow(&monitorRows, item - monitorRows.dropped);
}

int copyShownRecord(int item, CaptureRecord* record)
{
    RowsLocked lock;
    const MonitorRow* shown = rowOfItem(item);
    if (!shown)
        return 0;
    *record = shown->record;
    return 1;
}

void copyShownRows(MonitorRows* rows)
{
    RowsLocked lock;
    *rows = monitorRows;
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

// The list's rows hold no text of their own: every cell is asked for
// (LPSTR_TEXTCALLBACK) and built from the row's record. A tick therefore
// touches the list only for rows it gains, never for what it already shows.
static int insertCallbackRow(HWND list, int row)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = LPSTR_TEXTCALLBACK;
    const int added = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (added < 0)
        return 0;
    for (int column = MONITOR_COL_TIME; column < MONITOR_COLUMNS; column++) {
        LVITEMA cell = {};
        cell.iSubItem = column;
        cell.pszText = LPSTR_TEXTCALLBACK;
        SendMessageA(list, LVM_SETITEMTEXTA, (WPARAM)added, (LPARAM)&cell);
    }
    return 1;
}

// Rows that fell off the front moved every row up by `dropped`: the
// selection, focus and mark move with their record, and go with it.
static void moveMarks(HWND list, int dropped)
{
    const int selected = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    const int focused = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_FOCUSED);
    const int mark = (int)SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0);
    if (selected < 0 && focused < 0 && mark < 0)
        return;
    // Single selection: one row at most holds each state.
    LVITEMA none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    if (selected >= 0)
        SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)selected, (LPARAM)&none);
    if (focused >= 0 && focused != selected)
        SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)focused, (LPARAM)&none);
    if (focused - dropped >= 0) {
        LVITEMA focus = {};
        focus.stateMask = focus.state = LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)(focused - dropped), (LPARAM)&focus);
    }
    if (selected - dropped >= 0) {
        LVITEMA select = {};
        select.stateMask = select.state = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)(selected - dropped), (LPARAM)&select);
    }
    SendMessageA(list, LVM_SETSELECTIONMARK, 0, mark - dropped >= 0 ? mark - dropped : -1);
}

// Brings the list to the rows after a tick. A row the list refuses stays in
// the rows and is inserted on a later tick. Called without rowsLock: the
// list's insertions take long under load (the first tick after a Clear adds
// 1024 rows), and the drain thread must not wait behind them while the host
// fills the ring. `dropped` and `count` were read under the lock.
static void followRows(HWND list, int dropped, int count)
{
    int items = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    if (dropped == 0 && items >= count)
        return;
    // Held back for the whole tick: a row at a time, the list would repaint for each.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    if (dropped > 0)
        moveMarks(list, dropped);
    while (items < count && insertCallbackRow(list, items))
        items++;
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void pollCapture(HWND dialog)
{
    showCaptureState(dialog);
    if (!monitorList)
        return;
    int dropped, count;
    {
        RowsLocked lock;
        pollCaptureRing(monitoredPortEntry(), &monitorRows);
        // From here on the list is taken to have followed the rows: cells asked
        // for meanwhile already map items to the rows as they now stand.
        dropped = monitorRows.dropped;
        monitorRows.dropped = 0;
        count = monitorRows.count;
    }
    followRows(monitorList, dropped, count);
}

void renderRecordDetail(HWND dialog, const CaptureRecord* record)
{
    textScratch[0] = '\0';
    if (record)
        formatRecordDetail(record, textScratch, TEXT_SCRATCH_SIZE);
    SetDlgItemTextA(dialog, IDC_MONITOR_DETAIL, textScratch);
}

// A cell the list asks for, built from its row's record.
static void cellText(int item, int column, char* out, int outSize)
{
    RowsLocked lock;
    const MonitorRow* shown = rowOfItem(item);
    const PortEntry* entry = monitoredPortEntry();
    out[0] = '\0';
    if (shown && entry)
        formatMonitorCell(entry, &shown->record, shown->number, column, out, outSize);
}

static void answerCellRequest(const NMHDR* header)
{
    if (header->code == LVN_GETDISPINFOA) {
        const NMLVDISPINFOA* info = reinterpret_cast<const NMLVDISPINFOA*>(header);
        if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0)
            cellText(info->item.iItem, info->item.iSubItem, info->item.pszText, info->item.cchTextMax);
        return;
    }
    const NMLVDISPINFOW* info = reinterpret_cast<const NMLVDISPINFOW*>(header);
    if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0)
        return;
    cellText(info->item.iItem, info->item.iSubItem, textScratch, TEXT_SCRATCH_SIZE);
    if (!MultiByteToWideChar(CP_ACP, 0, textScratch, -1, info->item.pszText, info->item.cchTextMax))
        info->item.pszText[0] = L'\0';
    info->item.pszText[info->item.cchTextMax - 1] = L'\0';
}

static void addColumns(HWND list)
{
    const int dpi = windowDpi(list);
    for (int c = 0; c < MONITOR_COLUMNS; c++) {
        char title[COLUMN_TITLE_BYTES] = "";
        LoadStringA(appResources(), columnTitles[c], title, sizeof title);
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = scaleToDpi(windowSettings.columnWidths[MONITOR_WIDTH_SLOT + c], dpi);
        column.pszText = title;
        column.iSubItem = c;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)c, (LPARAM)&column) < 0)
            return;
    }
}

// A fixed-pitch font lines the dump's columns up. Made for the dialog's DPI,
// and made again when that changes.
static void setDetailFont(HWND dialog)
{
    const int height = -MulDiv(DETAIL_FONT_POINTS, windowDpi(dialog), 72);
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    if (!font)
        return;
    SendDlgItemMessageA(dialog, IDC_MONITOR_DETAIL, WM_SETFONT, (WPARAM)font, IsWindowVisible(dialog));
    if (detailFont)
        DeleteObject(detailFont);
    detailFont = font;
}

static void initMonitor(HWND dialog)
{
    {
        RowsLocked lock;
        monitorRowsClear(&monitorRows);
    }
    monitorList = GetDlgItem(dialog, IDC_MONITOR_LIST);
    showCaptureState(dialog);
    addColumns(monitorList);
    SendMessageA(monitorList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
    setDetailFont(dialog);
    SetTimer(dialog, MONITOR_TIMER_ID, MONITOR_TIMER_PERIOD_MS, nullptr);
    startDrain();
}

static void clearMonitor(HWND dialog)
{
    writeCaptureCommand(CAPTURE_CLEAR);
    SetDlgItemTextA(dialog, IDC_MONITOR_DETAIL, "");
    RowsLocked lock;
    SendMessageA(monitorList, LVM_DELETEALLITEMS, 0, 0);
    monitorRowsClear(&monitorRows);
}

static void closeMonitor(HWND dialog, int command)
{
    // Only columns the list really has: a missing one would store a width of 0.
    HWND header = (HWND)SendMessageA(monitorList, LVM_GETHEADER, 0, 0);
    const int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    const int dpi = windowDpi(dialog);
    for (int c = 0; c < MONITOR_COLUMNS && c < columns; c++) {
        int32_t& slot = windowSettings.columnWidths[MONITOR_WIDTH_SLOT + c];
        slot = storedFromShown((int32_t)SendMessageA(monitorList, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0), slot, dpi);
    }
    writeCaptureCommand(CAPTURE_STOP);
    stopDrain();
    monitorList = nullptr;
    KillTimer(dialog, MONITOR_TIMER_ID);
    EndDialog(dialog, command);
    monitorRowsClear(&monitorRows);
}

static int measureMonitorRow(HWND dialog, MEASUREITEMSTRUCT* measure)
{
    const int height = listRowHeight(dialog);
    if (!height)
        return FALSE;
    measure->itemHeight = height;
    return TRUE;
}

// The dialog moved to a display of another DPI. The system scales the
// dialog itself (its frame, controls and their font) after this; the list's
// columns are ours now, its rows and the dump's font once it has.
static void followDpi(HWND dialog, int dpi)
{
    if (!dpi)
        return;
    const int old = windowDpi(dialog);
    setWindowDpi(dialog, dpi);
    rescaleListColumns(monitorList, &windowSettings.columnWidths[MONITOR_WIDTH_SLOT], MONITOR_COLUMNS, old, dpi);
    PostMessageA(dialog, WM_MONITOR_DPI_SETTLED, 0, 0);
}

static void onListNotify(HWND dialog, const NMHDR* header)
{
    if (header->idFrom != IDC_MONITOR_LIST)
        return;
    if (header->code == LVN_GETDISPINFOA || header->code == LVN_GETDISPINFOW) {
        answerCellRequest(header);
        return;
    }
    if (header->code != LVN_ITEMCHANGED)
        return;
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (!(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED))
        return;
    CaptureRecord record;
    renderRecordDetail(dialog, copyShownRecord(change->iItem, &record) ? &record : nullptr);
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
    case WM_DPICHANGED:
        followDpi(dialog, dpiOfMessage(wParam));
        return FALSE;
    case WM_MONITOR_DPI_SETTLED:
        setDetailFont(dialog);
        remeasureListRows(monitorList);
        return TRUE;
    case WM_NCDESTROY:
        forgetWindowDpi(dialog);
        stopDrain();
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
