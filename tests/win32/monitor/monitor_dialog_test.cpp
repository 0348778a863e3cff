// The Monitor dialog against a stand-in host: rows, numbering, the dump,
// the tint of received rows, Clear and the two ways of closing.
#include "tests/win32/monitor/monitor_test_support.h"

#include <cstdio>

#include "monitor/monitor_paint_win.h"

using namespace monitor_test;

namespace {

std::string controlText(HWND dialog, int id)
{
    char text[64] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}


int listFontRowHeight(HWND window)
{
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, listFont);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return tm.tmHeight + 1;
}

std::string hexColour(COLORREF c)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", (unsigned long)c);
    return text;
}

// Starts a program of the machine Wine runs on (Z: is its root).
bool runUnixProgram(const std::string& commandLine)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

// Saves a picture of window as <build>/shots/<name>.png. The window's own
// pixels are copied (a virtual desktop hides them from the display's root),
// written as a bitmap and turned into PNG by ImageMagick; only under Wine.
void takeScreenshot(HWND window, const char* name)
{
    typedef char*(CDECL * UnixName)(LPCWSTR);
    UnixName unixName =
        (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    if (!unixName || GetFileAttributesA("Z:\\usr\\bin\\convert") == INVALID_FILE_ATTRIBUTES)
        return;
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP picture = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(window, source);

    const std::string shots = programDirectory() + "\\..\\shots";
    CreateDirectoryA(shots.c_str(), nullptr);
    const std::string bmp = shots + "\\" + name + ".bmp";
    const DWORD rowBytes = ((DWORD)w * 3 + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + rowBytes * h;
    FILE* out = fopen(bmp.c_str(), "wb");
    if (out) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        fwrite(bits, rowBytes, h, out);
        fclose(out);
    }
    DeleteObject(picture);

    std::wstring wide(bmp.begin(), bmp.end());
    char* unixBmp = unixName(wide.c_str());
    if (!unixBmp)
        return;
    std::string png = unixBmp;
    png.replace(png.size() - 4, 4, ".png");
    const std::string pngHere = shots + "\\" + name + ".png";
    DeleteFileA(pngHere.c_str());
    // Wine does not wait for a Unix program's end, so the picture is waited for.
    if (runUnixProgram(std::string("Z:\\usr\\bin\\convert ") + unixBmp + " " + png) &&
        waitFor([&] { return GetFileAttributesA(pngHere.c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000)) {
        pumpMessages(500);
        DeleteFileA(bmp.c_str());
    }
    HeapFree(GetProcessHeap(), 0, unixBmp);
}

}  // namespace

TEST_F(MonitorTest, OpensIdleAndFollowsTheHostsCapture)
{
    for (int c = 0; c < 5; c++)
        windowSettings.columnWidths[MONITOR_WIDTH_SLOT + c] = 61 + c * 10;
    hostWrite(1, bytes("AB\r"), 1250);
    hostWrite(0, std::vector<uint8_t>(20, 0xC8), 2500);

    MonitorRun run;
    run.body = [](HWND d) {
        char title[32] = "";
        GetWindowTextA(d, title, sizeof title);
        EXPECT_STREQ("Monitor", title);
        HWND list = listOf(d);
        ASSERT_NE(nullptr, list);
        const char* titles[] = {"#", "Time", "RX/TX", "Bytes", "Data"};
        for (int c = 0; c < 5; c++) {
            EXPECT_EQ(titles[c], listHeader(list, c)) << "column " << c;
            EXPECT_EQ(61 + c * 10, (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0)) << "column " << c;
        }
        EXPECT_EQ("Start", controlText(d, IDC_MONITOR_START));
        EXPECT_EQ("Stop", controlText(d, IDC_MONITOR_STOP));
        EXPECT_EQ("Clear", controlText(d, IDC_MONITOR_CLEAR));
        EXPECT_EQ("Save", controlText(d, IDC_MONITOR_SAVE));
        EXPECT_EQ("Exit", controlText(d, IDOK));

        // The host has not started capturing: nothing is read, whatever the ring holds.
        pumpMessages(100);
        EXPECT_TRUE(enabled(d, IDC_MONITOR_START));
        EXPECT_FALSE(enabled(d, IDC_MONITOR_STOP));
        EXPECT_EQ(0, rowCount(d));
        EXPECT_EQ(0, entry()->captureReadIndex);

        // The buttons only ask; the host's answer sets them.
        SendMessageA(d, WM_COMMAND, IDC_MONITOR_START, 0);
        EXPECT_EQ(CAPTURE_START, entry()->captureCommand);
        pumpMessages(50);
        EXPECT_TRUE(enabled(d, IDC_MONITOR_START));

        SetFocus(GetDlgItem(d, IDC_MONITOR_START));
        entry()->captureActive = 1;
        ASSERT_TRUE(drained());
        EXPECT_FALSE(enabled(d, IDC_MONITOR_START));
        EXPECT_TRUE(enabled(d, IDC_MONITOR_STOP));
        EXPECT_EQ(GetDlgItem(d, IDC_MONITOR_STOP), GetFocus()) << "focus follows the capture state";
        ASSERT_EQ(2, rowCount(d));
        EXPECT_EQ("0", cell(d, 0, 0));
        EXPECT_EQ("1.250000", cell(d, 0, 1));
        EXPECT_EQ("rx", cell(d, 0, 2));
        EXPECT_EQ("3", cell(d, 0, 3));
        EXPECT_EQ("41 42 0D ", cell(d, 0, 4));
        EXPECT_EQ("1", cell(d, 1, 0));
        EXPECT_EQ("2.500000", cell(d, 1, 1));
        EXPECT_EQ("tx", cell(d, 1, 2));
        EXPECT_EQ("20", cell(d, 1, 3));
        EXPECT_EQ("C8 C8 C8 C8 C8 C8 C8 C8 C8 C8 C8 C8 C8 C8 C8 C8...", cell(d, 1, 4));

        RECT r = {};
        r.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, 0, (LPARAM)&r);
        EXPECT_EQ(listFontRowHeight(d), r.bottom - r.top);

        SendMessageA(d, WM_COMMAND, IDC_MONITOR_STOP, 0);
        EXPECT_EQ(CAPTURE_STOP, entry()->captureCommand);
        entry()->captureActive = 0;
        hostWrite(1, bytes("late"));
        pumpMessages(100);
        EXPECT_TRUE(enabled(d, IDC_MONITOR_START));
        EXPECT_FALSE(enabled(d, IDC_MONITOR_STOP));
        EXPECT_EQ(2, rowCount(d));
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
}

TEST_F(MonitorTest, KeepsTheNewest1024RowsNumberedOn)
{
    entry()->captureActive = 1;
    MonitorRun run;
    run.body = [](HWND d) {
        // More than the ring holds, so in two host bursts.
        for (uint32_t n = 0; n < 1030; n++) {
            if (n == 600) {
                ASSERT_TRUE(drained());
                selectRow(d, 100);
                SendMessageA(listOf(d), LVM_SETSELECTIONMARK, 0, 100);
            }
            hostWrite(n % 2, numbered(n));
        }
        ASSERT_TRUE(drained());
        ASSERT_EQ(1024, rowCount(d));
        // The selection went up with its record as the oldest rows went.
        EXPECT_EQ(94, (int)SendMessageA(listOf(d), LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED));
        EXPECT_EQ(94, (int)SendMessageA(listOf(d), LVM_GETSELECTIONMARK, 0, 0));
        EXPECT_EQ("100", cell(d, 94, 0));
        EXPECT_EQ("HEX:\r\n64 00 00 00 \r\nASCII:\r\nd???\r\n\r\n", detailText(d));
        EXPECT_EQ("6", cell(d, 0, 0));
        EXPECT_EQ("06 00 00 00 ", cell(d, 0, 4));
        EXPECT_EQ("1029", cell(d, 1023, 0));
        EXPECT_EQ("05 04 00 00 ", cell(d, 1023, 4));
        EXPECT_EQ(6, entry()->captureReadIndex);
        // Every row still shows its own record, dump included.
        selectRow(d, 1023);
        EXPECT_EQ("HEX:\r\n05 04 00 00 \r\nASCII:\r\n????\r\n\r\n", detailText(d));
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
}

TEST_F(MonitorTest, ClearEmptiesTheWindowAndRestartsNumbering)
{
    entry()->captureActive = 1;
    MonitorRun run;
    run.body = [](HWND d) {
        for (int n = 0; n < 5; n++)
            hostWrite(0, numbered(n));
        ASSERT_TRUE(drained());
        selectRow(d, 2);
        ASSERT_NE("", detailText(d));

        SendMessageA(d, WM_COMMAND, IDC_MONITOR_CLEAR, 0);
        EXPECT_EQ(CAPTURE_CLEAR, entry()->captureCommand);
        EXPECT_EQ(0, rowCount(d));
        EXPECT_EQ("", detailText(d));
        EXPECT_EQ(0, monitorRows.shownCount);

        hostWrite(1, numbered(77));
        ASSERT_TRUE(drained());
        ASSERT_EQ(1, rowCount(d));
        EXPECT_EQ("0", cell(d, 0, 0));
        EXPECT_EQ("4D 00 00 00 ", cell(d, 0, 4));
        selectRow(d, 0);
        EXPECT_EQ("HEX:\r\n4d 00 00 00 \r\nASCII:\r\nM???\r\n\r\n", detailText(d));
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
}

// The ring did not start at slot 0 and holds an empty slot: each row still
// shows, dumps and tints its own record.
TEST_F(MonitorTest, EmptySlotMakesNoRowAndShiftsNothing)
{
    entry()->captureReadIndex = 1021;
    entry()->captureWriteIndex = 1021;
    hostWrite(0, bytes("first"));                 // 1021
    hostWrite(0, {});                             // 1022, empty
    hostWrite(1, bytes("second"));                // 1023
    hostWrite(0, bytes("third"));                 // 0
    entry()->captureActive = 1;

    MonitorRun run;
    run.body = [](HWND d) {
        ASSERT_TRUE(drained());
        ASSERT_EQ(3, rowCount(d));
        EXPECT_EQ(3, monitorRows.shownCount);
        EXPECT_EQ("1", cell(d, 1, 0));
        EXPECT_EQ("rx", cell(d, 1, 2));
        EXPECT_EQ("73 65 63 6F 6E 64 ", cell(d, 1, 4));
        EXPECT_EQ("2", cell(d, 2, 0));
        EXPECT_EQ("74 68 69 72 64 ", cell(d, 2, 4));

        selectRow(d, 1);
        EXPECT_EQ("HEX:\r\n73 65 63 6f 6e 64 \r\nASCII:\r\nsecond\r\n\r\n", detailText(d));
        selectRow(d, 2);
        EXPECT_EQ("HEX:\r\n74 68 69 72 64 \r\nASCII:\r\nthird\r\n\r\n", detailText(d));
        // Row 1, not row 2, shows the received record.
        EXPECT_EQ(hexColour(RX_ROW_BACKGROUND), hexColour(rowPixel(d, 1, 0)));
        EXPECT_EQ(hexColour(GetSysColor(COLOR_WINDOW)), hexColour(rowPixel(d, 0, 0)));
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
}

TEST_F(MonitorTest, SelectedRowShowsItsDumpAndAFrameShowsNothing)
{
    std::vector<uint8_t> long33;
    for (int i = 0; i < 33; i++)
        long33.push_back((uint8_t)(0x5E + i));   // 0x5E..0x7E, the last one a tilde
    hostWrite(1, long33);
    hostWrite(1, {0xA5, 0x5A, 0x02, 0x10, 0x20, 0xCF});
    hostWrite(0, {0x00, 0x7F, 0xC8, 0x25, 0x73});
    entry()->captureActive = 1;

    MonitorRun run;
    run.body = [](HWND d) {
        ASSERT_TRUE(drained());
        ASSERT_EQ(3, rowCount(d));
        EXPECT_EQ("", cell(d, 1, 4));

        selectRow(d, 0);
        const std::string expected =
            "HEX:\r\n"
            "5e 5f 60 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d     "
            "6e 6f 70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d \r\n"
            "7e \r\n"
            "ASCII:\r\n"
            "^_`abcdefghijklm    nopqrstuvwxyz{|}\r\n"
            "~\r\n"
            "\r\n";
        EXPECT_EQ(expected, detailText(d));

        selectRow(d, 1);
        EXPECT_EQ("", detailText(d));
        selectRow(d, 2);
        EXPECT_EQ("HEX:\r\n00 7f c8 25 73 \r\nASCII:\r\n???%s\r\n\r\n", detailText(d));

        // Losing the selection leaves the dump in place.
        LVITEMA none = {};
        none.stateMask = LVIS_SELECTED;
        SendMessageA(listOf(d), LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&none);
        EXPECT_EQ("HEX:\r\n00 7f c8 25 73 \r\nASCII:\r\n???%s\r\n\r\n", detailText(d));
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
}

TEST_F(MonitorTest, ReceivedRowsAreTintedAndSelectionHighlights)
{
    const char* lines[] = {"AT\r", "OK\r\n", "ATI\r", "Model 4\r\nOK\r\n", "AT+CFG=115200,8,N,1,FLOW=NONE,TIMEOUT=30\r",
                           "+BAUD: 115200\r\n", "ATZ\r", "OK\r\n"};
    for (int i = 0; i < 8; i++)
        hostWrite(i % 2, bytes(lines[i]), 1000 + i * 137);
    entry()->captureActive = 1;

    MonitorRun run;
    run.body = [](HWND d) {
        ASSERT_TRUE(drained());
        ASSERT_EQ(8, rowCount(d));
        const std::string window = hexColour(GetSysColor(COLOR_WINDOW));
        const std::string highlight = hexColour(GetSysColor(COLOR_HIGHLIGHT));
        const std::string tint = hexColour(RX_ROW_BACKGROUND);
        EXPECT_EQ("0x00FFE6E7", tint);
        EXPECT_EQ(window, hexColour(rowPixel(d, 0, 0)));
        EXPECT_EQ(tint, hexColour(rowPixel(d, 1, 0)));
        EXPECT_EQ(tint, hexColour(rowPixel(d, 1, 3)));   // across the row, not one cell

        selectRow(d, 1);
        EXPECT_EQ(highlight, hexColour(rowPixel(d, 1, 0)));
        selectRow(d, 4);
        EXPECT_EQ(highlight, hexColour(rowPixel(d, 4, 0)));
        EXPECT_EQ(tint, hexColour(rowPixel(d, 1, 0)));
        EXPECT_EQ(window, hexColour(rowPixel(d, 2, 0)));

        SetForegroundWindow(d);
        RedrawWindow(d, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        pumpMessages(200);
        takeScreenshot(d, "monitor");
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
}

TEST_F(MonitorTest, ExitEscAndCloseBoxStopCaptureAndKeepColumnWidths)
{
    entry()->captureActive = 1;
    struct Way {
        const char* name;
        int column;
        int width;
        std::function<void(HWND)> close;
        INT_PTR result;
    } ways[] = {
        {"Exit", 2, 123, [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); }, IDOK},
        {"Esc", 4, 222,
         [](HWND d) {
             SetFocus(listOf(d));
             PostMessageA(listOf(d), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         },
         IDCANCEL},
        {"close box", 0, 44, [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
    };
    for (Way& way : ways) {
        entry()->captureCommand = CAPTURE_START;
        hostWrite(1, bytes("x"));
        MonitorRun run;
        run.closeWith = 0;
        run.body = [&way](HWND d) {
            ASSERT_TRUE(drained());
            EXPECT_EQ(1, monitorRows.shownCount);
            SendMessageA(listOf(d), LVM_SETCOLUMNWIDTH, way.column, way.width);
            way.close(d);
        };
        const INT_PTR result = runMonitor(run);
        EXPECT_TRUE(run.bodyRan) << way.name;
        EXPECT_EQ(way.result, result) << way.name;
        EXPECT_EQ(CAPTURE_STOP, entry()->captureCommand) << way.name;
        EXPECT_EQ(way.width, windowSettings.columnWidths[MONITOR_WIDTH_SLOT + way.column]) << way.name;
        EXPECT_EQ(0, monitorRows.shownCount) << way.name;
    }
    // Widths changed on one opening come back on the next.
    MonitorRun again;
    int width = 0;
    again.body = [&width](HWND d) { width = (int)SendMessageA(listOf(d), LVM_GETCOLUMNWIDTH, 4, 0); };
    runMonitor(again);
    EXPECT_EQ(222, width);
}
