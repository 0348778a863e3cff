// Cell texts drawn off screen, then put on screen with one copy.
//
// A list repaints dozens of changing counters every tick, and a text output
// call per cell costs far more than copying pixels. Short ASCII texts are
// therefore composed from images of the font's characters, rendered once per
// font, colours and row height, and only used after a check that composing
// gives exactly the pixels the text output gives. Any other cell is drawn with
// the text output call, onto the canvas.
#pragma once
#include <windows.h>

#include "ui/dib_surface_win.h"
#include "ui/window_settings.h"

class CellCanvas {
public:
    // A canvas over area (device coordinates of target), drawn in the
    // target's font, with cell texts placed as geometry says (by default as
    // at the target's DPI). ready() is false when target cannot take one (not
    // 32 bits a pixel, transformed, unusual text settings, or no memory): the
    // caller then draws on target itself.
    CellCanvas(HDC target, const RECT& area);
    CellCanvas(HDC target, const RECT& area, const CellGeometry& geometry);
    // Copies what was drawn to the target.
    ~CellCanvas();
    CellCanvas(const CellCanvas&) = delete;
    CellCanvas& operator=(const CellCanvas&) = delete;

    bool ready() const { return surface_.dc != nullptr; }

    // Draws cell (target coordinates) as drawCellTextAt does: the background
    // over the whole cell, the text shortened to fit and clipped to the cell.
    void cell(const RECT& cell, const char* text, COLORREF textColour, COLORREF background);

private:
    HDC target_ = nullptr;
    RECT area_ = {};
    CellGeometry geometry_ = {};
    DibSurface surface_ = {};  // the shared one, or the canvas's own
    HGDIOBJ oldFont_ = nullptr;
    bool shared_ = false;  // surface_ is the one kept between canvases
    bool gdiPending_ = false;
};

// Cells composed from character images since the program started (for tests:
// proof that the composing path, not the text output, drew them).
unsigned long cellCanvasComposedCells();
