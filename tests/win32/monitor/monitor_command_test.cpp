// The main window's Monitor COM command opens the Monitor on the selected port.
#include "tests/win32/monitor/monitor_test_support.h"

#include "app/port_list.h"

using namespace monitor_test;

namespace {

struct MonitorCommandTest : ::testing::Test {
    std::string folder;
    void SetUp() override
    {
        removeHostService();
        ASSERT_TRUE(createStandInTable());
        folder = makeTempFolder("moncmd");
        SetCurrentDirectoryA(folder.c_str());
        // The manager maps the table itself; this view plays the host.
        ASSERT_EQ(1, mapPortTable());
        host = portTable;
        portTable = nullptr;
        writePortEntry(host, 2, "\\\\.\\NULL_COM41", "127.0.0.1", "4001", "enable", "tcpc", "0");
        writePortEntry(host, 5, "\\\\.\\NULL_COM42", "127.0.0.1", "4002", "enable", "tcpc", "0");
        host->entries[2].present = 1;
        host->entries[5].present = 1;
    }
    void TearDown() override
    {
        UnmapViewOfFile(host);
        SetCurrentDirectoryA(programDirectory().c_str());
        removeFolder(folder);
        releaseStandInTable();
        removeHostService();
    }
    PortTable* host = nullptr;
};


}  // namespace

TEST_F(MonitorCommandTest, OpensTheMonitorOnTheSelectedPortOnly)
{
    std::vector<std::string> opened;
    int captureAtOpen = -1;
    int entryAtOpen = -2;
    int commandAfterClose = -1;
    int entryWithoutSelection = -2;
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        waitFor([list] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2; });
        DialogWatcher watcher;
        watcher.onDialog = [&](HWND d) {
            char title[64] = "";
            GetWindowTextA(d, title, sizeof title);
            opened.push_back(title);
            captureAtOpen = host->entries[5].captureCommand;
            entryAtOpen = monitoredEntry;
            PostMessageA(d, WM_COMMAND, IDOK, 0);
        };

        // No row marked: nothing opens and no port is monitored.
        PostMessageA(w, WM_COMMAND, IDM_MONITOR_COM, 0);
        pumpMessages(200);
        entryWithoutSelection = monitoredEntry;

        char name[64] = "";
        LVITEMA item = {};
        item.pszText = name;
        item.cchTextMax = sizeof name;
        SendMessageA(list, LVM_GETITEMTEXTA, 1, (LPARAM)&item);
        selectListRow(list, std::string(name) == "COM42" ? 1 : 0);
        PostMessageA(w, WM_COMMAND, IDM_MONITOR_COM, 0);
        waitFor([&] { return !opened.empty() && !FindWindowA("#32770", "Monitor"); });
        commandAfterClose = host->entries[5].captureCommand;
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ(-1, entryWithoutSelection);
    EXPECT_EQ(std::vector<std::string>{"Monitor"}, opened);
    EXPECT_EQ(CAPTURE_START, captureAtOpen);
    EXPECT_EQ(5, entryAtOpen);
    EXPECT_EQ(CAPTURE_STOP, commandAfterClose);
    EXPECT_EQ(0, host->entries[2].captureCommand);
}
