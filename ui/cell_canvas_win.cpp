// Cell texts composed off screen from character images, then copied at once.
#include "ui/cell_canvas_win.h"

#include <cstdlib>
#include <cstring>

#include "ui/dpi_win.h"
#include "ui/fit_text.h"
#include "ui/list_paint_win.h"

namespace {

enum {
    FIRST_CHARACTER = 0x20,    // the characters kept as images: printable ASCII
    LAST_CHARACTER = 0x7e,
    MAX_ADVANCE = 512,
    MAX_ROW_HEIGHT = 1024,
    IMAGE_SETS = 8,            // fonts and colour pairs kept at once
};

// One font, colour pair, row height and text offset: each character drawn
// opaque in a strip of its advance width, as a cell of that height would show it.
struct GlyphImages {
    bool used;
    bool exact;  // composing was shown to give the text output's pixels
    LOGFONTA font;
    COLORREF text, background;
    int height;
    int textTop;  // where the text stands below the cell's top
    int advance[128];
    int at[128];  // the character's first column in pixels
    bool composable[128];
    unsigned backgroundPixel;
    unsigned* pixels;  // width x height, top row first
    int width;
    unsigned long lastUse;
};

GlyphImages imageSets[IMAGE_SETS];
unsigned long useClock;
unsigned long composedCells;

// The surface canvases share; one that finds it in use makes its own.
DibSurface sharedSurface;
bool sharedBusy;

bool allComposable(const GlyphImages& g, const char* text)
{
    for (const unsigned char* c = (const unsigned char*)text; *c; c++)
        if (*c > LAST_CHARACTER || !g.composable[*c])
            return false;
    return true;
}

int measureByAdvances(void* context, const char* text, int length, int* width)
{
    const GlyphImages* g = static_cast<const GlyphImages*>(context);
    long sum = 0;
    for (int i = 0; i < length; i++) {
        const unsigned char c = (unsigned char)text[i];
        if (c > LAST_CHARACTER || !g->composable[c])
            return 0;
        sum += g->advance[c];
    }
    *width = (int)sum;
    return 1;
}

// Fills cell (destination coordinates) with the background and copies the
// images of text's characters into it from textLeft on, all clipped to the
// cell and the destination. The images are as high as the cell.
void compose(const GlyphImages& g, const char* text, int textLeftOffset, unsigned* dst, int dstWidth, int dstHeight,
             const RECT& cell)
{
    const int left = cell.left > 0 ? cell.left : 0;
    const int right = cell.right < dstWidth ? cell.right : dstWidth;
    const int firstRow = cell.top < 0 ? -cell.top : 0;
    int endRow = g.height;
    if (cell.top + endRow > dstHeight)
        endRow = dstHeight - cell.top;
    if (left >= right || firstRow >= endRow)
        return;
    // The character strips are opaque: only the margin before the text and
    // the room after it take the background.
    const int textLeft = cell.left + textLeftOffset;
    int pen = textLeft;
    for (const unsigned char* c = (const unsigned char*)text; *c && pen < right; c++) {
        const int advance = g.advance[*c];
        const int from = pen > left ? pen : left;
        const int to = pen + advance < right ? pen + advance : right;
        if (from < to) {
            const unsigned* source = g.pixels + g.at[*c] + (from - pen);
            for (int row = firstRow; row < endRow; row++)
                memcpy(dst + (size_t)(cell.top + row) * dstWidth + from, source + (size_t)row * g.width,
                       (size_t)(to - from) * sizeof(unsigned));
        }
        pen += advance;
    }
    const int marginEnd = textLeft < right ? textLeft : right;
    const int roomStart = pen > left ? pen : left;
    for (int row = firstRow; row < endRow; row++) {
        unsigned* line = dst + (size_t)(cell.top + row) * dstWidth;
        for (int x = left; x < marginEnd; x++)
            line[x] = g.backgroundPixel;
        for (int x = roomStart; x < right; x++)
            line[x] = g.backgroundPixel;
    }
}

// Renders the images and checks them: a text of every composable character,
// composed, must equal the same text drawn by the text output call, pixel for
// pixel, and measure the sum of its advances. Otherwise (for instance a
// rendering whose glyphs spill past their advance) the set is not exact and
// never used. The check places the text textLeft into its cell, as cells will.
void renderImages(GlyphImages* g, HFONT font, int textLeft)
{
    g->exact = false;
    HDC measure = CreateCompatibleDC(nullptr);
    if (!measure)
        return;
    HGDIOBJ oldFont = SelectObject(measure, font);
    INT widths[128] = {};
    ABC abc[LAST_CHARACTER - FIRST_CHARACTER + 1];
    const bool haveAbc = GetCharABCWidthsA(measure, FIRST_CHARACTER, LAST_CHARACTER, abc) != 0;
    const bool haveWidths = GetCharWidth32A(measure, 0, 127, widths) != 0;
    SelectObject(measure, oldFont);
    DeleteDC(measure);
    if (!haveWidths)
        return;

    int total = 0;
    for (int c = 0; c < 128; c++) {
        g->composable[c] = false;
        g->advance[c] = 0;
        g->at[c] = 0;
        if (c < FIRST_CHARACTER || c > LAST_CHARACTER)
            continue;
        const ABC& a = abc[c - FIRST_CHARACTER];
        if (widths[c] <= 0 || widths[c] > MAX_ADVANCE || (haveAbc && (a.abcA < 0 || a.abcC < 0)))
            continue;
        g->composable[c] = true;
        g->advance[c] = widths[c];
        g->at[c] = total;
        total += widths[c];
    }
    // One column more: the background alone.
    g->width = total + 1;
    DibSurface work;
    if (!makeDibSurface(&work, g->width, g->height))
        return;
    oldFont = SelectObject(work.dc, font);
    SetTextColor(work.dc, g->text);
    SetBkColor(work.dc, g->background);
    for (int c = FIRST_CHARACTER; c <= LAST_CHARACTER; c++) {
        if (!g->composable[c])
            continue;
        const char ch = (char)c;
        RECT strip = {g->at[c], 0, g->at[c] + g->advance[c], g->height};
        ExtTextOutA(work.dc, g->at[c], g->textTop, ETO_OPAQUE | ETO_CLIPPED, &strip, &ch, 1, nullptr);
    }
    RECT last = {total, 0, total + 1, g->height};
    ExtTextOutA(work.dc, total, 0, ETO_OPAQUE, &last, "", 0, nullptr);
    GdiFlush();
    g->pixels = static_cast<unsigned*>(malloc((size_t)g->width * g->height * sizeof(unsigned)));
    if (g->pixels)
        memcpy(g->pixels, work.bits, (size_t)g->width * g->height * sizeof(unsigned));
    g->backgroundPixel = work.bits[total];

    // The check: every composable character once, then the digits and
    // separators of counters and addresses side by side.
    char sample[LAST_CHARACTER - FIRST_CHARACTER + 1 + 32];
    int n = 0;
    for (int c = FIRST_CHARACTER; c <= LAST_CHARACTER; c++)
        if (g->composable[c])
            sample[n++] = (char)c;
    for (const char* c = "9876543210.:,- 00"; *c; c++)
        if (g->composable[(unsigned char)*c])
            sample[n++] = *c;
    sample[n] = '\0';
    int sum = 0;
    measureByAdvances(g, sample, n, &sum);
    SIZE extent = {};
    DibSurface reference, composed;
    const int width = textLeft + sum + 8;
    if (g->pixels && GetTextExtentPoint32A(work.dc, sample, n, &extent) && extent.cx == sum &&
        makeDibSurface(&reference, width, g->height)) {
        if (makeDibSurface(&composed, width, g->height)) {
            HGDIOBJ oldReferenceFont = SelectObject(reference.dc, font);
            SetTextColor(reference.dc, g->text);
            SetBkColor(reference.dc, g->background);
            RECT cell = {0, 0, width, g->height};
            ExtTextOutA(reference.dc, textLeft, g->textTop, ETO_OPAQUE | ETO_CLIPPED, &cell, sample, (UINT)n,
                        nullptr);
            GdiFlush();
            compose(*g, sample, textLeft, composed.bits, width, g->height, cell);
            g->exact = memcmp(reference.bits, composed.bits, (size_t)width * g->height * sizeof(unsigned)) == 0;
            SelectObject(reference.dc, oldReferenceFont);
            freeDibSurface(&composed);
        }
        freeDibSurface(&reference);
    }
    SelectObject(work.dc, oldFont);
    freeDibSurface(&work);
}

const GlyphImages* imagesFor(HFONT font, const LOGFONTA& log, COLORREF text, COLORREF background, int height,
                             const CellGeometry& geometry)
{
    if (height <= 0 || height > MAX_ROW_HEIGHT)
        return nullptr;
    GlyphImages* oldest = &imageSets[0];
    for (GlyphImages& g : imageSets) {
        if (g.used && g.height == height && g.textTop == geometry.textTop && g.text == text &&
            g.background == background && memcmp(&g.font, &log, sizeof log) == 0) {
            g.lastUse = ++useClock;
            return g.exact ? &g : nullptr;
        }
        if (!g.used || (oldest->used && g.lastUse < oldest->lastUse))
            oldest = &g;
    }
    GlyphImages* g = oldest;
    free(g->pixels);
    memset(g, 0, sizeof *g);
    g->used = true;
    g->font = log;
    g->text = text;
    g->background = background;
    g->height = height;
    g->textTop = geometry.textTop;
    g->lastUse = ++useClock;
    renderImages(g, font, geometry.textLeft);
    return g->exact ? g : nullptr;
}

// A canvas can stand in for target only where text lands on the same pixels
// and in the same format: plain text settings, 32 bits a pixel.
bool targetTakesCanvas(HDC target)
{
    if (GetMapMode(target) != MM_TEXT || GetGraphicsMode(target) != GM_COMPATIBLE ||
        (GetTextAlign(target) & (TA_UPDATECP | TA_RIGHT | TA_CENTER | TA_BOTTOM | TA_BASELINE | TA_RTLREADING)) !=
            0 ||
        GetTextCharacterExtra(target) != 0 || GetLayout(target) != 0)
        return false;
    if (GetObjectType(target) == OBJ_MEMDC) {
        BITMAP bitmap = {};
        HGDIOBJ selected = GetCurrentObject(target, OBJ_BITMAP);
        return selected && GetObjectA(selected, sizeof bitmap, &bitmap) == sizeof bitmap &&
               bitmap.bmBitsPixel == 32 && bitmap.bmPlanes == 1;
    }
    return GetDeviceCaps(target, BITSPIXEL) * GetDeviceCaps(target, PLANES) == 32;
}

}  // namespace

CellCanvas::CellCanvas(HDC target, const RECT& area) : CellCanvas(target, area, cellGeometryAt(deviceDpi(target)))
{
}

CellCanvas::CellCanvas(HDC target, const RECT& area, const CellGeometry& geometry)
    : target_(target), area_(area), geometry_(geometry)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (!target || width <= 0 || height <= 0 || !targetTakesCanvas(target))
        return;
    if (!sharedBusy) {
        if (sharedSurface.width < width || sharedSurface.height < height) {
            const int w = sharedSurface.width > width ? sharedSurface.width : width;
            const int h = sharedSurface.height > height ? sharedSurface.height : height;
            freeDibSurface(&sharedSurface);
            if (!makeDibSurface(&sharedSurface, w, h))
                return;
        }
        surface_ = sharedSurface;
        shared_ = true;
        sharedBusy = true;
    } else if (!makeDibSurface(&surface_, width, height)) {
        return;
    }
    oldFont_ = SelectObject(surface_.dc, GetCurrentObject(target, OBJ_FONT));
}

CellCanvas::~CellCanvas()
{
    if (!surface_.dc)
        return;
    GdiFlush();
    BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top, surface_.dc, 0, 0,
           SRCCOPY);
    SelectObject(surface_.dc, oldFont_);
    if (shared_)
        sharedBusy = false;
    else
        freeDibSurface(&surface_);
}

void CellCanvas::cell(const RECT& cell, const char* text, COLORREF textColour, COLORREF background)
{
    if (!surface_.dc)
        return;
    RECT local = cell;
    OffsetRect(&local, -area_.left, -area_.top);
    char copy[LIST_CELL_TEXT_BYTES];
    size_t length = text ? strnlen(text, LIST_CELL_TEXT_BYTES - 1) : 0;
    memcpy(copy, text ? text : "", length);
    copy[length] = '\0';

    HFONT font = (HFONT)GetCurrentObject(surface_.dc, OBJ_FONT);
    LOGFONTA log;
    const GlyphImages* g = nullptr;
    if (font && GetObjectA(font, sizeof log, &log) == sizeof log)
        g = imagesFor(font, log, textColour, background, cell.bottom - cell.top, geometry_);
    if (g && allComposable(*g, copy)) {
        int width = 0;
        measureByAdvances((void*)g, copy, (int)strlen(copy), &width);
        // Shortened as drawCellTextAt shortens, measured by the same advances.
        if (width > cell.right - cell.left - geometry_.margin)
            fitTextToWidth(measureByAdvances, (void*)g, copy, LIST_CELL_TEXT_BYTES, cell.right - cell.left,
                           geometry_.margin);
        if (allComposable(*g, copy)) {
            if (gdiPending_) {
                GdiFlush();
                gdiPending_ = false;
            }
            // Only the canvas's own part of the surface is drawn on.
            compose(*g, copy, geometry_.textLeft, surface_.bits, surface_.width,
                    area_.bottom - area_.top < surface_.height ? area_.bottom - area_.top : surface_.height, local);
            composedCells++;
            return;
        }
    }
    SetTextColor(surface_.dc, textColour);
    SetBkColor(surface_.dc, background);
    drawCellTextAt(surface_.dc, copy, &local, geometry_);
    gdiPending_ = true;
}

unsigned long cellCanvasComposedCells()
{
    return composedCells;
}
