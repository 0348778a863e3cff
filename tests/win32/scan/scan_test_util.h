// The Scan Online Devices window as the tests drive it: a modeless copy of
// the real dialog on the test thread, its list read back as text.
#pragma once

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "mgmt/credentials.h"
#include "mgmt/device_ops_win.h"
#include "mgmt/device_table.h"
#include "mgmt/device_windows_win.h"
#include "mgmt/mgmt_ids.h"
#include "mgmt/scan_dialog_win.h"
#include "res/resource.h"
#include "tests/win32/scan/lab_relay.h"
#include "tests/win32/support/win32_test.h"

typedef std::vector<std::string> Row;

// Pumps until `done` or `ms` pass; returns done().
template <typename F>
bool pumpUntil(F done, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms)
            return false;
        pumpMessages(5);
    }
    return true;
}

// Waits (pumping) until no scan thread is left.
inline bool waitNoScan(DWORD ms = 8000)
{
    return pumpUntil([] { return !scanInProgress(); }, ms) && (pumpMessages(20), true);
}

class ScanWindow {
public:
    ScanWindow()
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SCAN_DEVICES), nullptr,
                                    scanDialogProc, 0);
        if (!dialog)
            return;
        // Message boxes and the Authentication dialog are answered by a
        // DialogWatcher; this window is driven by the test itself.
        SetPropA(dialog, "watched", (HANDLE)1);
        listWindow = GetDlgItem(dialog, IDC_DEVICE_LIST);
        scanButton = GetDlgItem(dialog, IDC_SCAN_DEVICE);
        ShowWindow(dialog, SW_SHOWNORMAL);
    }
    ~ScanWindow()
    {
        close();
        waitNoScan();
    }
    void close()
    {
        if (dialog && IsWindow(dialog))
            DestroyWindow(dialog);
        dialog = nullptr;
    }
    // Looked up once: the timing loops ask many times a millisecond, and
    // under Wine each look-up is a request to the server the scan needs.
    HWND list() const { return listWindow; }
    bool scanEnabled() const { return IsWindowEnabled(scanButton) != 0; }
    int rowCount() const { return (int)SendMessageA(list(), LVM_GETITEMCOUNT, 0, 0); }

    // Waits for the scan to end and the window to have seen it end: once the
    // thread has gone, what it posted on its way is all queued, so the queue
    // is pumped before the button is looked at. (A window that had not yet
    // taken the scan's begin still shows the button enabled.)
    bool waitScanEnd(DWORD ms = 10000) { return waitNoScan(ms) && scanEnabled(); }
    void press(int id)
    {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
    }
    // Selects `row` and makes it the selection mark, as a click does.
    void select(int row)
    {
        LVITEMA state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list(), LVM_SETITEMSTATE, row, (LPARAM)&state);
        SendMessageA(list(), LVM_SETSELECTIONMARK, 0, row);
    }
    std::string cell(int row, int column) const
    {
        char text[256] = "";
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list(), LVM_GETITEMTEXTA, row, (LPARAM)&item);
        return text;
    }
    Row row(int r) const
    {
        Row out;
        for (int c = 0; c < DEVICE_COLUMNS; c++)
            out.push_back(cell(r, c));
        return out;
    }
    std::vector<Row> rows() const
    {
        std::vector<Row> out;
        for (int r = 0; r < rowCount(); r++)
            out.push_back(row(r));
        return out;
    }
    HWND dialog;
    HWND listWindow = nullptr;
    HWND scanButton = nullptr;
};

// Records what the row buttons hand to the shell and the device windows.
struct Recorders {
    static std::vector<std::string>& addresses()
    {
        static std::vector<std::string> a;
        return a;
    }
    static int& networkOpened()
    {
        static int n;
        return n;
    }
    static int& configureOpened()
    {
        static int n;
        return n;
    }
    static INT_PTR& networkResult()
    {
        static INT_PTR r = IDCANCEL;
        return r;
    }
    static void recordAddress(HWND, const char* address) { addresses().push_back(address); }
    static INT_PTR recordNetwork(HWND)
    {
        networkOpened()++;
        return networkResult();
    }
    static INT_PTR recordConfigure(HWND)
    {
        configureOpened()++;
        return IDOK;
    }
};

// Base of the tests that talk to simulated devices: skips outside the lab,
// restores the default credentials and puts recorders in place of the
// shell and of the windows this one opens.
class LabTest : public ::testing::Test {
protected:
    LabRelay* lab = nullptr;
    void SetUp() override
    {
        std::string why;
        lab = LabRelay::get(&why);
        if (!lab)
            GTEST_SKIP() << why;
        // The manager starts Windows Sockets at start-up; so do the tests.
        static WSADATA sockets;
        static int started = WSAStartup(MAKEWORD(2, 2), &sockets);
        ASSERT_EQ(0, started);
        ASSERT_TRUE(waitNoScan());
        strcpy(deviceUserName, "tolmo");
        strcpy(devicePassword, "tolmo");
        savedShell = openWebAddress;
        savedNetwork = showNetworkConfig;
        savedConfigure = showConfigureDevice;
        openWebAddress = Recorders::recordAddress;
        showNetworkConfig = Recorders::recordNetwork;
        showConfigureDevice = Recorders::recordConfigure;
        Recorders::addresses().clear();
        Recorders::networkOpened() = 0;
        Recorders::configureOpened() = 0;
        Recorders::networkResult() = IDCANCEL;
    }
    void TearDown() override
    {
        if (!lab)
            return;
        waitNoScan();
        openWebAddress = savedShell;
        showNetworkConfig = savedNetwork;
        showConfigureDevice = savedConfigure;
    }
    void devices(const std::string& config, const std::string& args = "")
    {
        std::string error;
        ASSERT_TRUE(lab->startDevices(config, args, &error)) << error;
    }
    void (*savedShell)(HWND, const char*) = nullptr;
    INT_PTR (*savedNetwork)(HWND) = nullptr;
    INT_PTR (*savedConfigure)(HWND) = nullptr;
};

inline std::string serialOf(int slot)
{
    char text[DEVICE_SERIAL_TEXT];
    deviceSerialText(&DeviceTable[slot], text);
    return text;
}
