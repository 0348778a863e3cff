// Owner-drawn painting of report-style list rows: shortened cell texts, system colours, focus.
#include "ui/list_paint_win.h"

#include <commctrl.h>
#include <cstring>

#include "ui/fit_text.h"

enum { CELL_TEXT_LEFT = 2, CELL_TEXT_TOP = 1, CELL_COPY_BYTES = 516 };

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
    return fitTextToWidth(measureWithDc, dc, text, bufferSize, width);
}

// The advance widths of the font a paint uses, asked once per font: a text
// whose widths add up well inside its cell fits, and is drawn without being
// measured (a list repaints dozens of changed counters every tick).
static HFONT widthsFont;
static LOGFONTA widthsLog;
static INT charWidths[128];

static bool surelyFits(HDC dc, const char* text, int width)
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
    long sum = 8;
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
    if (!cell)
        return;
    char copy[CELL_COPY_BYTES];
    memset(copy, 0, sizeof copy);
    if (text)
        strncpy(copy, text, LIST_CELL_TEXT_BYTES - 1);
    // A failed fit leaves the text whole; it is still clipped to the cell.
    if (!surelyFits(dc, copy, cell->right - cell->left))
        fitTextToWidth(dc, copy, LIST_CELL_TEXT_BYTES, cell->right - cell->left);
    ExtTextOutA(dc, cell->left + CELL_TEXT_LEFT, cell->top + CELL_TEXT_TOP, ETO_OPAQUE | ETO_CLIPPED,
                cell, copy, (UINT)strlen(copy), nullptr);
}

static void windowColours(void*, int, COLORREF* text, COLORREF* background)
{
    *text = GetSysColor(COLOR_WINDOWTEXT);
    *background = GetSysColor(COLOR_WINDOW);
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
    SetTextColor(dc, text);
    SetBkColor(dc, background);

    for (int c = 0; c < columns; c++)
        if (shown[c])
            drawCellText(dc, cells[c], &cellRects[c]);

    if (selected) {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    }
    if (item->itemState & ODS_FOCUS)
        DrawFocusRect(dc, &item->rcItem);
}
