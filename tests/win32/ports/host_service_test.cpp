// The host side as the manager brings it up: driver library, service, table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

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

// A registry value as text (REG_SZ, REG_EXPAND_SZ) or number (REG_DWORD);
// "missing" when it is not there.
static std::string registryValue(const char* key, const char* name)
{
    char data[1024] = "";
    DWORD size = sizeof data - 1, type = 0;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS)
        return "missing";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data)) + " (REG_DWORD)";
    return std::string(data) + (type == REG_EXPAND_SZ ? " (REG_EXPAND_SZ)" : type == REG_SZ ? " (REG_SZ)" : " (?)");
}

static const char* const SERVICE_KEY = "SYSTEM\\CurrentControlSet\\Services\\PARLOSVR";
static const char* const SOURCE_KEY = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PARLOSVR";

// What ChangeServiceConfig2 was given: the description, and the failure
// actions as "reset=N action/delay...". Wine stores only the description,
// so the recovery is seen here, on its way to the service manager.
static std::vector<std::string> configCalls;

static int recordConfig(void* service, unsigned long level, void* info)
{
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        configCalls.push_back(std::string("description=") +
                              static_cast<SERVICE_DESCRIPTIONA*>(info)->lpDescription);
    } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        auto* f = static_cast<SERVICE_FAILURE_ACTIONSA*>(info);
        std::string text = "reset=" + std::to_string(f->dwResetPeriod);
        for (DWORD k = 0; k < f->cActions; k++)
            text += " " + std::to_string(f->lpsaActions[k].Type) + "/" + std::to_string(f->lpsaActions[k].Delay);
        text += f->lpRebootMsg || f->lpCommand ? " with a message or command" : "";
        configCalls.push_back(text);
    } else {
        configCalls.push_back("level " + std::to_string(level));
    }
    return ChangeServiceConfig2A(static_cast<SC_HANDLE>(service), level, info);
}

// No service yet, ParloHost.exe in the working directory: the manager
// installs it, starts it, and the host's table maps; the host then answers
// the entry requests the way the manager relies on.
TEST(HostService, InstallStartMapAndHandshakes)
{
    removeHostService();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SOURCE_KEY);
    configCalls.clear();
    setServiceConfigSeam(recordConfig);
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
    // Beside what it was created with: a description, the recovery, and the
    // event source naming the program.
    const std::string description = "Carries the data of ParloMgr's virtual COM ports over TCP and UDP to serial "
                                    "device servers, and publishes their link state, counters and traffic to "
                                    "ParloMgr.";
    EXPECT_EQ(description + " (REG_SZ)", registryValue(SERVICE_KEY, "Description")) << "as Wine stores it";
    EXPECT_EQ((std::vector<std::string>{"description=" + description, "reset=86400 1/1000 1/5000 1/30000"}),
              configCalls);
    EXPECT_EQ(dir + "\\ParloHost.exe (REG_EXPAND_SZ)", registryValue(SOURCE_KEY, "EventMessageFile"));
    EXPECT_EQ("7 (REG_DWORD)", registryValue(SOURCE_KEY, "TypesSupported"));

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

    // The service exists: it is only started, its settings untouched, but
    // its event source comes back, naming the program the service runs
    // rather than the caller's folder.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SOURCE_KEY);
    configCalls.clear();
    EXPECT_EQ(HOST_SERVICE_EXISTED, registerHostService("C:\\elsewhere"));
    EXPECT_TRUE(configCalls.empty()) << configCalls.front();
    EXPECT_EQ(dir + "\\ParloHost.exe", readServiceConfig().path);
    EXPECT_EQ(dir + "\\ParloHost.exe (REG_EXPAND_SZ)", registryValue(SOURCE_KEY, "EventMessageFile"));
    // The installer's update of an earlier installation sets both again.
    EXPECT_EQ(1, describeHostService());
    EXPECT_EQ(2u, configCalls.size());
    EXPECT_EQ(1, unregisterHostEventSource());
    EXPECT_EQ("missing", registryValue(SOURCE_KEY, "EventMessageFile"));
    EXPECT_EQ(1, unregisterHostEventSource()) << "nothing to remove is no failure";
    setServiceConfigSeam(nullptr);
    removeHostService();
}

// The Event Viewer's sentences are ParloHost.exe's own message table: each
// event id, its severity in the top bits, finds its sentence.
TEST(HostService, EventMessagesAreInParloHost)
{
    std::string host = programDirectory() + "\\ParloHost.exe";
    HMODULE module = LoadLibraryExA(host.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    const DWORD_PTR strings[] = {(DWORD_PTR) "COM5", (DWORD_PTR) "10.0.0.9:4001 (TCP)", (DWORD_PTR) "C",
                                 (DWORD_PTR) "D"};
    const DWORD severities[] = {1, 1, 2, 2, 2, 3, 2, 1, 2, 2, 2, 2, 2};
    for (DWORD id = 1; id <= 13; id++) {
        char text[2048] = "";
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                 severities[id - 1] << 30 | id, 0, text, sizeof text, (va_list*)strings);
        EXPECT_GT(n, 20u) << "event " << id;
    }
    char text[2048] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0x40000008, 0, text,
                   sizeof text, (va_list*)strings);
    EXPECT_STREQ("The link of COM5 to 10.0.0.9:4001 (TCP) is back.\r\n", text);
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0x8000000A, 0, text,
                   sizeof text, (va_list*)strings);
    EXPECT_NE(nullptr, strstr(text, "(\\\\.\\NULL_COM1 to \\\\.\\NULL_COM256)")) << text;
    FreeLibrary(module);
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
