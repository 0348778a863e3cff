// The host side as the manager brings it up: driver library, service, table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/app.h"
#include "ports/host_control.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"
#include "tests/win32/support/win32_test.h"
#include "vspd/vspdctl.h"

typedef unsigned char(WINAPI* QueryBusFn)(const char*, VspdPairInfo*);

static double millisecondsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return (now.QuadPart - start.QuadPart) * 1000.0 / freq.QuadPart;
}

static LARGE_INTEGER timerNow()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

static bool pairExists(const char* name)
{
    HMODULE lib = GetModuleHandleA("VSPDCTL.DLL");
    QueryBusFn query = lib ? (QueryBusFn)(void*)GetProcAddress(lib, "QueryBus") : nullptr;
    if (!query)
        return false;
    VspdPairInfo info = {};
    info.size = sizeof info;
    return query(name, &info) && info.exists;
}

// Runs first in this program: nothing has bound the library yet.
TEST(DriverLibrary, PairCallsWithoutLibraryCallNothing)
{
    EXPECT_FALSE(driverLibraryBound());
    EXPECT_EQ(0, createPortPair("COM12", "NULL_COM12"));
    EXPECT_EQ(0, deletePortPair("COM12"));
    EXPECT_EQ(nullptr, GetModuleHandleA("VSPDCTL.DLL"));
}

TEST(DriverLibrary, PairRoundTripsThroughTheLibrary)
{
    ASSERT_EQ(1, bindDriverLibrary());
    ASSERT_TRUE(driverLibraryBound());
    deletePortPair("COM12");

    LARGE_INTEGER start = timerNow();
    EXPECT_EQ(1, createPortPair("COM12", "NULL_COM12"));
    EXPECT_GE(millisecondsSince(start), 49.0) << "createPortPair waits 50 ms after CreatePair";
    EXPECT_TRUE(pairExists("COM12"));
    // The wait happens whatever CreatePair says: an unusable name is refused, still 50 ms.
    start = timerNow();
    EXPECT_EQ(1, createPortPair("", "NULL_"));
    EXPECT_GE(millisecondsSince(start), 49.0);

    EXPECT_EQ(1, deletePortPair("COM12"));
    EXPECT_FALSE(pairExists("COM12"));
    EXPECT_EQ(0, deletePortPair("COM12")) << "a second delete finds nothing";
}

TEST(HostServicePath, WorkingDirectoryOfAnyLength)
{
    char out[600];
    ASSERT_EQ(1, buildHostServicePath("C:\\parlo", out, sizeof out));
    EXPECT_STREQ("C:\\parlo\\ParloHost.exe", out);

    std::string longDir = "C:\\" + std::string(300, 'd');
    ASSERT_EQ(1, buildHostServicePath(longDir.c_str(), out, sizeof out));
    EXPECT_EQ(longDir + "\\ParloHost.exe", out) << "a long directory is never cut";

    // A path with a space is quoted so no prefix of it can be run instead.
    ASSERT_EQ(1, buildHostServicePath("C:\\Program Files\\Parlo", out, sizeof out));
    EXPECT_STREQ("\"C:\\Program Files\\Parlo\\ParloHost.exe\"", out);

    EXPECT_EQ(0, buildHostServicePath(longDir.c_str(), out, 64)) << "too small a buffer is refused";
}

struct ServiceConfig {
    DWORD type = 0, start = 0, errorControl = 0;
    std::string path, account;
    bool found = false;
};

static ServiceConfig readServiceConfig()
{
    ServiceConfig c;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, "PARLOSVR", SERVICE_QUERY_CONFIG) : nullptr;
    if (service) {
        union { QUERY_SERVICE_CONFIGA config; char bytes[8192]; } buf;
        DWORD needed;
        if (QueryServiceConfigA(service, &buf.config, sizeof buf, &needed)) {
            c.found = true;
            c.type = buf.config.dwServiceType;
            c.start = buf.config.dwStartType;
            c.errorControl = buf.config.dwErrorControl;
            c.path = buf.config.lpBinaryPathName ? buf.config.lpBinaryPathName : "";
        }
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return c;
}

// No service yet, ParloHost.exe in the working directory: the manager
// installs it, starts it, and the host's table maps; the host then answers
// the entry requests the way the manager relies on.
TEST(HostService, InstallStartMapAndHandshakes)
{
    removeHostService();
    std::string dir = programDirectory();
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    // The host restores parlo.ini into an empty table: start from none.
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    DeleteFileA((std::string(windows) + "\\parlo.ini").c_str());

    ASSERT_EQ(1, startHostAndMapTable());
    ServiceConfig c = readServiceConfig();
    ASSERT_TRUE(c.found);
    EXPECT_EQ(0x110u, c.type);
    EXPECT_EQ(2u, c.start);
    EXPECT_EQ(1u, c.errorControl);
    EXPECT_EQ(dir + "\\ParloHost.exe", c.path);
    ASSERT_NE(nullptr, portTable);

    PortTable* t = portTable;
    PortEntry* e = &t->entries[5];
    ASSERT_EQ(1, writePortEntry(t, 5, "\\\\.\\NULL_COM41", "127.0.0.1", "9", "enable", "tcpc", ""));
    EXPECT_TRUE(waitFor([&] { return e->present != 0; })) << "the host takes up a written entry";
    EXPECT_TRUE(waitFor([&] { return e->linkState != 0; }));
    EXPECT_EQ(5, findEntryByComName(t, "COM41"));

    // Stop: the host publishes Stop and leaves 2 in place.
    writeShared(&e->command, PORT_STOP);
    EXPECT_TRUE(waitFor([&] { return e->linkState == LINK_STOPPED; }));
    Sleep(200);
    EXPECT_EQ(PORT_STOP, readShared(&e->command));

    // Restart brings it up again.
    restartPort(t, 5);
    EXPECT_TRUE(waitFor([&] { return e->linkState != LINK_STOPPED; }));
    EXPECT_NE(PORT_STOP, readShared(&e->command));

    // Delete: present goes, then command 0.
    writeShared(&e->command, PORT_DELETE);
    EXPECT_TRUE(waitFor([&] { return readShared(&e->command) == 0; }));
    EXPECT_EQ(0u, e->present);
    writeShared(&e->inUse, 0u);

    // A stopped entry is taken up stopped.
    ASSERT_EQ(1, writePortEntry(t, 6, "\\\\.\\NULL_COM42", "127.0.0.1", "9", "disable", "udp", "7001"));
    EXPECT_TRUE(waitFor([&] { return t->entries[6].present != 0; }));
    EXPECT_TRUE(waitFor([&] { return t->entries[6].linkState == LINK_STOPPED; }));
    writeShared(&t->entries[6].command, PORT_DELETE);
    EXPECT_TRUE(waitFor([&] { return readShared(&t->entries[6].command) == 0; }));
    writeShared(&t->entries[6].inUse, 0u);

    unmapPortTable();
    EXPECT_EQ(nullptr, portTable);
    removeHostService();
}

// No host at all: about 5.1 s of attempts, the message, no window, code 0.
TEST(HostService, NoHostGivesUpAfterFiftyOneAttempts)
{
    removeHostService();
    std::string empty = makeTempFolder("nohost");
    ASSERT_TRUE(SetCurrentDirectoryA(empty.c_str()));

    DialogWatcher watcher;
    DWORD start = GetTickCount();
    int code = runManager(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    DWORD elapsed = GetTickCount() - start;

    EXPECT_EQ(0, code);
    // 51 attempts 100 ms apart; the upper bound only catches attempts that never end.
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 51000u);
    ASSERT_EQ(1u, watcher.boxes.size());
    EXPECT_EQ("Failed to install ParloHost!", watcher.boxes[0].text);
    EXPECT_EQ("", watcher.boxes[0].icon);
    EXPECT_EQ(nullptr, watcher.boxes[0].owner);
    EXPECT_EQ(nullptr, FindWindowA("PARLOMGR", nullptr));

    SetCurrentDirectoryA(programDirectory().c_str());
    removeFolder(empty);
    removeHostService();
}
