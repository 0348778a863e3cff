// The Create Virtual Serial Port dialog driven in this process against a
// stand-in table: filling, the OK checks and their messages, what a creation
// or an edit writes, and what Cancel leaves alone.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "ports/create_port_dialog.h"
#include "ports/host_control.h"
#include "ports/port_checks.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"
#include "tests/win32/createport/createport_test.h"

namespace {

// The part of an entry the manager writes: portName .. command.
std::string entryHead(int index)
{
    const PortEntry& e = portTable->entries[index];
    return std::string(reinterpret_cast<const char*>(&e), offsetof(PortEntry, linkState));
}

struct TableTest : ::testing::Test {
    static void SetUpTestSuite()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        removeHostService();
    }
    void SetUp() override
    {
        ASSERT_TRUE(createStandInTable());
        ASSERT_EQ(1, mapPortTable());
        DeleteFileA(windowsFile("parlo.ini").c_str());
        editedEntry = -1;
    }
    void TearDown() override
    {
        unmapPortTable();
        releaseStandInTable();
        DeleteFileA(windowsFile("parlo.ini").c_str());
        editedEntry = -1;
    }
};

void fillLink(HWND d, const char* com, const char* address, const char* remotePort, const char* localPort)
{
    selectComboText(d, IDC_VIRTUAL_COM, com);
    SetDlgItemTextA(d, IDC_REMOTE_ADDRESS, address);
    SetDlgItemTextA(d, IDC_REMOTE_PORT, remotePort);
    SetDlgItemTextA(d, IDC_LOCAL_PORT, localPort);
}

void expectErrorBox(const DialogRun& run, const std::string& text)
{
    ASSERT_EQ(1u, run.boxes.size()) << "expected one message: " << text;
    EXPECT_EQ(text, run.boxes[0].text);
    EXPECT_EQ("Error", run.boxes[0].caption) << "the system's default caption";
    EXPECT_EQ("error", run.boxes[0].icon);
    EXPECT_EQ(run.dialog, run.boxes[0].owner) << "owned by the dialog";
    EXPECT_TRUE(run.stayedOpen) << "the dialog stays open for correction";
    EXPECT_EQ(IDCANCEL, run.result);
}

}  // namespace

// Runs this test alone in a fresh copy of the program, where nothing has
// bound the driver library (a binding lasts for the whole process).
static DWORD runAloneInChild(const char* test)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = std::string("\"") + self + "\" --gtest_filter=" + test;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

using WithoutDriverLibrary = TableTest;
TEST_F(WithoutDriverLibrary, CreationIsRefusedWithAMessageAndWritesNothing)
{
    if (driverLibraryBound()) {
        EXPECT_EQ(0u, runAloneInChild("WithoutDriverLibrary.*")) << "the run without the library failed";
        return;
    }
    DialogRun run = runCreateDialog([](HWND d) { fillLink(d, "COM50", "127.0.0.1", "9", "7001"); });
    expectErrorBox(run, "Failed to create COM50: the virtual serial driver library VSPDCTL.DLL is not loaded!");
    EXPECT_EQ(0u, portTable->entries[0].inUse);
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));
}

struct CreatePortDialog : TableTest {
    void SetUp() override
    {
        TableTest::SetUp();
        ASSERT_EQ(1, bindDriverLibrary());
    }
};

TEST_F(CreatePortDialog, CreateModeOffersEveryComNameBothLinksAndAFreeLocalPort)
{
    int expectedPort = firstBindablePort(6001);
    std::vector<std::string> com, connection;
    int comSelected = -2, connectionSelected = -2;
    bool comEnabled = false, comSorted = true, connectionSorted = true;
    std::string title, address = "x", remotePort = "x", localPort;
    LRESULT limits[3] = {};
    LONG addressStyle = 0, remoteStyle = 0, localStyle = 0;
    DialogRun run = runCreateDialog(
        [&](HWND d) {
            char text[64];
            GetWindowTextA(d, text, sizeof text);
            title = text;
            int n = (int)SendDlgItemMessageA(d, IDC_VIRTUAL_COM, CB_GETCOUNT, 0, 0);
            for (int i = 0; i < n; i++)
                com.push_back(comboItem(d, IDC_VIRTUAL_COM, i));
            n = (int)SendDlgItemMessageA(d, IDC_CONNECTION, CB_GETCOUNT, 0, 0);
            for (int i = 0; i < n; i++)
                connection.push_back(comboItem(d, IDC_CONNECTION, i));
            comSelected = (int)SendDlgItemMessageA(d, IDC_VIRTUAL_COM, CB_GETCURSEL, 0, 0);
            connectionSelected = (int)SendDlgItemMessageA(d, IDC_CONNECTION, CB_GETCURSEL, 0, 0);
            comEnabled = IsWindowEnabled(GetDlgItem(d, IDC_VIRTUAL_COM));
            comSorted = GetWindowLongA(GetDlgItem(d, IDC_VIRTUAL_COM), GWL_STYLE) & CBS_SORT;
            connectionSorted = GetWindowLongA(GetDlgItem(d, IDC_CONNECTION), GWL_STYLE) & CBS_SORT;
            address = controlText(d, IDC_REMOTE_ADDRESS);
            remotePort = controlText(d, IDC_REMOTE_PORT);
            localPort = controlText(d, IDC_LOCAL_PORT);
            limits[0] = SendDlgItemMessageA(d, IDC_REMOTE_ADDRESS, EM_GETLIMITTEXT, 0, 0);
            limits[1] = SendDlgItemMessageA(d, IDC_REMOTE_PORT, EM_GETLIMITTEXT, 0, 0);
            limits[2] = SendDlgItemMessageA(d, IDC_LOCAL_PORT, EM_GETLIMITTEXT, 0, 0);
            addressStyle = GetWindowLongA(GetDlgItem(d, IDC_REMOTE_ADDRESS), GWL_STYLE);
            remoteStyle = GetWindowLongA(GetDlgItem(d, IDC_REMOTE_PORT), GWL_STYLE);
            localStyle = GetWindowLongA(GetDlgItem(d, IDC_LOCAL_PORT), GWL_STYLE);
        },
        false);

    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ("Create Virtual Serial Port", title);
    ASSERT_EQ(256u, com.size());
    EXPECT_EQ("COM1", com[0]);
    EXPECT_EQ("COM2", com[1]);
    EXPECT_EQ("COM10", com[9]) << "in the order added, not sorted";
    EXPECT_EQ("COM256", com[255]);
    EXPECT_EQ(0, comSelected);
    EXPECT_TRUE(comEnabled);
    EXPECT_FALSE(comSorted);
    EXPECT_FALSE(connectionSorted);
    EXPECT_EQ((std::vector<std::string>{"TCP Client", "UDP"}), connection);
    EXPECT_EQ(0, connectionSelected);
    EXPECT_EQ("", address);
    EXPECT_EQ("", remotePort);
    EXPECT_EQ(std::to_string(expectedPort), localPort);
    EXPECT_EQ(127, limits[0]);
    EXPECT_EQ(31, limits[1]);
    EXPECT_EQ(31, limits[2]);
    EXPECT_TRUE(addressStyle & ES_AUTOHSCROLL);
    EXPECT_FALSE(addressStyle & ES_NUMBER);
    EXPECT_TRUE(remoteStyle & ES_NUMBER);
    EXPECT_TRUE(localStyle & ES_NUMBER);
    EXPECT_TRUE(run.boxes.empty());
}

TEST_F(CreatePortDialog, CreateModeSkipsALocalPortAnotherProgramHolds)
{
    int first = firstBindablePort(6001);
    HeldPort held(first, false);
    ASSERT_TRUE(held.held());
    std::string offered;
    runCreateDialog([&](HWND d) { offered = controlText(d, IDC_LOCAL_PORT); }, false);
    EXPECT_EQ(std::to_string(firstBindablePort(first + 1)), offered);
}

TEST_F(CreatePortDialog, CreateModeOffersAboveTheLargestConfiguredLocalPort)
{
    presentEntry(0, "COM41", "127.0.0.1", "9", "tcpc", "6001");
    presentEntry(4, "COM42", "127.0.0.1", "9", "udp", "6230");
    // Written but not (yet) held by the host: not counted.
    writePortEntry(portTable, 6, "\\\\.\\NULL_COM43", "", "", "enable", "tcpc", "9000");
    std::string offered;
    runCreateDialog([&](HWND d) { offered = controlText(d, IDC_LOCAL_PORT); }, false);
    EXPECT_NE("6002", offered);
    EXPECT_EQ(std::to_string(firstBindablePort(6231)), offered);
}

TEST_F(CreatePortDialog, CreationWritesTheEntryTheFileAndThePair)
{
    deletePair("COM46");
    deletePair("COM47");
    presentEntry(0, "COM41", "127.0.0.1", "9", "tcpc", "6001");

    DialogRun run = runCreateDialog([](HWND d) {
        fillLink(d, "COM46", "127.0.0.1", "4001", "7001");
        selectComboText(d, IDC_CONNECTION, "UDP");
    });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(run.stayedOpen);

    const PortEntry& e = portTable->entries[1];
    EXPECT_EQ(1u, e.inUse);
    EXPECT_EQ(0u, e.present) << "present is the host's";
    EXPECT_STREQ("\\\\.\\NULL_COM46", e.portName);
    EXPECT_STREQ("127.0.0.1", e.remoteAddress);
    EXPECT_STREQ("4001", e.remotePort);
    EXPECT_STREQ("udp", e.protocol);
    EXPECT_STREQ("7001", e.localPort);
    EXPECT_EQ(PORT_START, e.command);
    EXPECT_TRUE(pairExists("COM46"));
    EXPECT_EQ("entry_v1_1=COM41 127.0.0.1 9 enable tcpc 6001\r\n"
              "entry_v1_2=COM46 127.0.0.1 4001 enable udp 7001\r\n",
              readFile(windowsFile("parlo.ini")));

    // The host takes the port up; the next one, with empty ports, stores
    // the local port as "0".
    portTable->entries[1].present = 1;
    run = runCreateDialog([](HWND d) { fillLink(d, "COM47", "", "", ""); });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_STREQ("\\\\.\\NULL_COM47", portTable->entries[2].portName);
    EXPECT_STREQ("", portTable->entries[2].remotePort);
    EXPECT_STREQ("0", portTable->entries[2].localPort);
    EXPECT_STREQ("tcpc", portTable->entries[2].protocol);
    EXPECT_TRUE(pairExists("COM47"));
    EXPECT_NE(std::string::npos, readFile(windowsFile("parlo.ini")).find("entry_v1_3=COM47   enable tcpc 0\r\n"));

    deletePair("COM46");
    deletePair("COM47");
}

TEST_F(CreatePortDialog, LongTextsNeverRunPastTheirFields)
{
    deletePair("COM51");
    std::string address(200, 'a'), digits(40, '7');
    std::string typed;
    DialogRun run = runCreateDialog([&](HWND d) {
        // Typing stops at what the field holds.
        HWND local = GetDlgItem(d, IDC_LOCAL_PORT);
        SetWindowTextA(local, "");
        for (int i = 0; i < 40; i++)
            SendMessageA(local, WM_CHAR, '5', 0);
        typed = controlText(d, IDC_LOCAL_PORT);
        // Text set from outside is not limited: the read cuts it.
        fillLink(d, "COM51", address.c_str(), digits.c_str(), digits.c_str());
    });
    EXPECT_EQ(std::string(31, '5'), typed);
    ASSERT_EQ(IDOK, run.result);
    const PortEntry& e = portTable->entries[0];
    EXPECT_EQ(std::string(127, 'a'), std::string(e.remoteAddress));
    EXPECT_EQ(std::string(31, '7'), std::string(e.remotePort));
    EXPECT_EQ(std::string(31, '7'), std::string(e.localPort));
    EXPECT_STREQ("tcpc", e.protocol) << "the field after localPort is intact";
    EXPECT_EQ(PORT_START, e.command);
    deletePair("COM51");
}

TEST_F(CreatePortDialog, AddressWithASpaceIsRefusedAndKeptAsTyped)
{
    std::string kept;
    DialogRun run = runCreateDialog([](HWND d) { fillLink(d, "COM52", "127.0.0.1 ", "9", "7001"); }, true,
                                    [&](HWND d) { kept = controlText(d, IDC_REMOTE_ADDRESS); });
    expectErrorBox(run, "Invalid address [127.0.0.1 ]!!!");
    EXPECT_EQ("127.0.0.1 ", kept);
    EXPECT_EQ(0u, portTable->entries[0].inUse);
    EXPECT_FALSE(pairExists("COM52"));
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));

    // An empty address passes the check.
    deletePair("COM52");
    run = runCreateDialog([](HWND d) { fillLink(d, "COM52", "", "9", "7001"); });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_STREQ("", portTable->entries[0].remoteAddress);
    deletePair("COM52");
}

TEST_F(CreatePortDialog, ComNameThatExistsIsRefused)
{
    ASSERT_TRUE(makeDosDevice("com45", "/dev/null")) << "needs Wine's dosdevices";
    // Another program holds it open, unshared.
    HANDLE other = CreateFileA("\\\\.\\COM45", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    deletePair("COM45");

    DialogRun run = runCreateDialog([](HWND d) { fillLink(d, "COM45", "127.0.0.1", "9", "7001"); });
    expectErrorBox(run, "COM45 already exist, please select another COM port!");
    EXPECT_EQ(0u, portTable->entries[0].inUse);
    EXPECT_FALSE(pairExists("COM45"));
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));
    CloseHandle(other);
    removeDosDevice("com45");

    // A port of ours already in the table counts as existing too.
    presentEntry(3, "COM53", "127.0.0.1", "9", "tcpc", "6001");
    run = runCreateDialog([](HWND d) { fillLink(d, "COM53", "127.0.0.1", "9", "7001"); });
    expectErrorBox(run, "COM53 already exist, please select another COM port!");
    EXPECT_EQ(0u, portTable->entries[0].inUse);

    // With a space in the address as well, the address is the one refused.
    run = runCreateDialog([](HWND d) { fillLink(d, "COM53", "a b", "9", "7001"); });
    expectErrorBox(run, "Invalid address [a b]!!!");
    EXPECT_EQ(0u, portTable->entries[0].inUse);
}

TEST_F(CreatePortDialog, FullTableIsRefusedWithoutCreatingAPair)
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        presentEntry(i, ("COM" + std::to_string(100 + i)).c_str(), "127.0.0.1", "9", "tcpc",
                     std::to_string(6001 + i).c_str());
    std::string before = entryHead(0);
    deletePair("COM49");
    DialogRun run = runCreateDialog([](HWND d) { fillLink(d, "COM49", "127.0.0.1", "9", "7001"); });
    expectErrorBox(run, "Reached the MAX number of VCOM!");
    EXPECT_FALSE(pairExists("COM49"));
    EXPECT_EQ(before, entryHead(0));
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));
}

TEST_F(CreatePortDialog, CancelAndCloseChangeNothing)
{
    deletePair("COM54");
    std::string before = entryHead(0);
    DialogRun run = runCreateDialog([](HWND d) { fillLink(d, "COM54", "127.0.0.1", "9", "7001"); }, false);
    EXPECT_EQ(IDCANCEL, run.result);

    // The window's close command.
    DialogWatcher watcher;
    watcher.onDialog = [](HWND d) {
        fillLink(d, "COM54", "127.0.0.1", "9", "7001");
        PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0);
    };
    EXPECT_EQ(IDCANCEL, runCreatePortDialog(nullptr));

    EXPECT_EQ(before, entryHead(0));
    EXPECT_EQ(0u, portTable->entries[0].inUse);
    EXPECT_FALSE(pairExists("COM54"));
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));
    EXPECT_TRUE(watcher.boxes.empty());
}

struct EditMode : CreatePortDialog {
    int port = 0;
    void SetUp() override
    {
        CreatePortDialog::SetUp();
        port = firstBindablePort(6301);
        presentEntry(5, "COM57", "host.example", "502", "tcpc", std::to_string(port).c_str());
        editedEntry = 5;
    }
};

TEST_F(EditMode, ShowsTheEntryWithItsComNameFixed)
{
    writePortEntry(portTable, 5, "\\\\.\\NULL_COM57", "host.example", "502", "enable", "udp", "6123");
    std::string com, connection, address, remotePort, localPort;
    bool comEnabled = true;
    runCreateDialog(
        [&](HWND d) {
            com = controlText(d, IDC_VIRTUAL_COM);
            comEnabled = IsWindowEnabled(GetDlgItem(d, IDC_VIRTUAL_COM));
            connection = controlText(d, IDC_CONNECTION);
            address = controlText(d, IDC_REMOTE_ADDRESS);
            remotePort = controlText(d, IDC_REMOTE_PORT);
            localPort = controlText(d, IDC_LOCAL_PORT);
        },
        false);
    EXPECT_EQ("COM57", com);
    EXPECT_FALSE(comEnabled);
    EXPECT_EQ("UDP", connection);
    EXPECT_EQ("host.example", address);
    EXPECT_EQ("502", remotePort);
    EXPECT_EQ("6123", localPort);

    // Only the exact word "tcpc" reads as TCP Client; a COM number past the
    // list selects nothing.
    memset(portTable->entries[5].protocol, 0, sizeof portTable->entries[5].protocol);
    strcpy(portTable->entries[5].protocol, "TCPC");
    strcpy(portTable->entries[5].portName, "\\\\.\\NULL_COM300");
    runCreateDialog(
        [&](HWND d) {
            com = controlText(d, IDC_VIRTUAL_COM);
            connection = controlText(d, IDC_CONNECTION);
        },
        false);
    EXPECT_EQ("", com);
    EXPECT_EQ("UDP", connection);
    strcpy(portTable->entries[5].protocol, "tcpc");
    runCreateDialog([&](HWND d) { connection = controlText(d, IDC_CONNECTION); }, false);
    EXPECT_EQ("TCP Client", connection);
}

TEST_F(EditMode, OkWithoutChangeWritesNothingEvenWhileItsPortIsHeld)
{
    // The host holds the port's own local port.
    HeldPort host(port, false);
    ASSERT_TRUE(host.held());
    std::string before = entryHead(5);
    DialogRun run = runCreateDialog(nullptr);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(before, entryHead(5));
    EXPECT_EQ(PORT_START, portTable->entries[5].command) << "nothing restarted";
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));
}

TEST_F(EditMode, AnotherProgramsLocalPortIsRefused)
{
    int taken = firstBindablePort(port + 1);
    HeldPort other(taken, false);
    ASSERT_TRUE(other.held());
    std::string before = entryHead(5);
    std::string kept;
    DialogRun run = runCreateDialog([&](HWND d) { SetDlgItemTextA(d, IDC_LOCAL_PORT, std::to_string(taken).c_str()); },
                                    true, [&](HWND d) { kept = controlText(d, IDC_LOCAL_PORT); });
    expectErrorBox(run, "Port " + std::to_string(taken) + " is in use, please change another one!");
    EXPECT_EQ(std::to_string(taken), kept);
    EXPECT_EQ(before, entryHead(5));

    // With UDP the UDP socket is what counts.
    int udpTaken = firstBindablePort(taken + 1);
    HeldPort otherUdp(udpTaken, true);
    ASSERT_TRUE(otherUdp.held());
    run = runCreateDialog([&](HWND d) {
        selectComboText(d, IDC_CONNECTION, "UDP");
        SetDlgItemTextA(d, IDC_LOCAL_PORT, std::to_string(udpTaken).c_str());
    });
    expectErrorBox(run, "Port " + std::to_string(udpTaken) + " is in use, please change another one!");
    EXPECT_EQ(before, entryHead(5));

    // With a taken local port as well, the space in the address is the one refused.
    run = runCreateDialog([&](HWND d) {
        SetDlgItemTextA(d, IDC_REMOTE_ADDRESS, " host.example");
        SetDlgItemTextA(d, IDC_LOCAL_PORT, std::to_string(taken).c_str());
    });
    expectErrorBox(run, "Invalid address [ host.example]!!!");
    EXPECT_EQ(before, entryHead(5));
}

TEST_F(EditMode, ProtocolChangeRetargetsAndRestartsUnlessStopped)
{
    DialogRun run = runCreateDialog([](HWND d) { selectComboText(d, IDC_CONNECTION, "UDP"); });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_TRUE(run.boxes.empty());
    const PortEntry& e = portTable->entries[5];
    EXPECT_STREQ("udp", e.protocol);
    EXPECT_STREQ("host.example", e.remoteAddress);
    EXPECT_STREQ("502", e.remotePort);
    EXPECT_EQ(std::to_string(port), e.localPort);
    EXPECT_EQ(PORT_RESTART, e.command);
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini"))) << "edits reach the file when the window closes";

    // A stopped port takes the new settings and stays stopped.
    portTable->entries[5].command = PORT_STOP;
    int newPort = firstBindablePort(port + 1);
    run = runCreateDialog([&](HWND d) {
        selectComboText(d, IDC_CONNECTION, "TCP Client");
        SetDlgItemTextA(d, IDC_REMOTE_ADDRESS, "127.0.0.1");
        SetDlgItemTextA(d, IDC_LOCAL_PORT, std::to_string(newPort).c_str());
    });
    EXPECT_EQ(IDOK, run.result);
    EXPECT_STREQ("tcpc", e.protocol);
    EXPECT_STREQ("127.0.0.1", e.remoteAddress);
    EXPECT_EQ(std::to_string(newPort), e.localPort);
    EXPECT_EQ(PORT_STOP, e.command);
}

TEST(PortChecks, ComNamesByOpeningThem)
{
    EXPECT_EQ(1, isComNameFree("COM77")) << "a missing device is free";
    EXPECT_EQ(0, isComNameFree(""));
    EXPECT_EQ(0, isComNameFree("COM1234567890123456789012")) << "longer than a port name holds";
    ASSERT_TRUE(makeDosDevice("com45", "/dev/null"));
    EXPECT_EQ(0, isComNameFree("COM45"));
    removeDosDevice("com45");
    EXPECT_EQ(1, isComNameFree("COM45"));
    // A name that exists but cannot be opened (here a folder) is not free either.
    ASSERT_TRUE(makeDosDevice("com48", "/tmp"));
    EXPECT_EQ(0, isComNameFree("COM48"));
    removeDosDevice("com48");
}

TEST(PortChecks, BindTestsSeeHeldPortsPerProtocol)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    int p = firstBindablePort(6401);
    EXPECT_EQ(1, localPortFreeTcp(p));
    EXPECT_EQ(1, localPortFreeUdp(p));
    {
        HeldPort tcp(p, false);
        ASSERT_TRUE(tcp.held());
        EXPECT_EQ(0, localPortFreeTcp(p));
        EXPECT_EQ(1, localPortFreeUdp(p));
    }
    {
        HeldPort udp(p, true);
        ASSERT_TRUE(udp.held());
        EXPECT_EQ(1, localPortFreeTcp(p));
        EXPECT_EQ(0, localPortFreeUdp(p));
    }
    EXPECT_EQ(1, localPortFreeTcp(p)) << "each test closes its socket";
    WSACleanup();
}
