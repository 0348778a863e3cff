// Owner-drawn painting of report-style list rows: shortened cell texts, system colours, focus.
#include "ui/list_paint_win.h"

#include <commctrl.h>
#include <cstring>
#include <vector>

#include "ui/cell_canvas_win.h"
#include "ui/dpi_win.h"
#include "ui/fit_text.h"

enum { CELL_COPY_BYTES = 516 };

static int measureWithDc(void* context, const char* text, int length, int* width)
{
    SIZE size;
    if (!GetTextExtentPoint32A(static_cast<HDC>(context), text, length, &size))
        return 0;
    *width = size.cx;
    return 1;
}

int fitTextToWidth(HDC dc, char* text, int bufferSize, int width)
{
    return fitTextToWidth(measureWithDc, dc, text, bufferSize, width, cellGeometryAt(deviceDpi(dc)).margin);
}

// The advance widths of the font a paint uses, asked once per font: a text
// whose widths add up well inside its cell fits, and is drawn without being
// measured (a list repaints dozens of changed counters every tick).
static HFONT widthsFont;
static LOGFONTA widthsLog;
static INT charWidths[128];

static bool surelyFits(HDC dc, const char* text, int width, int margin)
{
    HFONT font = (HFONT)GetCurrentObject(dc, OBJ_FONT);
    LOGFONTA log;
    if (!font || GetMapMode(dc) != MM_TEXT || GetObjectA(font, sizeof log, &log) != sizeof log)
        return false;
    // A handle may be reused for another font: the description must match too.
    if (font != widthsFont || memcmp(&log, &widthsLog, sizeof log) != 0) {
        widthsFont = nullptr;
        if (!GetCharWidth32A(dc, 0, 127, charWidths))
            return false;
        widthsFont = font;
        widthsLog = log;
    }
    // A pixel a character and the cell's margin to spare: rounding and
    // overhang never take that much.
    const int perCharacter = GetTextCharacterExtra(dc) + 1;
    long sum = margin + 4;
    for (const unsigned char* c = (const unsigned char*)text; *c; c++) {
        // Beyond ASCII a byte may be half of a character: measured as before.
        if (*c >= 0x80)
            return false;
        sum += charWidths[*c] + perCharacter;
        if (sum > width)
            return false;
    }
    return true;
}

void drawCellText(HDC dc, const char* text, const RECT* cell)
{
    drawCellTextAt(dc, text, cell, cellGeometryAt(deviceDpi(dc)));
}

void drawCellTextAt(HDC dc, const char* text, const RECT* cell, const CellGeometry& geometry)
{
    if (!cell)
        return;
    char copy[CELL_COPY_BYTES];
    memset(copy, 0, sizeof copy);
    if (text)
        strncpy(copy, text, LIST_CELL_TEXT_BYTES - 1);
    // A failed fit leaves the text whole; it is still clipped to the cell.
    const int width = cell->right - cell->left;
    if (!surelyFits(dc, copy, width, geometry.margin))
        fitTextToWidth(measureWithDc, dc, copy, LIST_CELL_TEXT_BYTES, width, geometry.margin);
    ExtTextOutA(dc, cell->left + geometry.textLeft, cell->top + geometry.textTop, ETO_OPAQUE | ETO_CLIPPED, cell,
                copy, (UINT)strlen(copy), nullptr);
}

static void windowColours(void*, int, COLORREF* text, COLORREF* background)
{
    *text = GetSysColor(COLOR_WINDOWTEXT);
    *background = GetSysColor(COLOR_WINDOW);
}

// Where a list puts the rows it has drawn, against their bounds as it
// reports them: drawing cells outside a paint puts them in the same place.
struct RowPlacement {
    HWND list;
    int left, top, height;
};
static RowPlacement placements[8];
static unsigned placementTurn;

static void rememberPlacement(const DRAWITEMSTRUCT* item)
{
    if (item->itemAction != ODA_DRAWENTIRE)
        return;
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    if (!SendMessageA(item->hwndItem, LVM_GETITEMRECT, item->itemID, (LPARAM)&bounds))
        return;
    RowPlacement* slot = nullptr;
    for (RowPlacement& p : placements)
        if (p.list == item->hwndItem)
            slot = &p;
    if (!slot)
        slot = &placements[placementTurn++ % (sizeof placements / sizeof placements[0])];
    *slot = {item->hwndItem, (int)(item->rcItem.left - bounds.left), (int)(item->rcItem.top - bounds.top),
             (int)(item->rcItem.bottom - item->rcItem.top)};
}

void forgetRowPlacement(HWND list)
{
    for (RowPlacement& p : placements)
        if (p.list == list)
            p = {};
}

static const RowPlacement* placementOf(HWND list)
{
    for (const RowPlacement& p : placements)
        if (p.list == list && p.height > 0)
            return &p;
    return nullptr;
}

void drawListRow(HWND list, const DRAWITEMSTRUCT* item, int columns)
{
    drawListRowWith(list, item, columns, windowColours, nullptr);
}

void drawListRowWith(HWND list, const DRAWITEMSTRUCT* item, int columns, RowColourRule rule,
                     void* context)
{
    if (!item)
        return;
    if (columns > LIST_MAX_COLUMNS)
        columns = LIST_MAX_COLUMNS;
    if (columns < 0)
        columns = 0;
    const int row = (int)item->itemID;

    // The row may be gone by the time the paint arrives.
    LVITEMA probe = {};
    probe.mask = LVIF_PARAM;
    probe.iItem = row;
    if (!SendMessageA(item->hwndItem, LVM_GETITEMA, 0, (LPARAM)&probe))
        return;

    rememberPlacement(item);

    HDC dc = item->hDC;
    // Where the paint may draw at all: a list repaints only the cells whose
    // texts changed, and a cell outside them is neither asked for nor drawn.
    RECT clip;
    const int clipKind = GetClipBox(dc, &clip);
    const bool clipped = clipKind == SIMPLEREGION || clipKind == COMPLEXREGION;
    RECT cellRects[LIST_MAX_COLUMNS];
    bool shown[LIST_MAX_COLUMNS];
    // Cells follow the item rectangle, which already carries horizontal scrolling;
    // whatever lies right of the last column is left to the list.
    int x = 0;
    for (int c = 0; c < columns; c++) {
        const int w = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0);
        cellRects[c] = {item->rcItem.left + x, item->rcItem.top, item->rcItem.left + x + w, item->rcItem.bottom};
        RECT overlap;
        shown[c] = !clipped || IntersectRect(&overlap, &cellRects[c], &clip);
        x += w;
    }

    char cells[LIST_MAX_COLUMNS][LIST_CELL_TEXT_BYTES];
    for (int c = 0; c < columns; c++) {
        cells[c][0] = '\0';
        if (!shown[c])
            continue;
        LVITEMA sub = {};
        sub.iSubItem = c;
        sub.pszText = cells[c];
        sub.cchTextMax = LIST_CELL_TEXT_BYTES;
        SendMessageA(list, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&sub);
        cells[c][LIST_CELL_TEXT_BYTES - 1] = '\0';
    }

    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    COLORREF text, background;
    if (selected) {
        text = GetSysColor(COLOR_HIGHLIGHTTEXT);
        background = GetSysColor(COLOR_HIGHLIGHT);
    } else {
        (rule ? rule : windowColours)(context, row, &text, &background);
    }
    // The row's cells are put on screen in one copy where the context allows.
    RECT area = {};
    for (int c = 0; c < columns; c++)
        if (shown[c])
            UnionRect(&area, &area, &cellRects[c]);
    if (clipped)
        IntersectRect(&area, &area, &clip);
    SetTextColor(dc, text);
    SetBkColor(dc, background);
    const CellGeometry geometry = cellGeometryAt(windowDpi(list));
    {
        CellCanvas canvas(dc, area, geometry);
        for (int c = 0; c < columns; c++) {
            if (!shown[c])
                continue;
            if (canvas.ready())
                canvas.cell(cellRects[c], cells[c], text, background);
            else
                drawCellTextAt(dc, cells[c], &cellRects[c], geometry);
        }
    }

    if (selected) {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    }
    if (item->itemState & ODS_FOCUS)
        DrawFocusRect(dc, &item->rcItem);
}

// Has the list repaint the cells of rows firstRow..lastRow, columns
// firstColumn..lastColumn: rows are equally high and columns side by side, so
// two corner cells give the rectangle.
static void invalidateSpan(HWND list, int firstRow, int lastRow, int firstColumn, int lastColumn)
{
    RECT first = {}, last = {}, span;
    first.top = firstColumn;
    first.left = LVIR_BOUNDS;
    last.top = lastColumn;
    last.left = LVIR_BOUNDS;
    if (!SendMessageA(list, LVM_GETSUBITEMRECT, firstRow, (LPARAM)&first) ||
        !SendMessageA(list, LVM_GETSUBITEMRECT, lastRow, (LPARAM)&last))
        return;
    UnionRect(&span, &first, &last);
    InvalidateRect(list, &span, FALSE);
}

void drawListCellsNow(HWND list, int firstRow, int lastRow, int firstColumn, int lastColumn, CellTextSource text,
                      void* textContext, RowColourRule rule, void* ruleContext)
{
    if (!list || !text || firstRow < 0 || firstRow > lastRow || firstColumn < 0 || firstColumn > lastColumn ||
        lastColumn >= LIST_MAX_COLUMNS)
        return;
    // Rows off the page are drawn by the paint that scrolls them in; the
    // page's last row may show in part.
    const int top = (int)SendMessageA(list, LVM_GETTOPINDEX, 0, 0);
    const int perPage = (int)SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0);
    const int first = firstRow > top ? firstRow : top;
    const int last = lastRow < top + perPage ? lastRow : top + perPage;
    if (first > last)
        return;

    // Rows go where the list's paint puts them; before its first paint,
    // that paint draws them.
    RECT firstItem = {}, topItem = {};
    firstItem.left = LVIR_BOUNDS;
    topItem.left = LVIR_BOUNDS;
    const HFONT font = (HFONT)SendMessageA(list, WM_GETFONT, 0, 0);
    const RowPlacement* placed = placementOf(list);
    if (!placed || !IsWindowVisible(list) || !font ||
        !SendMessageA(list, LVM_GETITEMRECT, first, (LPARAM)&firstItem) ||
        !SendMessageA(list, LVM_GETITEMRECT, top, (LPARAM)&topItem)) {
        invalidateSpan(list, first, last, firstColumn, lastColumn);
        return;
    }
    OffsetRect(&firstItem, placed->left, placed->top);
    OffsetRect(&topItem, placed->left, placed->top);
    const int height = placed->height;
    int x[LIST_MAX_COLUMNS + 1];
    x[0] = firstItem.left;
    for (int c = 0; c <= lastColumn; c++)
        x[c + 1] = x[c] + (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0);

    // Below the header, inside the client area.
    RECT client, area = {x[firstColumn], firstItem.top, x[lastColumn + 1], firstItem.top + (last - first + 1) * height};
    GetClientRect(list, &client);
    if (client.top < topItem.top)
        client.top = topItem.top;
    if (!IntersectRect(&area, &area, &client))
        return;

    HDC dc = GetDCEx(list, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS | DCX_CLIPCHILDREN);
    if (!dc) {
        invalidateSpan(list, first, last, firstColumn, lastColumn);
        return;
    }
    HGDIOBJ oldFont = SelectObject(dc, font);

    // Selected and focused rows are left to the list's own paint, which
    // knows how it marks them.
    std::vector<char> leftToList((size_t)(last - first + 1), 0);
    for (int r = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)(first - 1), LVNI_SELECTED); r >= first && r <= last;
         r = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)r, LVNI_SELECTED))
        leftToList[r - first] = 1;
    const int focused = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_FOCUSED);
    if (focused >= first && focused <= last)
        leftToList[focused - first] = 1;
    for (int r = first; r <= last; r++) {
        if (!leftToList[r - first])
            continue;
        RECT row = {area.left, firstItem.top + (r - first) * height, area.right, firstItem.top + (r - first + 1) * height};
        ExcludeClipRect(dc, row.left, row.top, row.right, row.bottom);
        InvalidateRect(list, &row, FALSE);
    }

    bool drawn = false;
    {
        CellCanvas canvas(dc, area, cellGeometryAt(windowDpi(list)));
        if (canvas.ready()) {
            drawn = true;
            for (int r = first; r <= last; r++) {
                if (leftToList[r - first])
                    continue;
                COLORREF textColour, background;
                (rule ? rule : windowColours)(ruleContext, r, &textColour, &background);
                const int rowTop = firstItem.top + (r - first) * height;
                for (int c = firstColumn; c <= lastColumn; c++) {
                    const RECT cell = {x[c], rowTop, x[c + 1], rowTop + height};
                    const char* shown = text(textContext, r, c);
                    canvas.cell(cell, shown ? shown : "", textColour, background);
                }
            }
        }
    }
    SelectObject(dc, oldFont);
    ReleaseDC(list, dc);
    if (!drawn)
        InvalidateRect(list, &area, FALSE);
}
