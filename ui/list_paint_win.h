// Owner-drawn painting of report-style list rows: shortened cell texts, system colours, focus.
#pragma once
#include <windows.h>

#include "ui/window_settings.h"

enum { LIST_MAX_COLUMNS = 32, LIST_CELL_TEXT_BYTES = 512 };

// Shortens text in place to fit width pixels, measured with the context's
// font; the cell's margin is that of the context's DPI.
int fitTextToWidth(HDC dc, char* text, int bufferSize, int width);

// Fills the cell with the background colour and draws the shortened text
// clipped to it, placed as at the context's DPI.
void drawCellText(HDC dc, const char* text, const RECT* cell);

// drawCellText with the text placed and shortened as geometry says.
void drawCellTextAt(HDC dc, const char* text, const RECT* cell, const CellGeometry& geometry);

// Draws one row of list from its cell texts and column widths, its texts
// placed as at the list's DPI.
void drawListRow(HWND list, const DRAWITEMSTRUCT* item, int columns);

// Chooses the colours of an unselected row; selected rows always take the highlight pair.
typedef void (*RowColourRule)(void* context, int row, COLORREF* text, COLORREF* background);

// drawListRow with the unselected colours chosen by rule, for lists that tint their rows.
void drawListRowWith(HWND list, const DRAWITEMSTRUCT* item, int columns, RowColourRule rule,
                     void* context);

// A cell text the list's owner keeps itself, by row and column; null for none.
typedef const char* (*CellTextSource)(void* context, int row, int column);

// Draws the cells of rows firstRow..lastRow, columns firstColumn..lastColumn
// at once, outside a paint, as the list's own paint draws them (unselected
// rows in the colours rule chooses; a null rule: the window's colours). Rows
// that are selected or focused are invalidated for the list's paint instead,
// and so is everything when the list cannot be drawn on now. Rows off the page
// are left to the paint that scrolls them in.
void drawListCellsNow(HWND list, int firstRow, int lastRow, int firstColumn, int lastColumn, CellTextSource text,
                      void* textContext, RowColourRule rule, void* ruleContext);

// Forgets where list put its rows: they changed height, and cells are drawn
// outside a paint again only once a paint has shown where they now go.
void forgetRowPlacement(HWND list);
