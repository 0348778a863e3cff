// The manager's start-up, main window, menu, accelerators, About box and
// close sequence, run in this process against a stand-in table.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "tests/win32/support/win32_test.h"

namespace {

std::string windowsFile(const char* name)
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\" + name;
}

DWORD storedSettingsSize(int* version)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quorvat\\ParloMgr", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    BYTE bytes[512];
    DWORD size = sizeof bytes, type = 0;
    LONG r = RegQueryValueExA(key, "Settings", nullptr, &type, bytes, &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_BINARY)
        return 0;
    memcpy(version, bytes, sizeof *version);
    return size;
}

std::string fileText(const std::string& path)
{
    std::string text;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        fclose(f);
    }
    return text;
}

// What the close sequence had done when it began and when the window went.
struct CloseSeen {
    bool settingsAtClose = true, fileAtClose = true;
    bool destroyed = false, settingsSaved = false, tableGone = false, socketsDown = false;
    std::string file;
} closeSeen;
WNDPROC managerProc;

LRESULT CALLBACK watchClose(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    int version = 0;
    if (message == WM_CLOSE) {
        closeSeen.settingsAtClose = storedSettingsSize(&version) != 0;
        closeSeen.fileAtClose = GetFileAttributesA(windowsFile("parlo.ini").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    if (message == WM_DESTROY) {
        closeSeen.destroyed = true;
        closeSeen.settingsSaved = storedSettingsSize(&version) == 160;
        closeSeen.file = fileText(windowsFile("parlo.ini"));
        closeSeen.tableGone = portTable == nullptr;
        SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
        closeSeen.socketsDown = s == INVALID_SOCKET && WSAGetLastError() == WSANOTINITIALISED;
        if (s != INVALID_SOCKET)
            closesocket(s);
    }
    return CallWindowProcA(managerProc, w, message, wParam, lParam);
}

struct MainWindowTest : ::testing::Test {
    std::string folder;
    void SetUp() override
    {
        removeHostService();
        ASSERT_TRUE(createStandInTable());
        folder = makeTempFolder("main");
        SetCurrentDirectoryA(folder.c_str());
        DeleteFileA(windowsFile("parlo.ini").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quorvat\\ParloMgr");
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(programDirectory().c_str());
        removeFolder(folder);
        releaseStandInTable();
        removeHostService();
    }
};

struct MenuLine {
    std::string text;
    UINT id;
};

std::vector<MenuLine> readMenu(HMENU bar)
{
    std::vector<MenuLine> out;
    for (int i = 0; i < GetMenuItemCount(bar); i++) {
        char text[128] = "";
        GetMenuStringA(bar, i, text, sizeof text, MF_BYPOSITION);
        out.push_back({std::string("[") + text + "]", 0});
        HMENU sub = GetSubMenu(bar, i);
        for (int j = 0; sub && j < GetMenuItemCount(sub); j++) {
            MENUITEMINFOA info = {};
            char caption[128] = "";
            info.cbSize = sizeof info;
            info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING | MIIM_STATE;
            info.dwTypeData = caption;
            info.cch = sizeof caption;
            GetMenuItemInfoA(sub, j, TRUE, &info);
            if (info.fType & MFT_SEPARATOR)
                out.push_back({"-", 0});
            else
                out.push_back({caption + std::string(info.fState & (MFS_GRAYED | MFS_CHECKED) ? " (flagged)" : ""),
                               info.wID});
        }
    }
    return out;
}

}  // namespace

TEST_F(MainWindowTest, OpensWithTitleMenuAndListThenClosesInOrder)
{
    std::string cls, title;
    std::vector<MenuLine> menu;
    int columns = -1;
    bool listCoversClient = false;
    bool timerRefreshes = false;
    int code = runManagerWith([&](HWND w) {
        char buf[128];
        GetClassNameA(w, buf, sizeof buf);
        cls = buf;
        GetWindowTextA(w, buf, sizeof buf);
        title = buf;
        menu = readMenu(GetMenu(w));
        HWND list = GetDlgItem(w, 1000);
        if (list) {
            columns = (int)SendMessageA((HWND)SendMessageA(list, LVM_GETHEADER, 0, 0), HDM_GETITEMCOUNT, 0, 0);
            RECT client, lr;
            GetClientRect(w, &client);
            GetWindowRect(list, &lr);
            listCoversClient = lr.right - lr.left == client.right && lr.bottom - lr.top == client.bottom;
            // A port the host takes up shows on the next tick.
            writePortEntry(portTable, 2, "\\\\.\\NULL_COM9", "192.0.2.9", "502", "enable", "tcpc", "6001");
            portTable->entries[2].present = 1;
            pumpTicks(w, 1);
            timerRefreshes = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 1;
        }
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quorvat\\ParloMgr", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "Settings");
            RegCloseKey(key);
        }
        closeSeen = CloseSeen();
        managerProc = (WNDPROC)SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)watchClose);
        PostMessageA(w, WM_COMMAND, IDM_EXIT, 0);
    });

    EXPECT_EQ(0, code);
    EXPECT_EQ("PARLOMGR", cls);
    EXPECT_EQ("Serial Port Server Administration Tools", title);
    EXPECT_EQ(9, columns);
    EXPECT_TRUE(listCoversClient);
    EXPECT_TRUE(timerRefreshes);

    const std::vector<MenuLine> expected = {
        {"[Device]", 0},
        {"Automatically Add\t  Ctrl+S", 32782}, {"Manually Add\t  Ctrl+A", 32772}, {"Delete", 32771}, {"-", 0},
        {"Start Connection", 147}, {"Stop Connection", 148}, {"Restart Connection", 145}, {"Restart All", 32774},
        {"-", 0}, {"Clear Counters", 32775}, {"-", 0}, {"Exit", 105},
        {"[Tool]", 0}, {"Monitor COM\t  Ctrl+M", 32777}, {"Scan Devices\t  Ctrl+S", 0},
        {"[Help]", 0}, {"About Us", 104}, {"Visit Website", 32783},
    };
    ASSERT_EQ(expected.size(), menu.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(expected[i].text, menu[i].text) << "menu line " << i;
        EXPECT_EQ(expected[i].id, menu[i].id) << "menu line " << i;
    }

    // Close saved the settings and wrote the file from the still mapped
    // table, then released the table and the sockets, all before the window went.
    EXPECT_FALSE(closeSeen.settingsAtClose);
    EXPECT_FALSE(closeSeen.fileAtClose);
    EXPECT_TRUE(closeSeen.destroyed);
    EXPECT_TRUE(closeSeen.settingsSaved);
    EXPECT_EQ("entry_v1_1=COM9 192.0.2.9 502 enable tcpc 6001\r\n", closeSeen.file);
    EXPECT_TRUE(closeSeen.tableGone);
    EXPECT_TRUE(closeSeen.socketsDown);
    int version = 0;
    EXPECT_EQ(160u, storedSettingsSize(&version));
    EXPECT_EQ(410, version);
    EXPECT_EQ(nullptr, portTable);
    EXPECT_EQ(nullptr, FindWindowA("PARLOMGR", nullptr));
}

TEST_F(MainWindowTest, CloseBoxAndAltF4EndWithCodeZero)
{
    // The close box: the system menu's close command.
    int code = runManagerWith([](HWND w) { PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_EQ(0, code);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(windowsFile("parlo.ini").c_str()));
    EXPECT_EQ(nullptr, portTable);

    DeleteFileA(windowsFile("parlo.ini").c_str());
    ASSERT_TRUE(createStandInTable());
    // Alt+F4 reaches the window as a system key.
    code = runManagerWith([](HWND w) {
        SetForegroundWindow(w);
        PostMessageA(w, WM_SYSKEYDOWN, VK_F4, 0x20000001);
    });
    EXPECT_EQ(0, code);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(windowsFile("parlo.ini").c_str()));
}

TEST_F(MainWindowTest, AcceleratorTableAndAboutBox)
{
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), "PARLOMGR_ACCEL");
    ASSERT_NE(nullptr, table);
    ACCEL keys[8];
    ASSERT_EQ(5, CopyAcceleratorTableA(table, keys, 8));
    struct { BYTE flags; WORD key; WORD cmd; } want[] = {
        {FALT | FNOINVERT, '/', 104},
        {FALT | FNOINVERT, '?', 104},
        {FVIRTKEY | FCONTROL | FNOINVERT, 'A', 32772},
        {FVIRTKEY | FCONTROL | FNOINVERT, 'M', 32777},
        {FVIRTKEY | FCONTROL | FNOINVERT, 'S', 0},
    };
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(want[i].flags, keys[i].fVirt & 0x7F) << "entry " << i;
        EXPECT_EQ(want[i].key, keys[i].key) << "entry " << i;
        EXPECT_EQ(want[i].cmd, keys[i].cmd) << "entry " << i;
    }

    // About Us opens the About box, twice in a row.
    std::vector<std::string> seen;
    bool geometryRight = false;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        char title[64] = "";
        GetWindowTextA(d, title, sizeof title);
        seen.push_back(title);
        RECT want = {0, 0, 230, 83}, client;
        MapDialogRect(d, &want);
        GetClientRect(d, &client);
        geometryRight = client.right == want.right && client.bottom == want.bottom;
        char line[64] = "";
        for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            GetWindowTextA(c, line, sizeof line);
            if (std::string(line) == "ParloMgr Version 3.3.3")
                seen.push_back(line);
        }
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        // The next step goes to the main loop once the box has ended.
        HWND main = FindWindowA("PARLOMGR", nullptr);
        if (seen.size() == 2)
            PostMessageA(main, WM_COMMAND, IDM_ABOUT, 0);
        else
            PostMessageA(main, WM_CLOSE, 0, 0);
    };
    // The keys themselves are pressed by the e2e tier; here the command they carry.
    int code = runManagerWith([](HWND w) { PostMessageA(w, WM_COMMAND, IDM_ABOUT, 0); });
    EXPECT_EQ(0, code);
    EXPECT_EQ((std::vector<std::string>{"About", "ParloMgr Version 3.3.3", "About", "ParloMgr Version 3.3.3"}),
              seen);
    EXPECT_TRUE(geometryRight);
}

TEST(Strings, TextsWithLineBreaksAndQuotes)
{
    char text[256];
    LoadStringA(GetModuleHandleA(nullptr), IDS_REBOOT_ADVICE, text, sizeof text);
    EXPECT_STREQ("If configurations are changed, please reboot the device.\r\n     Rebooting takes about 6 seconds, "
                 "reboot it?", text);
    LoadStringA(GetModuleHandleA(nullptr), IDS_ACCESS_DENIED, text, sizeof text);
    EXPECT_STREQ("Access denied, please right click the mouse and select 'Run as administrator'!", text);
}
