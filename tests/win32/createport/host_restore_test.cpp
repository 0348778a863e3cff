// A port created through the real main window and host service shows in the
// list once the host takes it up, and comes back from parlo.ini when the
// service restarts with no table left.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/app.h"
#include "ports/create_port_dialog.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"
#include "res/resource.h"
#include "tests/win32/createport/createport_test.h"

namespace {

// Polls `step` on this thread's loops every 50 ms until it returns true.
std::function<bool()> pollStep;
void CALLBACK onPollTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    if (!pollStep || pollStep()) {
        KillTimer(nullptr, id);
        pollStep = nullptr;
    }
}
void pollUntil(std::function<bool()> step)
{
    pollStep = step;
    SetTimer(nullptr, 0, 50, onPollTimer);
}

int listRowOf(HWND list, const char* com)
{
    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = com;
    return (int)SendMessageA(list, LVM_FINDITEMA, (WPARAM)-1, (LPARAM)&find);
}

bool controlService(DWORD control, DWORD wantState)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, "PARLOSVR", SERVICE_ALL_ACCESS) : nullptr;
    bool ok = false;
    if (service) {
        SERVICE_STATUS status;
        if (control)
            ControlService(service, control, &status);
        else
            StartServiceA(service, 0, nullptr);
        for (int i = 0; i < 200 && !ok; i++) {
            ok = QueryServiceStatus(service, &status) && status.dwCurrentState == wantState;
            if (!ok)
                Sleep(25);
        }
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return ok;
}

struct RealHost : ::testing::Test {
    void SetUp() override
    {
        removeHostService();
        // A stale file would bring its ports (and their addresses) into the host.
        DeleteFileA(windowsFile("parlo.ini").c_str());
        deletePair("COM58");
        SetCurrentDirectoryA(programDirectory().c_str());
    }
    void TearDown() override
    {
        unmapPortTable();
        removeHostService();
        deletePair("COM58");
        DeleteFileA(windowsFile("parlo.ini").c_str());
    }
};

}  // namespace

TEST_F(RealHost, CreatedPortIsListedAndSurvivesAServiceRestart)
{
    // Manually Add in the running manager; the host takes the port up.
    std::string offeredPort;
    DWORD okAt = 0, listedAt = 0;
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        DialogWatcher* watcher = new DialogWatcher;
        watcher->onDialog = [&](HWND d) {
            selectComboText(d, IDC_VIRTUAL_COM, "COM58");
            SetDlgItemTextA(d, IDC_REMOTE_ADDRESS, "127.0.0.1");
            SetDlgItemTextA(d, IDC_REMOTE_PORT, "9");
            offeredPort = controlText(d, IDC_LOCAL_PORT);
            okAt = GetTickCount();
            PostMessageA(d, WM_COMMAND, IDOK, 0);
        };
        pollUntil([=, &okAt, &listedAt]() {
            if (okAt && !listedAt && listRowOf(list, "COM58") >= 0)
                listedAt = GetTickCount();
            if (listedAt || (okAt && GetTickCount() - okAt > 10000)) {
                delete watcher;
                PostMessageA(w, WM_CLOSE, 0, 0);
                return true;
            }
            return false;
        });
        PostMessageA(w, WM_COMMAND, IDM_MANUALLY_ADD, 0);
    });
    EXPECT_EQ(0, code);
    ASSERT_NE(0u, okAt) << "the dialog opened from the menu command";
    ASSERT_NE(0u, listedAt) << "the new port shows in the list";
    // On one of the next 100 ms ticks once the host took the entry; the bound
    // only catches a list that stopped following the table.
    EXPECT_LT(listedAt - okAt, 2000u) << "on one of the next ticks";
    ASSERT_FALSE(offeredPort.empty());
    std::string line = "entry_v1_1=COM58 127.0.0.1 9 enable tcpc " + offeredPort + "\r\n";
    EXPECT_EQ(line, readFile(windowsFile("parlo.ini")));
    ASSERT_EQ(nullptr, portTable) << "the manager released the table";

    // With nobody mapping the table, a restart of the service loses it; the
    // host rebuilds it from parlo.ini and asks the driver for the pair again.
    deletePair("COM58");
    ASSERT_TRUE(controlService(SERVICE_CONTROL_STOP, SERVICE_STOPPED));
    ASSERT_TRUE(controlService(0, SERVICE_RUNNING));
    ASSERT_TRUE(waitFor([] { return mapPortTable() == 1; }, 5000));
    const PortEntry& e = portTable->entries[0];
    EXPECT_TRUE(waitFor([&] { return e.present != 0; }, 3000)) << "the host holds the restored port";
    EXPECT_EQ(1u, e.inUse);
    EXPECT_STREQ("\\\\.\\NULL_COM58", e.portName);
    EXPECT_STREQ("127.0.0.1", e.remoteAddress);
    EXPECT_STREQ("9", e.remotePort);
    EXPECT_STREQ("tcpc", e.protocol);
    EXPECT_EQ(offeredPort, e.localPort);
    EXPECT_NE(PORT_STOP, e.command);
    EXPECT_EQ(0u, portTable->entries[1].inUse);
    EXPECT_TRUE(pairExists("COM58"));
    unmapPortTable();

    // The manager lists it again; a double-click opens it for editing.
    bool listed = false, comFixed = false;
    std::string com, address;
    code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        int row = listRowOf(list, "COM58");
        listed = row >= 0;
        if (!listed) {
            PostMessageA(w, WM_CLOSE, 0, 0);
            return;
        }
        DialogWatcher* watcher = new DialogWatcher;
        bool* opened = new bool(false);
        watcher->onDialog = [&, opened](HWND d) {
            com = controlText(d, IDC_VIRTUAL_COM);
            address = controlText(d, IDC_REMOTE_ADDRESS);
            comFixed = !IsWindowEnabled(GetDlgItem(d, IDC_VIRTUAL_COM));
            *opened = true;
            PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        };
        DWORD start = GetTickCount();
        pollUntil([=]() {
            // Once the dialog has come and gone (or never came), close.
            if ((*opened && !FindWindowA("#32770", "Create Virtual Serial Port")) || GetTickCount() - start > 5000) {
                delete watcher;
                delete opened;
                PostMessageA(w, WM_CLOSE, 0, 0);
                return true;
            }
            return false;
        });
        SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
        PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    });
    EXPECT_EQ(0, code);
    EXPECT_TRUE(listed);
    EXPECT_EQ("COM58", com);
    EXPECT_EQ("127.0.0.1", address);
    EXPECT_TRUE(comFixed);
}
