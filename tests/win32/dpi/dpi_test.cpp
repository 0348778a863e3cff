// The manager's windows at the display's DPI. run_per_dpi.sh runs this
// program once at each of 96, 120, 144 and 192 DPI (the prefix's LogPixels):
// the stored record shows scaled and is saved back unchanged, rows are the
// list font's height plus one, and no text of the lists or of any dialog is
// cut off. A sent WM_DPICHANGED stands for a move to another display.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/common_controls.h"
#include "app/settings.h"
#include "devcfg/devcfg_ids.h"
#include "monitor/monitor_dialog_win.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "tests/win32/monitor/monitor_test_support.h"
#include "tests/win32/support/win32_test.h"
#include "ui/dib_surface_win.h"
#include "ui/dpi_win.h"
#include "ui/list_paint_win.h"
#include "ui/window_settings.h"

namespace {

// Where the 144-DPI pictures go for a person to look at: build/dpi-shots.
const int SHOT_DPI = 144;

std::string shotPath(const char* name)
{
    const std::string folder = programDirectory() + "\\..\\..\\dpi-shots";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\" + name + ".bmp";
}

// Taken from the screen, so the window is brought to its top left corner:
// the desktop is larger than the display it is shown on.
void shoot(HWND window, const char* name)
{
    if (systemDpi() != SHOT_DPI)
        return;
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pumpMessages(300);
    EXPECT_TRUE(saveWindowShot(window, shotPath(name))) << name;
}

// Another DPI to move to: the window is told it is now on that display.
int otherDpi(int dpi) { return dpi == 192 ? 120 : 192; }

int textHeightOf(HFONT font)
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return tm.tmHeight;
}

// The room text takes in font, as DrawText lays it out with flags within
// width (word-wrapped text grows downwards).
SIZE laidOut(HFONT font, const std::string& text, UINT flags, int width)
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, width, 0};
    DrawTextA(dc, text.c_str(), (int)text.size(), &r, flags | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return {r.right - r.left, r.bottom - r.top};
}

int rowHeightOf(HWND list)
{
    RECT r = {};
    r.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, 0, (LPARAM)&r);
    return r.bottom - r.top;
}

std::vector<int> columnWidths(HWND list, int count)
{
    std::vector<int> widths;
    for (int c = 0; c < count; c++)
        widths.push_back((int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
    return widths;
}

std::vector<int> scaled(const int32_t* stored, int count, int dpi)
{
    std::vector<int> widths;
    for (int c = 0; c < count; c++)
        widths.push_back(scaleToDpi(stored[c], dpi));
    return widths;
}

// Every header title and cell text of an owner-drawn list is shown whole at
// the list's DPI: titles within their header item's margins, cell texts
// within the cell less its margin, and the text's height within the row.
void expectListTextsWhole(HWND list, int columns, int dpi, const char* what)
{
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    HFONT font = (HFONT)SendMessageA(list, WM_GETFONT, 0, 0);
    ASSERT_NE(nullptr, font) << what;
    const int headerMargin = (int)SendMessageA(header, HDM_GETBITMAPMARGIN, 0, 0);
    const CellGeometry cell = cellGeometryAt(dpi);
    for (int c = 0; c < columns; c++) {
        RECT item = {};
        SendMessageA(header, HDM_GETITEMRECT, c, (LPARAM)&item);
        const std::string title = listHeader(list, c);
        const SIZE t = laidOut((HFONT)SendMessageA(header, WM_GETFONT, 0, 0), title, DT_SINGLELINE, 0);
        EXPECT_LE(t.cx + 2 * headerMargin, item.right - item.left) << what << " title \"" << title << "\"";
        EXPECT_LE(t.cy, item.bottom - item.top) << what << " title \"" << title << "\"";
        const int width = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0);
        for (int row = 0; row < listRows(list); row++) {
            const std::string text = listCell(list, row, c);
            const SIZE s = laidOut(font, text, DT_SINGLELINE | DT_NOPREFIX, 0);
            EXPECT_LE(s.cx, width - cell.margin) << what << " row " << row << " \"" << text << "\"";
        }
    }
    EXPECT_LE(textHeightOf(font) + cell.textTop, rowHeightOf(list)) << what << ": text taller than its row";
}

// The list's painter draws row 0 exactly as the text output draws each cell
// text at this DPI's offsets: whether composed from character images or not.
void expectRowAsTextOutput(HWND list, int columns, int dpi, const char* what)
{
    RECT item = {};
    item.left = LVIR_BOUNDS;
    ASSERT_TRUE(SendMessageA(list, LVM_GETITEMRECT, 0, (LPARAM)&item)) << what;
    const int width = item.right - item.left, height = item.bottom - item.top;
    DibSurface drawn = {}, reference = {};
    ASSERT_TRUE(makeDibSurface(&drawn, width, height) && makeDibSurface(&reference, width, height)) << what;
    HFONT font = (HFONT)SendMessageA(list, WM_GETFONT, 0, 0);
    SelectObject(drawn.dc, font);
    SelectObject(reference.dc, font);
    DRAWITEMSTRUCT row = {};
    row.CtlType = ODT_LISTVIEW;
    row.itemAction = ODA_SELECT;  // not a paint of the list's: it must not learn where rows go from it
    row.hwndItem = list;
    row.hDC = drawn.dc;
    row.rcItem = {0, 0, width, height};
    drawListRow(list, &row, columns);

    const CellGeometry g = cellGeometryAt(dpi);
    SetTextColor(reference.dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(reference.dc, GetSysColor(COLOR_WINDOW));
    int x = 0;
    for (int c = 0; c < columns; c++) {
        const int w = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0);
        const RECT cell = {x, 0, x + w, height};
        const std::string text = listCell(list, 0, c);
        ExtTextOutA(reference.dc, x + g.textLeft, g.textTop, ETO_OPAQUE | ETO_CLIPPED, &cell, text.c_str(),
                    (UINT)text.size(), nullptr);
        x += w;
    }
    GdiFlush();
    const int shown = x < width ? x : width;
    int differing = 0;
    for (int y = 0; y < height; y++)
        for (int px = 0; px < shown; px++)
            differing += drawn.bits[y * width + px] != reference.bits[y * width + px];
    EXPECT_EQ(0, differing) << what << ": pixels unlike the text output at " << g.textLeft << "," << g.textTop;
    freeDibSurface(&drawn);
    freeDibSurface(&reference);
}

void storeRecord(const WindowSettings& s)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &key, nullptr));
    RegSetValueExA(key, SETTINGS_VALUE, 0, REG_BINARY, (const BYTE*)&s, sizeof s);
    RegCloseKey(key);
}

WindowSettings storedRecord()
{
    WindowSettings s = {};
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return s;
    DWORD size = sizeof s;
    RegQueryValueExA(key, SETTINGS_VALUE, nullptr, nullptr, (BYTE*)&s, &size);
    RegCloseKey(key);
    return s;
}

// A record as saved on some earlier run: odd widths, so that scaling rounds.
WindowSettings earlierRecord()
{
    WindowSettings s = {};
    setDefaultSettings(&s, nullptr);
    s.version = SETTINGS_VERSION;
    s.windowLeft = 30;
    s.windowTop = 21;
    s.windowWidth = 641;
    s.windowHeight = 333;
    const int32_t widths[14] = {81, 100, 103, 93, 85, 100, 101, 99, 100, 61, 77, 83, 80, 301};
    memcpy(s.columnWidths, widths, sizeof widths);
    return s;
}

// The width of the icon a window shows in its caption.
int smallIconWidth(HWND window)
{
    HICON icon = (HICON)SendMessageA(window, WM_GETICON, ICON_SMALL, 0);
    if (!icon)
        icon = (HICON)GetClassLongPtrA(window, GCLP_HICONSM);
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

int smallIconSizeAt(int dpi)
{
    typedef int(WINAPI * MetricsForDpi)(int, UINT);
    MetricsForDpi metrics = (MetricsForDpi)(void*)GetProcAddress(GetModuleHandleA("user32"), "GetSystemMetricsForDpi");
    return metrics ? metrics(SM_CXSMICON, dpi) : MulDiv(GetSystemMetrics(SM_CXSMICON), dpi, systemDpi());
}

struct DpiTest : ::testing::Test {
    std::string folder;
    int dpi = 0;
    void SetUp() override
    {
        // The driver says which DPI this run is for: Wine must have taken it.
        dpi = systemDpi();
        if (const char* expected = getenv("PARLO_EXPECT_DPI")) {
            ASSERT_EQ(atoi(expected), dpi) << "the prefix's LogPixels did not reach this run";
        }
        removeHostService();
        ASSERT_TRUE(createStandInTable());
        folder = makeTempFolder("dpi");
        SetCurrentDirectoryA(folder.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(programDirectory().c_str());
        removeFolder(folder);
        releaseStandInTable();
        removeHostService();
    }
};

void addPort(int index, const char* name, const char* address, const char* link)
{
    PortEntry* e = &portTable->entries[index];
    writePortEntry(portTable, index, name, address, "4001", "enable", "tcpc", "50001");
    e->comOpen = 1;
    e->comBaudRate = 115200;
    e->comDataBits = 8;
    e->rxBytes = 1234567;
    e->txBytes = 98765;
    e->linkState = strcmp(link, "Connected") == 0 ? 0x1000002 : 0;
    e->present = 1;
}

}  // namespace

// The main window and its list at this DPI and after a move to another: the
// stored placement and widths scaled, rows of listFont's height plus one,
// every text whole; saved back as they were stored.
TEST_F(DpiTest, MainWindowFollowsTheDpi)
{
    const WindowSettings earlier = earlierRecord();
    storeRecord(earlier);
    const int other = otherDpi(dpi);
    const RECT suggested = {40, 30, 40 + scaleToDpi(641, other), 30 + scaleToDpi(333, other)};
    RECT placed = {}, moved = {};
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        addPort(0, "\\\\.\\NULL_COM5", "192.168.1.20", "Connected");
        addPort(1, "\\\\.\\NULL_COM128", "10.0.0.7", "");
        ASSERT_TRUE(waitFor([&] { return listRows(list) == 2; }));
        GetWindowRect(w, &placed);
        EXPECT_EQ(scaled(earlier.columnWidths, MAIN_LIST_COLUMNS, dpi), columnWidths(list, MAIN_LIST_COLUMNS));
        LOGFONTA font = {};
        GetObjectA(listFontAt(dpi), sizeof font, &font);
        EXPECT_EQ(scaleToDpi(18, dpi), font.lfHeight) << "listFont is 18 units at 96 DPI";
        EXPECT_EQ(textHeightOf(listFontAt(dpi)) + 1, rowHeightOf(list));
        expectListTextsWhole(list, MAIN_LIST_COLUMNS, dpi, "main list");
        expectRowAsTextOutput(list, MAIN_LIST_COLUMNS, dpi, "main list");
        EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), smallIconWidth(w));
        shoot(w, "main-window");

        SendMessageA(w, WM_DPICHANGED, MAKEWPARAM(other, other), (LPARAM)&suggested);
        pumpMessages(200);
        GetWindowRect(w, &moved);
        EXPECT_EQ(scaled(earlier.columnWidths, MAIN_LIST_COLUMNS, other), columnWidths(list, MAIN_LIST_COLUMNS));
        EXPECT_EQ(textHeightOf(listFontAt(other)) + 1, rowHeightOf(list)) << "rows follow the move";
        expectListTextsWhole(list, MAIN_LIST_COLUMNS, other, "main list after the move");
        expectRowAsTextOutput(list, MAIN_LIST_COLUMNS, other, "main list after the move");
        EXPECT_EQ(smallIconSizeAt(other), smallIconWidth(w));
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ(scaleToDpi(30, dpi), placed.left);
    EXPECT_EQ(scaleToDpi(21, dpi), placed.top);
    EXPECT_EQ(scaleToDpi(641, dpi), placed.right - placed.left);
    EXPECT_EQ(scaleToDpi(333, dpi), placed.bottom - placed.top);
    EXPECT_EQ(suggested.left, moved.left);
    EXPECT_EQ(suggested.top, moved.top);
    EXPECT_EQ(suggested.right, moved.right);
    EXPECT_EQ(suggested.bottom, moved.bottom);
    // Shown at two DPIs and saved at the second, the record is what was stored.
    const WindowSettings saved = storedRecord();
    EXPECT_EQ(scaleFromDpi(40, other), saved.windowLeft);
    EXPECT_EQ(scaleFromDpi(30, other), saved.windowTop);
    EXPECT_EQ(641, saved.windowWidth);
    EXPECT_EQ(333, saved.windowHeight);
    EXPECT_EQ(0, memcmp(earlier.columnWidths, saved.columnWidths, sizeof saved.columnWidths));

    // A column dragged at this DPI is stored at 96 and comes back where it was dropped.
    ASSERT_TRUE(createStandInTable());
    const int dragged = scaleToDpi(93, dpi) + 7;
    code = runManagerWith([&](HWND w) {
        SendMessageA(GetDlgItem(w, IDC_PORT_LIST), LVM_SETCOLUMNWIDTH, 3, dragged);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ(scaleFromDpi(dragged, dpi), storedRecord().columnWidths[3]);
    ASSERT_TRUE(createStandInTable());
    int shown = 0;
    code = runManagerWith([&](HWND w) {
        shown = (int)SendMessageA(GetDlgItem(w, IDC_PORT_LIST), LVM_GETCOLUMNWIDTH, 3, 0);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_LE(abs(dragged - shown), (dpi + BASE_DPI - 1) / BASE_DPI) << "within a 96-DPI pixel of the drop";
    EXPECT_EQ(scaleFromDpi(dragged, dpi), storedRecord().columnWidths[3]) << "and stays put";
}

// The Monitor at this DPI and after a move: its columns, rows, texts and
// dump font follow; its widths go back to the record as they were stored.
TEST_F(DpiTest, MonitorFollowsTheDpi)
{
    using namespace monitor_test;
    const WindowSettings earlier = earlierRecord();
    windowSettings = earlier;
    makeListFont();
    INITCOMMONCONTROLSEX controls = {sizeof controls, COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&controls);
    ASSERT_EQ(1, mapPortTable());
    writePortEntry(portTable, ENTRY, "\\\\.\\NULL_COM41", "127.0.0.1", "4001", "enable", "tcpc", "0");
    entry()->present = 1;
    entry()->captureTickRate = TICK_RATE;
    entry()->captureActive = 1;
    monitoredEntry = ENTRY;
    hostWrite(1, bytes("AB\r"), 1250);
    hostWrite(0, bytes("ATZ\r\nOK"), 2500);
    const int other = otherDpi(dpi);

    MonitorRun run;
    run.body = [&](HWND d) {
        HWND list = listOf(d);
        ASSERT_TRUE(drained());
        ASSERT_EQ(2, rowCount(d));
        EXPECT_EQ(scaled(&earlier.columnWidths[MONITOR_WIDTH_SLOT], 5, dpi), columnWidths(list, 5));
        EXPECT_EQ(textHeightOf(listFontAt(dpi)) + 1, rowHeightOf(list));
        expectListTextsWhole(list, 5, dpi, "Monitor list");
        selectRow(d, 1);
        shoot(d, "monitor");

        RECT frame;
        GetWindowRect(d, &frame);
        SendMessageA(d, WM_DPICHANGED, MAKEWPARAM(other, other), (LPARAM)&frame);
        pumpMessages(200);
        EXPECT_EQ(scaled(&earlier.columnWidths[MONITOR_WIDTH_SLOT], 5, other), columnWidths(list, 5));
        EXPECT_EQ(textHeightOf(listFontAt(other)) + 1, rowHeightOf(list)) << "rows follow the move";
        LOGFONTA dump = {};
        GetObjectA((HFONT)SendDlgItemMessageA(d, IDC_MONITOR_DETAIL, WM_GETFONT, 0, 0), sizeof dump, &dump);
        EXPECT_EQ(-MulDiv(9, other, 72), dump.lfHeight) << "the dump's 9 points at the new DPI";
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
    EXPECT_EQ(0, memcmp(&earlier.columnWidths[MONITOR_WIDTH_SLOT], &windowSettings.columnWidths[MONITOR_WIDTH_SLOT],
                        5 * sizeof(int32_t)))
        << "closed at another DPI, the Monitor keeps the stored widths";
    monitoredEntry = -1;
    unmapPortTable();
}

namespace {

INT_PTR CALLBACK templateOnly(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

std::string classOf(HWND w)
{
    char name[64] = "";
    GetClassNameA(w, name, sizeof name);
    return name;
}

// Texts of the templates that their own size cuts at every DPI, 96 included;
// the templates' sizes are the program's, so these are left as they are.
struct KnownCut {
    int dialog, control;
};
const KnownCut knownCuts[] = {
    {IDD_AUTO_CREATE_PORT, IDC_AUTO_COM_LABEL},  // "Virtual Serial Port" wraps in 42 units, 8 high
};

bool knownCut(int dialog, int control)
{
    for (const KnownCut& k : knownCuts)
        if (k.dialog == dialog && k.control == control)
            return true;
    return false;
}

}  // namespace

// Every dialog scales with its font: the font is its points at this DPI, and
// the text of every label and button fits the control the template gives it.
TEST_F(DpiTest, DialogTextsFit)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&controls);
    struct Template {
        int id;
        int points;
    } templates[] = {{IDD_ABOUTBOX, 10},       {IDD_CREATE_PORT, 8},       {IDD_MONITOR, 8},
                     {IDD_SCAN_DEVICES, 10},   {IDD_NETWORK_CONFIG, 10},   {IDD_AUTHENTICATION, 10},
                     {IDD_CONFIGURE_DEVICE, 10}, {IDD_AUTO_CREATE_PORT, 10}};
    const int edge = scaleToDpi(3, dpi);
    for (const Template& t : templates) {
        HWND d = CreateDialogParamA(appResources(), MAKEINTRESOURCEA(t.id), nullptr, templateOnly, 0);
        ASSERT_NE(nullptr, d) << "dialog " << t.id;
        LOGFONTA log = {};
        GetObjectA((HFONT)SendMessageA(d, WM_GETFONT, 0, 0), sizeof log, &log);
        EXPECT_EQ(-MulDiv(t.points, dpi, 72), log.lfHeight) << "dialog " << t.id;
        for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char text[256] = "";
            GetWindowTextA(c, text, sizeof text);
            const std::string cls = classOf(c);
            const LONG style = GetWindowLongA(c, GWL_STYLE);
            if (!text[0] || (cls != "Static" && cls != "Button") || (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON))
                continue;
            const int id = GetDlgCtrlID(c);
            if (knownCut(t.id, id))
                continue;
            RECT client;
            GetClientRect(c, &client);
            HFONT font = (HFONT)SendMessageA(c, WM_GETFONT, 0, 0);
            const UINT prefix = cls == "Static" && (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
            if (cls == "Static") {
                // A label wraps within its width; every line must show.
                const bool wraps = (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP;
                const SIZE s = laidOut(font, text, (wraps ? DT_WORDBREAK : DT_SINGLELINE) | prefix, client.right);
                EXPECT_LE(s.cx, client.right) << "dialog " << t.id << " \"" << text << "\" wider than its label";
                EXPECT_LE(s.cy, client.bottom) << "dialog " << t.id << " \"" << text << "\" lines cut";
            } else {
                const SIZE s = laidOut(font, text, DT_SINGLELINE, 0);
                EXPECT_LE(s.cx + 2 * edge, client.right) << "dialog " << t.id << " button \"" << text << "\"";
                EXPECT_LE(s.cy, client.bottom) << "dialog " << t.id << " button \"" << text << "\"";
            }
        }
        if (t.id == IDD_CREATE_PORT) {
            ShowWindow(d, SW_SHOW);
            shoot(d, "create-port");
        }
        DestroyWindow(d);
    }
}
