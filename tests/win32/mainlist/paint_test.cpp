// Cell text shortening with real GDI measuring, and a picture of the list.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "tests/win32/support/win32_test.h"
#include "ui/cell_canvas_win.h"
#include "ui/dib_surface_win.h"
#include "ui/list_paint_win.h"

namespace {

int textWidth(HDC dc, const std::string& s)
{
    SIZE size = {};
    GetTextExtentPoint32A(dc, s.c_str(), (int)s.size(), &size);
    return size.cx;
}

// What the shortening must give, worked out independently: the longest
// prefix whose width plus "..." is within width - 4, then "...".
std::string expectedFit(HDC dc, const std::string& text, int width)
{
    int budget = width - 4;
    if (budget < 0 || textWidth(dc, text) <= budget)
        return text;
    for (size_t n = text.size() - 1; n >= 1; n--)
        if (textWidth(dc, text.substr(0, n)) + textWidth(dc, "...") <= budget)
            return text.substr(0, n) + "...";
    for (const char* end : {"...", "..", "."})
        if (textWidth(dc, end) <= budget)
            return text.substr(0, 1) + end;
    return text.substr(0, 1);
}

// The pixels of `cell` that differ from its top-left one (the opaque fill left
// of the text), cut to their bounding box, a line of '#' and '.' per pixel row;
// empty when there are none. Where in the cell the text stands is left out.
std::string inkOf(HDC dc, const RECT& cell)
{
    const COLORREF background = GetPixel(dc, cell.left, cell.top);
    int left = cell.right, right = cell.left, top = cell.bottom, bottom = cell.top;
    for (int y = cell.top; y < cell.bottom; y++)
        for (int x = cell.left; x < cell.right; x++)
            if (GetPixel(dc, x, y) != background) {
                left = std::min(left, x);
                right = std::max(right, x + 1);
                top = std::min(top, y);
                bottom = std::max(bottom, y + 1);
            }
    std::string ink;
    for (int y = top; y < bottom; y++) {
        for (int x = left; x < right; x++)
            ink += GetPixel(dc, x, y) != background ? '#' : '.';
        ink += '\n';
    }
    return ink;
}

// The ink of text drawn on its own as a cell shows it (opaque, clipped to
// the cell, window colours) in font, the list's own, which its rows are drawn in.
std::string referenceInk(HDC screen, HFONT font, const std::string& text, int width, int height)
{
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    RECT cell = {0, 0, width, height};
    ExtTextOutA(dc, 2, 1, ETO_OPAQUE | ETO_CLIPPED, &cell, text.c_str(), (UINT)text.size(), nullptr);
    std::string ink = inkOf(dc, cell);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return ink;
}

// A 32-bit memory surface filled with a colour no text here is drawn in.
struct Surface : DibSurface {
    Surface(int w, int h)
    {
        makeDibSurface(this, w, h);
        for (int i = 0; bits && i < w * h; i++)
            bits[i] = 0x00123456;
    }
    ~Surface() { freeDibSurface(this); }
};

}  // namespace

// Cells drawn on a canvas and copied over show exactly what the text output
// draws cell by cell: in several fonts and colour pairs, texts the character
// images can compose and texts they cannot, shortened, clipped by a narrow
// cell and cut by the canvas's edges; nothing outside the canvas is touched.
TEST(ListPaint, CanvasCellsMatchTheTextOutput)
{
    struct Font {
        const char* face;
        int height, weight;
        BOOL italic, underline;
    };
    const Font fonts[] = {{"MS Shell Dlg", -11, 400, FALSE, FALSE},
                          {"MS Shell Dlg", 18, 700, FALSE, FALSE},
                          {"Courier New", -13, 400, TRUE, FALSE},
                          {"Tahoma", 16, 400, FALSE, TRUE}};
    const COLORREF pairs[][2] = {{GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW)},
                                 {GetSysColor(COLOR_HIGHLIGHTTEXT), GetSysColor(COLOR_HIGHLIGHT)},
                                 {RGB(0, 0, 160), RGB(255, 255, 224)}};
    const char* texts[] = {"18446744073709551615", "", "0", "Connected", "115200,8N1",
                           "a-very-long-device-host-name.example", "caf\xe9 \xb5s", "Tab\there",
                           "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", "W.W.W jjj"};
    const int widths[] = {260, 70, 21, 9, 3};
    const int rowHeight = 19, rows = 10;
    int width = 0;
    for (int w : widths)
        width += w;
    std::vector<std::string> wrong;
    const unsigned long composedBefore = cellCanvasComposedCells();
    unsigned long composedInDialogFont = 0;
    for (const Font& f : fonts) {
        HFONT font = CreateFontA(f.height, 0, 0, 0, f.weight, f.italic, f.underline, 0, DEFAULT_CHARSET, 0, 0, 0,
                                 0, f.face);
        ASSERT_NE(nullptr, font);
        for (const auto& pair : pairs) {
            Surface reference(width, rows * rowHeight), drawn(width, rows * rowHeight);
            SelectObject(reference.dc, font);
            SelectObject(drawn.dc, font);
            SetTextColor(reference.dc, pair[0]);
            SetBkColor(reference.dc, pair[1]);
            // The canvas leaves out the first column and the last pixel rows.
            const RECT area = {widths[0] / 2, 0, width, rows * rowHeight - 7};
            {
                CellCanvas canvas(drawn.dc, area);
                ASSERT_TRUE(canvas.ready());
                for (int r = 0; r < rows; r++) {
                    int x = 0;
                    for (int w : widths) {
                        const RECT cell = {x, r * rowHeight, x + w, (r + 1) * rowHeight};
                        drawCellText(reference.dc, texts[r], &cell);
                        canvas.cell(cell, texts[r], pair[0], pair[1]);
                        x += w;
                    }
                }
            }
            GdiFlush();
            int differing = 0, touched = 0;
            for (int y = 0; y < drawn.height; y++)
                for (int x = 0; x < drawn.width; x++) {
                    const bool in = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
                    const unsigned got = drawn.bits[y * drawn.width + x];
                    if (in && got != reference.bits[y * reference.width + x])
                        differing++;
                    if (!in && got != 0x00123456)
                        touched++;
                }
            if (differing || touched)
                wrong.push_back(std::string(f.face) + " " + std::to_string(f.height) + " colours " +
                                std::to_string(pair[0]) + "/" + std::to_string(pair[1]) + ": " +
                                std::to_string(differing) + " pixels differ, " + std::to_string(touched) +
                                " outside the canvas touched");
        }
        DeleteObject(font);
        if (&f == &fonts[0])
            composedInDialogFont = cellCanvasComposedCells() - composedBefore;
    }
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
    // Counters in the dialog font, in every colour pair and cell width, came
    // from the character images, not from the text output.
    EXPECT_LE(3u * 2 * 5, composedInDialogFont);
}

TEST(ListPaint, FitsWithRealTextMeasurement)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontA(18, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Shell Dlg");
    SelectObject(dc, font);
    const std::string text = "Connection failed.";
    int full = textWidth(dc, text);
    for (int width : {full + 4, full + 3, full / 2, 30, textWidth(dc, "C...") + 4, textWidth(dc, "...") + 4,
                      textWidth(dc, "..") + 4, textWidth(dc, ".") + 4, 5, 4, 3, 0}) {
        char buf[512];
        strcpy(buf, text.c_str());
        ASSERT_EQ(1, fitTextToWidth(dc, buf, sizeof buf, width));
        EXPECT_EQ(expectedFit(dc, text, width), std::string(buf)) << "width " << width;
    }
    char empty[8] = "";
    EXPECT_EQ(1, fitTextToWidth(dc, empty, sizeof empty, 10));
    EXPECT_STREQ("", empty);
    DeleteDC(dc);
    DeleteObject(font);
}

TEST(ListPaint, ListWithLiveRowsSelectedAndShortened)
{
    removeHostService();
    ASSERT_TRUE(createStandInTable());
    std::string folder = makeTempFolder("paint");
    SetCurrentDirectoryA(folder.c_str());
    bool saved = false;
    COLORREF selectedPixel = 0, plainPixel = 0;
    HFONT font = nullptr;
    std::string shortened;
    int plainCellsChecked = 0;
    std::vector<std::string> wrongCells;  // "row,column: text" of each cell not showing its text
    bool wholeTextTellsApart = false;
    int code = runManagerWith([&](HWND w) {
        SetWindowPos(w, nullptr, 20, 20, 900, 300, SWP_NOZORDER);
        const char* names[] = {"COM41", "COM42", "COM43", "COM44"};
        const char* addresses[] = {"10.231.1.1", "a-very-long-device-host-name.example", "10.231.1.3", "10.231.1.4"};
        for (int i = 0; i < 4; i++) {
            std::string port = std::string("\\\\.\\NULL_") + names[i];
            writePortEntry(portTable, i, port.c_str(), addresses[i], "4001", "enable", i % 2 ? "udp" : "tcpc",
                           std::to_string(6001 + i).c_str());
            PortEntry* e = &portTable->entries[i];
            e->present = 1;
            e->linkState = i == 2 ? LINK_FAILED : LINK_CONNECTED;
            e->comOpen = i != 3;
            e->comBaudRate = 9600 * (i + 1);
            e->comDataBits = 8;
            e->rxBytes = 1234 * (i + 1);
            e->txBytes = 987 * (i + 1);
        }
        pumpMessages(300);
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        LVITEMA state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 2, (LPARAM)&state);
        SetFocus(list);
        pumpMessages(300);
        RECT r = {};
        r.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, 2, (LPARAM)&r);
        HDC dc = GetDC(list);
        selectedPixel = GetPixel(dc, 40, (r.top + r.bottom) / 2);
        RECT r0 = {};
        r0.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, 0, (LPARAM)&r0);
        plainPixel = GetPixel(dc, 70, r0.top + 2);

        // Unselected rows read back cell by cell against each text drawn on its
        // own in the list's font: row 0 whole, row 1's long address shortened.
        UpdateWindow(list);
        font = (HFONT)SendMessageA(list, WM_GETFONT, 0, 0);
        HDC measure = CreateCompatibleDC(dc);
        HGDIOBJ oldFont = SelectObject(measure, font);
        RECT client = {};
        GetClientRect(list, &client);
        for (int row = 0; row < 2; row++) {
            RECT item = {};
            item.left = LVIR_BOUNDS;
            SendMessageA(list, LVM_GETITEMRECT, row, (LPARAM)&item);
            int x = item.left;
            for (int c = 0; c < MAIN_LIST_COLUMNS; c++) {
                const int width = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0);
                RECT cell = {x, item.top, x + width, item.bottom};
                x += width;
                if (cell.right > client.right)
                    break;
                const std::string text = listCell(list, row, c);
                if (row == 1 && text != addresses[1])
                    continue;
                const std::string shown = expectedFit(measure, text, width);
                const std::string drawn = inkOf(dc, cell);
                if (drawn != referenceInk(dc, font, shown, width, item.bottom - item.top))
                    wrongCells.push_back(std::to_string(row) + "," + std::to_string(c) + ": " + shown);
                if (row == 0) {
                    plainCellsChecked++;
                } else {
                    shortened = shown;
                    wholeTextTellsApart = drawn != referenceInk(dc, font, text, width, item.bottom - item.top);
                }
            }
        }
        SelectObject(measure, oldFont);
        DeleteDC(measure);
        ReleaseDC(list, dc);
        saved = saveWindowShot(w, shotFolder() + "\\main-list.bmp");
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_TRUE(saved);
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), selectedPixel) << "a selected row in the highlight colour";
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), plainPixel);
    EXPECT_NE(nullptr, font);
    EXPECT_LE(5, plainCellsChecked) << "cells of row 0 inside the window";
    EXPECT_TRUE(shortened.size() > 3 && shortened.compare(shortened.size() - 3, 3, "...") == 0)
        << "the long address is shortened in its column: '" << shortened << "'";
    EXPECT_TRUE(wholeTextTellsApart) << "the address clipped whole would look the same";
    EXPECT_TRUE(wrongCells.empty()) << "cells not showing their text: " << ::testing::PrintToString(wrongCells);
    SetCurrentDirectoryA(programDirectory().c_str());
    removeFolder(folder);
    releaseStandInTable();
    removeHostService();
}
