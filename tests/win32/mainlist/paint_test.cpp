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

}  // namespace

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
