// Helpers of the Monitor tests: a stand-in host filling one entry's capture
// ring, and the Monitor dialog run modally with a test body inside it.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "monitor/monitor_dialog_win.h"
#include "monitor/monitor_ids.h"
#include "monitor/monitor_rows.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"
#include "res/resource.h"
#include "tests/win32/support/win32_test.h"

namespace monitor_test {

const int ENTRY = 3;
const int64_t TICK_RATE = 1000;

inline PortEntry* entry() { return &portTable->entries[ENTRY]; }

inline void putRecord(int slot, uint32_t direction, const std::vector<uint8_t>& data,
                      int64_t time = 0)
{
    CaptureRecord* r = &entry()->captureRing[slot];
    r->recordTime = time;
    r->recordDirection = direction;
    r->recordLength = (uint32_t)data.size();
    memcpy(r->recordData, data.data(), data.size());
}

// What the host does for one passing record: fill the write slot, then advance.
inline void hostWrite(uint32_t direction, const std::vector<uint8_t>& data, int64_t time = 0)
{
    const int slot = entry()->captureWriteIndex;
    putRecord(slot, direction, data, time);
    entry()->captureWriteIndex = (slot + 1) % CAPTURE_RING_SLOTS;
}

inline std::vector<uint8_t> bytes(const char* text) { return {text, text + strlen(text)}; }

// Four bytes of a running number, so each row can be traced to its record.
inline std::vector<uint8_t> numbered(uint32_t n)
{
    return {(uint8_t)n, (uint8_t)(n >> 8), (uint8_t)(n >> 16), (uint8_t)(n >> 24)};
}

inline HWND listOf(HWND dialog) { return GetDlgItem(dialog, IDC_MONITOR_LIST); }

inline int rowCount(HWND dialog)
{
    return (int)SendMessageA(listOf(dialog), LVM_GETITEMCOUNT, 0, 0);
}

inline std::string cell(HWND dialog, int row, int column)
{
    char text[600] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(listOf(dialog), LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return text;
}

inline std::string detailText(HWND dialog)
{
    char text[4096] = "";
    GetDlgItemTextA(dialog, IDC_MONITOR_DETAIL, text, sizeof text);
    return text;
}

inline bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

inline void selectRow(HWND dialog, int row)
{
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(listOf(dialog), LVM_SETITEMSTATE, row, (LPARAM)&state);
}

// Waits until the Monitor has taken everything the host wrote and its list
// has followed (records taken between ticks are listed on the next tick).
inline bool drained(DWORD ms = 3000)
{
    if (!waitFor([] { return entry()->captureReadIndex == entry()->captureWriteIndex; }, ms))
        return false;
    pumpMessages(50);
    return true;
}

// Colour of the list's pixel in row `row`, just inside the right edge of
// column `column`, where no text reaches.
inline COLORREF rowPixel(HWND dialog, int row, int column)
{
    HWND list = listOf(dialog);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    RECT r = {};
    r.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, row, (LPARAM)&r);
    int x = r.left;
    for (int c = 0; c <= column; c++)
        x += (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0);
    HDC dc = GetDC(list);
    const COLORREF colour = GetPixel(dc, x - 3, (r.top + r.bottom) / 2);
    ReleaseDC(list, dc);
    return colour;
}

// Run state of one modal Monitor: the test body runs from a thread timer
// inside the dialog's own loop once the dialog is up, then the dialog is
// closed with closeWith (0 when the body closes it itself).
struct MonitorRun {
    std::function<void(HWND)> body;
    std::function<void(HWND)> onOtherDialog;   // save dialog and others; cancelled when unset
    std::vector<std::string> otherDialogs;
    std::vector<SeenBox> boxes;                 // message boxes seen, answered with boxAnswer
    int closeWith = IDOK;
    HWND dialog = nullptr;
    bool bodyRan = false;
};

inline MonitorRun* activeRun;

inline void CALLBACK runBodyTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    MonitorRun* run = activeRun;
    if (!run || !run->dialog || !IsWindowVisible(run->dialog))
        return;
    KillTimer(nullptr, id);
    run->bodyRan = true;
    HWND dialog = run->dialog;
    if (run->body)
        run->body(dialog);
    if (run->closeWith && IsWindow(dialog))
        PostMessageA(dialog, WM_COMMAND, run->closeWith, 0);
}

// A Monitor left open by a failing body still ends, so the run cannot hang.
inline void CALLBACK watchdogTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (activeRun && activeRun->dialog && IsWindow(activeRun->dialog)) {
        ADD_FAILURE() << "Monitor still open after the watchdog period";
        PostMessageA(activeRun->dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

// Opens dialog 132 modally and returns its result.
inline INT_PTR runMonitor(MonitorRun& run, int boxAnswer = IDOK)
{
    DialogWatcher watcher(boxAnswer);
    watcher.onDialog = [&run](HWND d) {
        char title[128] = "";
        GetWindowTextA(d, title, sizeof title);
        if (!run.dialog && std::string(title) == "Monitor") {
            run.dialog = d;
            return;
        }
        run.otherDialogs.push_back(title);
        if (run.onOtherDialog)
            run.onOtherDialog(d);
        else
            PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    activeRun = &run;
    SetTimer(nullptr, 0, 20, runBodyTimer);
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 60000, watchdogTimer);
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MONITOR),
                                           nullptr, monitorDialogProc, 0);
    KillTimer(nullptr, watchdog);
    activeRun = nullptr;
    run.boxes = watcher.boxes;
    return result;
}

// Entry ENTRY of a stand-in table is a live COM41 whose capture the test drives.
struct MonitorTest : ::testing::Test {
    void SetUp() override
    {
        static bool settingsLoaded = false;
        if (!settingsLoaded) {
            loadSettings();
            settingsLoaded = true;
        }
        const int defaultWidths[5] = {60, 80, 80, 80, 300};
        for (int c = 0; c < 5; c++)
            windowSettings.columnWidths[MONITOR_WIDTH_SLOT + c] = defaultWidths[c];
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        ASSERT_TRUE(createStandInTable());
        ASSERT_EQ(1, mapPortTable());
        writePortEntry(portTable, ENTRY, "\\\\.\\NULL_COM41", "127.0.0.1", "4001", "enable", "tcpc", "0");
        entry()->present = 1;
        entry()->captureTickRate = TICK_RATE;
        monitoredEntry = ENTRY;
    }
    void TearDown() override
    {
        monitoredEntry = -1;
        unmapPortTable();
        releaseStandInTable();
    }
};

}  // namespace monitor_test
