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

class CellCanvas {
public:
    // A canvas over area (device coordinates of target), drawn in the
    // target's font. ready() is false when target cannot take one (not 32
    // bits a pixel, transformed, unusual text settings, or no memory): the
    // caller then draws on target itself.
    CellCanvas(HDC target, const RECT& area);
    // Copies what was drawn to the target.
    ~CellCanvas();
    CellCanvas(const CellCanvas&) = delete;
    CellCanvas& operator=(const CellCanvas&) = delete;

    bool ready() const { return dc_ != nullptr; }

    // Draws cell (target coordinates) as drawCellText does: the background
    // over the whole cell, the text shortened to fit and clipped to the cell.
    void cell(const RECT& cell, const char* text, COLORREF textColour, COLORREF background);

private:
    HDC target_ = nullptr;
    RECT area_ = {};
    HDC dc_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    unsigned* bits_ = nullptr;
    int stride_ = 0, rows_ = 0;  // the surface's size, at least the area's
    bool shared_ = false;  // the surface kept between canvases
    bool gdiPending_ = false;
};

// Cells composed from character images since the program started (for tests:
// proof that the composing path, not the text output, drew them).
unsigned long cellCanvasComposedCells();
