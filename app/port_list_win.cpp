// The port list view: its columns, the in-place refresh and the double-click.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/cell_text.h"
#include "app/port_list.h"
#include "app/settings.h"
#include "ui/dpi_win.h"
#include "ui/list_paint_win.h"
#include "ports/create_port_dialog.h"
#include "ports/port_table.h"
#include "res/resource.h"

static const int columnTitles[MAIN_LIST_COLUMNS] = {
    IDS_COL_SERIAL_PORT, IDS_COL_OPEN_STATE, IDS_COL_CONNECTION, IDS_COL_REMOTE_IP, IDS_COL_REMOTE_PORT,
    IDS_COL_LOCAL_PORT,  IDS_COL_RX_BYTES,   IDS_COL_TX_BYTES,   IDS_COL_STATE,
};

static WNDPROC listViewProc;

// What each entry's row shows. Columns 1 to 8 are asked of us by the list
// (LPSTR_TEXTCALLBACK): a pass changes only the texts here that differ, and
// draws just the changed cells, from here.
enum { CELL_TEXT_BYTES = 128 };  // the widest field, remoteAddress, with its terminator
struct ShownCells {
    int known;  // 0 until the row's cells were set once
    char text[MAIN_LIST_COLUMNS][CELL_TEXT_BYTES];  // column 0: the name the row was made with
};
static ShownCells shownCells[PORT_TABLE_ENTRIES];

static LRESULT CALLBACK portListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam);

HWND createPortList(HWND mainWindow)
{
    char titles[MAIN_LIST_COLUMNS][128];
    for (int c = 0; c < MAIN_LIST_COLUMNS; c++)
        LoadStringA(appInstance, columnTitles[c], titles[c], sizeof titles[c]);

    RECT client;
    GetClientRect(mainWindow, &client);
    HWND list = CreateWindowExA(WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE, WC_LISTVIEWA, "",
                                WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDRAWFIXED, 0, 0,
                                client.right, client.bottom, mainWindow,
                                (HMENU)(INT_PTR)IDC_PORT_LIST, appInstance, nullptr);
    if (!list)
        return nullptr;

    const int dpi = windowDpi(mainWindow);
    for (int c = 0; c < MAIN_LIST_COLUMNS; c++) {
        LVCOLUMNA col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        col.fmt = LVCFMT_LEFT;
        col.cx = scaleToDpi(windowSettings.columnWidths[MAIN_LIST_WIDTH_SLOT + c], dpi);
        col.pszText = titles[c];
        col.iSubItem = c;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, c, (LPARAM)&col) == -1) {
            DestroyWindow(list);
            return nullptr;
        }
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // A list's own font is that of the system's DPI: on a display of another
    // one it gets the same font at that display's, and measures its rows again.
    if (dpi != systemDpi()) {
        if (HFONT text = listTextFontAt(dpi)) {
            SendMessageA(list, WM_SETFONT, (WPARAM)text, FALSE);
            remeasureListRows(list);
        }
    }
    memset(shownCells, 0, sizeof shownCells);
    listViewProc = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)portListProc);
    return list;
}

// The cells a pass changed, as the rows and columns they span: drawn as one
// block, whatever lies between them drawn again as it was.
struct ChangedArea {
    int firstRow, lastRow, firstColumn, lastColumn;
    int any;
};

static void setCell(HWND, int row, ShownCells* shown, int column, const char* text, ChangedArea* changed)
{
    char* was = shown->text[column];
    if (shown->known && strncmp(was, text, CELL_TEXT_BYTES) == 0)
        return;
    // A text too long to keep is cut here, as the list would cut it.
    snprintf(was, CELL_TEXT_BYTES, "%s", text);
    if (!changed->any) {
        *changed = {row, row, column, column, 1};
        return;
    }
    if (row < changed->firstRow)
        changed->firstRow = row;
    if (row > changed->lastRow)
        changed->lastRow = row;
    if (column < changed->firstColumn)
        changed->firstColumn = column;
    if (column > changed->lastColumn)
        changed->lastColumn = column;
}

// The entry each row showed in the last pass, for drawing its cells.
static int rowEntries[PORT_TABLE_ENTRIES];

static const char* shownText(void*, int row, int column)
{
    if (row < 0 || row >= PORT_TABLE_ENTRIES || column < 0 || column >= MAIN_LIST_COLUMNS)
        return nullptr;
    return shownCells[rowEntries[row]].text[column];
}

// Has the changed cells drawn at once, in one copy; no paint message.
static void repaintChanged(HWND list, const ChangedArea* changed)
{
    if (!changed->any)
        return;
    drawListCellsNow(list, changed->firstRow, changed->lastRow, changed->firstColumn, changed->lastColumn, shownText,
                     nullptr, nullptr, nullptr);
}

static void setRowTexts(HWND list, int row, int entry, const PortEntry* e, ChangedArea* changed)
{
    ShownCells* shown = &shownCells[entry];
    char* text = textScratch;
    openStateText(e, text, TEXT_SCRATCH_SIZE);
    setCell(list, row, shown, 1, text, changed);
    setCell(list, row, shown, 2, strcmp(e->protocol, "udp") == 0 ? "UDP" : "TCP Client", changed);
    copyField(text, TEXT_SCRATCH_SIZE, e->remoteAddress, sizeof e->remoteAddress);
    setCell(list, row, shown, 3, text, changed);
    copyField(text, TEXT_SCRATCH_SIZE, e->remotePort, sizeof e->remotePort);
    setCell(list, row, shown, 4, text, changed);
    copyField(text, TEXT_SCRATCH_SIZE, e->localPort, sizeof e->localPort);
    setCell(list, row, shown, 5, text, changed);
    counterText(e->rxBytes, text, TEXT_SCRATCH_SIZE);
    setCell(list, row, shown, 6, text, changed);
    counterText(e->txBytes, text, TEXT_SCRATCH_SIZE);
    setCell(list, row, shown, 7, text, changed);
    setCell(list, row, shown, 8, linkStateText(e->linkState), changed);
    shown->known = 1;
}

void answerPortListCell(NMHDR* header)
{
    if (header->code != LVN_GETDISPINFOA)
        return;
    NMLVDISPINFOA* info = reinterpret_cast<NMLVDISPINFOA*>(header);
    LVITEMA* asked = &info->item;
    if (!(asked->mask & LVIF_TEXT) || !asked->pszText || asked->cchTextMax <= 0)
        return;
    asked->pszText[0] = '\0';
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = asked->iItem;
    if (!SendMessageA(header->hwndFrom, LVM_GETITEMA, 0, (LPARAM)&item))
        return;
    const int entry = (int)item.lParam - 1;
    if (entry < 0 || entry >= PORT_TABLE_ENTRIES || asked->iSubItem < 1 ||
        asked->iSubItem >= MAIN_LIST_COLUMNS)
        return;
    snprintf(asked->pszText, (size_t)asked->cchTextMax, "%s", shownCells[entry].text[asked->iSubItem]);
}

static LPARAM rowTag(HWND list, int row)
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item))
        return -1;
    return item.lParam;
}

// The name a row was made with: its first-column text is never rewritten.
static int rowNameIs(int entry, const char* name)
{
    return strcmp(shownCells[entry].text[0], name) == 0;
}

static int insertRow(HWND list, int row, int entry, const char* name)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<char*>(name);
    item.lParam = entry + 1;
    const int added = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (added < 0)
        return added;
    ShownCells* shown = &shownCells[entry];
    shown->known = 0;
    snprintf(shown->text[0], CELL_TEXT_BYTES, "%s", name);
    for (int c = 1; c < MAIN_LIST_COLUMNS; c++) {
        shown->text[c][0] = '\0';
        LVITEMA cell = {};
        cell.iSubItem = c;
        cell.pszText = LPSTR_TEXTCALLBACK;
        SendMessageA(list, LVM_SETITEMTEXTA, added, (LPARAM)&cell);
    }
    return added;
}

// Tells whether the row at the cursor belongs to an entry that is still
// present and comes later in the table than the entry at hand.
static int tagIsLaterPresent(const PortTable* table, LPARAM tag, int entry)
{
    int other = (int)tag - 1;
    return other > entry && other < PORT_TABLE_ENTRIES && table->entries[other].present;
}

// One row per present entry, in table order, tagged index + 1. A port created
// in a freed slot gets a row inserted at its place; a row whose entry is gone
// (or whose slot now holds another port) is dropped.
void refreshPortList(HWND list)
{
    if (!list || !portTable)
        return;
    const PortTable* table = portTable;
    int cursor = 0;
    ChangedArea changed = {};
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &table->entries[i];
        if (!e->present)
            continue;
        char name[COM_NAME_MAX + 1];
        comName(e, name, sizeof name);
        for (;;) {
            LPARAM tag = rowTag(list, cursor);
            if (tag == -1 || tagIsLaterPresent(table, tag, i)) {
                if (insertRow(list, cursor, i, name) < 0)
                    return;
                break;
            }
            if (tag == i + 1 && rowNameIs(i, name))
                break;
            if (!SendMessageA(list, LVM_DELETEITEM, cursor, 0))
                return;
        }
        rowEntries[cursor] = i;
        setRowTexts(list, cursor, i, e, &changed);
        cursor++;
    }
    repaintChanged(list, &changed);
    // Rows left past the last present entry name ports the host no longer holds.
    while (rowTag(list, cursor) != -1)
        if (!SendMessageA(list, LVM_DELETEITEM, cursor, 0))
            break;
}

int selectedPortRow(HWND list, char* name, int nameSize)
{
    if (!list)
        return -1;
    int row = (int)SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0);
    if (row < 0)
        return -1;
    LVITEMA item = {};
    item.iSubItem = 0;
    item.pszText = name;
    item.cchTextMax = nameSize;
    name[0] = '\0';
    SendMessageA(list, LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return row;
}

static LRESULT CALLBACK portListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LBUTTONDBLCLK && portTable) {
        char name[32];
        if (selectedPortRow(list, name, sizeof name) >= 0) {
            int entry = findEntryByComName(portTable, name);
            if (entry >= 0) {
                editedEntry = entry;
                openCreatePortDialog(list);
            }
        }
    }
    return CallWindowProcA(listViewProc, list, message, wParam, lParam);
}
