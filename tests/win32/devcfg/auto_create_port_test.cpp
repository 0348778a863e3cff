// Automatically create serial port against simulated devices: what it
// offers, the settings it writes to the device (every byte the manager does
// not interpret going back as reported), and the virtual port it creates or
// re-targets.
#include "tests/win32/devcfg/devcfg_test_util.h"

#include "mgmt/line_settings.h"

#pragma push_macro("interface")
#undef interface

namespace {

const int comboIds[7] = {IDC_AUTO_COM, IDC_AUTO_CONNECTION, IDC_AUTO_INTERFACE, IDC_AUTO_BAUD,
                         IDC_AUTO_DATA, IDC_AUTO_PARITY, IDC_AUTO_STOP};

// What the dialog showed when it opened.
struct Shown {
    std::vector<std::vector<std::string>> items;
    std::vector<std::string> selected;
    bool comEnabled = false;
};

struct AutoRun {
    INT_PTR result = -1;
    Shown shown;
    std::vector<SeenBox> boxes;
    HWND dialog = nullptr;
};

// Choices for the OK step, by combo text; null leaves a combo as it opened.
struct Choice {
    const char* com;
    const char* connection = nullptr;
    const char* interfaceText = nullptr;
    const char* baud = nullptr;
    const char* data = nullptr;
    const char* parity = nullptr;
    const char* stop = nullptr;
};

SerialPortConfig sentRecord(const std::string& line, int* portNumber)
{
    std::vector<uint8_t> payload = logPayload(line);
    SerialPortConfig c = {};
    *portNumber = payload.empty() ? -1 : payload[0];
    if (payload.size() == 1 + sizeof c)
        memcpy(&c, payload.data() + 1, sizeof c);
    else
        ADD_FAILURE() << "payload of " << payload.size() << " bytes: " << line;
    return c;
}

// Every byte outside peerAddress equal to `want`; peerAddress as text.
void expectRecord(const SerialPortConfig& want, const SerialPortConfig& got)
{
    std::vector<uint8_t> a = bytesOf(want), b = bytesOf(got);
    for (size_t i = 0; i < a.size(); i++) {
        if (i >= offsetof(SerialPortConfig, peerAddress) && i < offsetof(SerialPortConfig, peerPort))
            continue;
        EXPECT_EQ((int)a[i], (int)b[i]) << "byte " << i;
    }
    EXPECT_STREQ(want.peerAddress, std::string(got.peerAddress, strnlen(got.peerAddress, 32)).c_str());
}

// The lowest n whose \\.\COMn does not open, or -1 up to COM128.
int lowestClosedCom()
{
    for (int n = 1; n <= 128; n++) {
        std::string path = "\\\\.\\COM" + std::to_string(n);
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return n;
        CloseHandle(h);
    }
    return -1;
}

class AutoCreateLab : public DevcfgLab {
protected:
    // Opens the dialog for `port`, records what it shows, makes the choice
    // and presses OK (or, with cancel, Cancel).
    AutoRun run(int port, const Choice& choice, bool cancel = false, const char* shot = nullptr)
    {
        AutoRun r;
        DialogWatcher watcher(IDOK);
        watcher.onDialog = [&](HWND d) {
            r.dialog = d;
            for (int id : comboIds) {
                r.shown.items.push_back(comboItems(d, id));
                r.shown.selected.push_back(comboSelection(d, id));
            }
            r.shown.comEnabled = IsWindowEnabled(GetDlgItem(d, IDC_AUTO_COM)) != 0;
            const char* texts[7] = {choice.com,  choice.connection, choice.interfaceText, choice.baud,
                                    choice.data, choice.parity,     choice.stop};
            for (int i = 0; i < 7; i++)
                if (texts[i])
                    selectComboText(d, comboIds[i], texts[i]);
            auto press = [d, cancel] { PostMessageA(d, WM_COMMAND, cancel ? IDCANCEL : IDOK, 0); };
            if (!shot) {
                press();
                return;
            }
            later(300, [this, shot, press] {
                EXPECT_NE("", lab->screenshot(shot));
                press();
            });
        };
        r.result = openAutoCreate(port);
        r.boxes = watcher.boxes;
        return r;
    }
    void onePort(const std::string& portLine)
    {
        devices("device sn=AUTO00000001 ip=10.231.1.20 ports=1\n" + portLine + "\n");
        scan(1);
        query(1);
        clearLogs();
    }
    std::vector<std::string> setRequests() { return sent(1, MGMT_SET_SERIAL_CONFIG); }
};

}  // namespace

TEST_F(AutoCreateLab, UdpWritesTheChosenSettingsAndCreatesTheBoundPort)
{
    onePort("port 1 dport=4001 baud=9600 data=7 parity=even stop=2 top=5 mode=tcp peer=10.231.9.9 pport=7000 "
            "if=rs232 ifs=rs232,rs485");
    // Bytes the manager does not interpret, as this device reported them.
    PortConfigTable[0].reserved1 = 0x5A;
    for (int i = 0; i < 24; i++)
        PortConfigTable[0].reserved2[i] = (uint8_t)(0x80 + i);
    const SerialPortConfig reported = PortConfigTable[0];
    const int local = firstBindablePort(6001);
    freshPair("COM60");
    // The lowest COM name that does not open is offered: make the one that
    // would be offered now exist, and the next one must be offered instead.
    const int lowest = lowestClosedCom();
    ASSERT_GT(lowest, 0);
    const std::string taken = "com" + std::to_string(lowest);
    ASSERT_TRUE(makeDosDevice(taken.c_str(), "/dev/null"));
    const int firstFree = lowestClosedCom();

    AutoRun r = run(0, {"COM60", "UDP", "RS-485", "115200", "8", "None", "1"}, false, "automatically-create-serial-port");
    removeDosDevice(taken.c_str());
    EXPECT_EQ(IDOK, r.result);
    EXPECT_EQ(0u, r.boxes.size());

    ASSERT_EQ(7u, r.shown.items.size());
    ASSERT_EQ(128u, r.shown.items[0].size());
    EXPECT_EQ("COM1", r.shown.items[0][0]);
    EXPECT_EQ("COM128", r.shown.items[0][127]);
    EXPECT_GT(firstFree, lowest);
    EXPECT_EQ("COM" + std::to_string(firstFree), r.shown.selected[0]);
    EXPECT_TRUE(r.shown.comEnabled);
    EXPECT_EQ((std::vector<std::string>{"UDP", "TCP Client"}), r.shown.items[1]);
    EXPECT_EQ((std::vector<std::string>{"RS-232", "RS-485"}), r.shown.items[2]);
    EXPECT_EQ((std::vector<std::string>{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
                                        "230400", "460800", "921600"}),
              r.shown.items[3]);
    EXPECT_EQ((std::vector<std::string>{"5", "6", "7", "8"}), r.shown.items[4]);
    EXPECT_EQ((std::vector<std::string>{"None", "Even", "Odd"}), r.shown.items[5]);
    EXPECT_EQ((std::vector<std::string>{"0.5", "1", "1.5", "2"}), r.shown.items[6]);
    EXPECT_EQ((std::vector<std::string>{r.shown.selected[0], "UDP", "RS-232", "9600", "7", "Even", "2"}),
              r.shown.selected);

    std::vector<std::string> set = setRequests();
    ASSERT_EQ(1u, set.size());
    EXPECT_NE(std::string::npos, set[0].find("reply=255 status=0"));
    int portNumber = 0;
    SerialPortConfig got = sentRecord(set[0], &portNumber);
    EXPECT_EQ(1, portNumber);
    SerialPortConfig want = reported;
    want.lineSettings = (5u << 29) | 0x0581C200u;  // 115200 8N1, the device's top bits kept
    strcpy(want.peerAddress, "10.231.0.1");        // this PC in the lab
    want.peerPort = (uint16_t)local;
    want.workMode = WORK_MODE_UDP;
    want.interface = INTERFACE_RS485;
    expectRecord(want, got);

    const PortEntry& e = portTable->entries[0];
    EXPECT_EQ(1u, e.inUse);
    EXPECT_EQ("\\\\.\\NULL_COM60", entryText(0, &PortEntry::portName));
    EXPECT_EQ("10.231.1.20", entryRemoteAddress(0));
    EXPECT_EQ("4001", entryText(0, &PortEntry::remotePort)) << "the device port";
    EXPECT_EQ(std::to_string(got.peerPort), entryText(0, &PortEntry::localPort)) << "the port the device was told";
    EXPECT_EQ("udp", entryText(0, &PortEntry::protocol));
    EXPECT_EQ(PORT_START, e.command);
    EXPECT_TRUE(pairExists("COM60"));
    EXPECT_EQ("entry_v1_1=COM60 10.231.1.20 4001 enable udp " + std::to_string(local) + "\r\n",
              readFile(windowsFile("parlo.ini")));
}

TEST_F(AutoCreateLab, TcpClientSendsWorkModeTwoAndLeavesThePeerAsReported)
{
    onePort("port 1 dport=4001 mode=udp peer=10.231.9.9 pport=7000 if=rs232 ifs=rs232");
    const SerialPortConfig reported = PortConfigTable[0];
    const int local = firstBindablePort(6001);
    freshPair("COM61");

    AutoRun r = run(0, {"COM61", "TCP Client"});
    EXPECT_EQ(IDOK, r.result);
    EXPECT_EQ(0u, r.boxes.size());
    std::vector<std::string> set = setRequests();
    ASSERT_EQ(1u, set.size());
    int portNumber = 0;
    SerialPortConfig want = reported;
    want.workMode = WORK_MODE_TCP;
    expectRecord(want, sentRecord(set[0], &portNumber));
    EXPECT_EQ("tcpc", entryText(0, &PortEntry::protocol));
    EXPECT_EQ(std::to_string(local), entryText(0, &PortEntry::localPort)) << "a free local port all the same";
    EXPECT_EQ("4001", entryText(0, &PortEntry::remotePort));
    EXPECT_TRUE(pairExists("COM61"));
}

// Ports already bound: only their COM name is offered, and OK re-targets the
// entry in place, with no name check and no new pair; a stopped entry stays
// stopped, a running one restarts.
TEST_F(AutoCreateLab, BoundPortIsRetargetedInPlaceAndAStoppedOneStaysStopped)
{
    devices("device sn=AUTO00000002 ip=10.231.1.21 ports=3\n");
    for (const char* com : {"COM7", "COM47", "COM48"})
        freshPair(com);
    presentEntry(3, "COM7", "10.231.1.21", "4001", "tcpc", "6005");
    portTable->entries[3].command = PORT_STOP;
    presentEntry(4, "COM47", "10.231.1.21", "4002", "udp", "6006");
    presentEntry(5, "COM48", "10.231.1.21", "4003", "udp", "6007");
    memset(portTable->entries[5].protocol, 0, sizeof portTable->entries[5].protocol);
    strcpy(portTable->entries[5].protocol, "raw");
    scan(1);
    query(3);
    clearLogs();
    const int local = firstBindablePort(6008);  // above every configured local port

    AutoRun r = run(0, {nullptr, "UDP"});
    EXPECT_EQ(IDOK, r.result);
    EXPECT_EQ(0u, r.boxes.size());
    EXPECT_EQ((std::vector<std::string>{"COM7"}), r.shown.items[0]);
    EXPECT_EQ("COM7", r.shown.selected[0]);
    EXPECT_FALSE(r.shown.comEnabled);
    EXPECT_EQ("TCP Client", r.shown.selected[1]) << "the entry's protocol";
    std::vector<std::string> set = setRequests();
    ASSERT_EQ(1u, set.size());
    int portNumber = 0;
    SerialPortConfig got = sentRecord(set[0], &portNumber);
    EXPECT_EQ(WORK_MODE_UDP, got.workMode);
    EXPECT_EQ(local, got.peerPort);
    EXPECT_EQ("\\\\.\\NULL_COM7", entryText(3, &PortEntry::portName));
    EXPECT_EQ("udp", entryText(3, &PortEntry::protocol));
    EXPECT_EQ(std::to_string(local), entryText(3, &PortEntry::localPort));
    EXPECT_EQ("4001", entryText(3, &PortEntry::remotePort));
    EXPECT_EQ("10.231.1.21", entryRemoteAddress(3));
    EXPECT_EQ(PORT_STOP, portTable->entries[3].command) << "a stopped port stays stopped";
    for (int i : {0, 1, 2, 6})
        EXPECT_EQ(0u, portTable->entries[i].inUse) << "no new entry";
    EXPECT_FALSE(pairExists("COM7"));
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini"))) << "re-targeting leaves the file to the main window";

    r = run(1, {nullptr});
    EXPECT_EQ("UDP", r.shown.selected[1]);
    EXPECT_EQ(PORT_RESTART, portTable->entries[4].command) << "a running port reconnects to the new target";

    // An entry with another protocol word: no connection chosen. Cancel sends nothing.
    r = run(2, {nullptr}, true);
    EXPECT_EQ(IDCANCEL, r.result);
    EXPECT_EQ((std::vector<std::string>{"COM48"}), r.shown.items[0]);
    EXPECT_EQ("<none>", r.shown.selected[1]);
    EXPECT_EQ(2u, setRequests().size());
    EXPECT_EQ(PORT_START, portTable->entries[5].command);
}

TEST_F(AutoCreateLab, InterfaceChoicesFollowTheSupportedBits)
{
    devices("device sn=AUTO00000003 ip=10.231.1.22 ports=3\n"
            "port 1 ifs=rs232,rs485 if=rs485\n"
            "port 2 ifs=0 if=ttl\n"
            "port 3 ifs=7 if=3\n");
    scan(1);
    query(3);
    clearLogs();

    AutoRun r = run(0, {"COM63"}, true);
    EXPECT_EQ(IDCANCEL, r.result);
    EXPECT_EQ((std::vector<std::string>{"RS-232", "RS-485"}), r.shown.items[2]);
    EXPECT_EQ("RS-485", r.shown.selected[2]);

    // Both bits of interface 3 match: the last one added wins.
    r = run(2, {"COM63"}, true);
    EXPECT_EQ((std::vector<std::string>{"RS-232", "RS-485", "TTL"}), r.shown.items[2]);
    EXPECT_EQ("RS-485", r.shown.selected[2]);
    EXPECT_EQ(0u, setRequests().size()) << "Cancel sends nothing";
    EXPECT_EQ(0u, portTable->entries[0].inUse);

    // No supported interface: an empty choice, and OK keeps the device's.
    freshPair("COM63");
    r = run(1, {"COM63"});
    EXPECT_EQ(IDOK, r.result);
    EXPECT_TRUE(r.shown.items[2].empty());
    std::vector<std::string> set = setRequests();
    ASSERT_EQ(1u, set.size());
    int portNumber = 0;
    SerialPortConfig got = sentRecord(set[0], &portNumber);
    EXPECT_EQ(2, portNumber);
    EXPECT_EQ(INTERFACE_TTL, got.interface);
    EXPECT_EQ(0, got.supportedInterfaces);
}

// A baud rate and stop bits the tables do not hold: those combos start
// empty, and OK sends baud rate 0 and the default stop bit.
TEST_F(AutoCreateLab, SettingsOutsideTheTablesStartEmptyAndSendDefaults)
{
    onePort("port 1 line=0x158003E8");  // 1000 baud, None, 8 bits, stop bits code 5
    freshPair("COM64");
    AutoRun r = run(0, {"COM64", "TCP Client"});
    EXPECT_EQ(IDOK, r.result);
    EXPECT_EQ("<none>", r.shown.selected[3]);
    EXPECT_EQ("8", r.shown.selected[4]);
    EXPECT_EQ("None", r.shown.selected[5]);
    EXPECT_EQ("<none>", r.shown.selected[6]);
    std::vector<std::string> set = setRequests();
    ASSERT_EQ(1u, set.size());
    int portNumber = 0;
    SerialPortConfig got = sentRecord(set[0], &portNumber);
    EXPECT_EQ(0u, lineBaudRate(got.lineSettings));
    EXPECT_EQ(3u, lineDataBits(got.lineSettings));
    EXPECT_EQ(0u, lineParity(got.lineSettings));
    EXPECT_EQ(1u, lineStopBits(got.lineSettings)) << "one stop bit when none is chosen";
}

TEST_F(AutoCreateLab, FullTableStillConfiguresTheDeviceThenSaysSo)
{
    onePort("port 1 dport=4001");
    freshPair("COM65");
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        presentEntry(i, ("COM" + std::to_string(100 + i)).c_str(), "127.0.0.1", "9", "tcpc", "7000");
    AutoRun r = run(0, {"COM65", "UDP"});
    EXPECT_EQ(IDOK, r.result) << "closes after the message";
    std::vector<std::string> set = setRequests();
    ASSERT_EQ(1u, set.size()) << "the device is configured first";
    EXPECT_NE(std::string::npos, set[0].find("reply=255 status=0"));
    ASSERT_EQ(1u, r.boxes.size());
    EXPECT_EQ("Reached the MAX number of VCOM!", r.boxes[0].text);
    EXPECT_EQ("Error", r.boxes[0].caption) << "the system's default caption";
    EXPECT_EQ("error", r.boxes[0].icon);
    EXPECT_EQ(r.dialog, r.boxes[0].owner);
    EXPECT_FALSE(pairExists("COM65"));
    EXPECT_FALSE(fileExists(windowsFile("parlo.ini")));
}

// A COM name that exists on the system, or that a port of ours already
// carries, is refused before anything is sent.
TEST_F(AutoCreateLab, ComNameThatExistsIsRefusedAndNothingIsSent)
{
    onePort("port 1 dport=4001");
    for (const char* com : {"COM45", "COM46"})
        freshPair(com);
    ASSERT_TRUE(makeDosDevice("com45", "/dev/null")) << "needs Wine's dosdevices";
    AutoRun r = run(0, {"COM45", "UDP"});
    removeDosDevice("com45");
    EXPECT_EQ(IDOK, r.result) << "the dialog closes after the message";
    ASSERT_EQ(1u, r.boxes.size());
    EXPECT_EQ("COM45 already exist, please select another COM port!", r.boxes[0].text);
    EXPECT_EQ("WARNING", r.boxes[0].caption);
    EXPECT_EQ("error", r.boxes[0].icon);
    EXPECT_EQ(r.dialog, r.boxes[0].owner);
    EXPECT_EQ(0u, setRequests().size());
    EXPECT_EQ(0u, portTable->entries[0].inUse);
    EXPECT_FALSE(pairExists("COM45"));

    // Bound to another address: not this port's mapping, but its COM name is taken.
    presentEntry(6, "COM46", "10.231.1.99", "4001", "udp", "6001");
    r = run(0, {"COM46", "UDP"});
    ASSERT_EQ(1u, r.boxes.size());
    EXPECT_EQ("COM46 already exist, please select another COM port!", r.boxes[0].text);
    EXPECT_EQ(0u, setRequests().size());
    EXPECT_EQ(0u, portTable->entries[0].inUse);
    EXPECT_FALSE(pairExists("COM46"));
}

// A port belongs to the device its window was opened for: a scan that
// reorders the devices meanwhile does not move it to another device, and a
// device gone from the table gets nothing.
TEST_F(AutoCreateLab, PortStaysWithThePickedDeviceAcrossAReorderingScan)
{
    devices("device sn=PICKED000001 ip=10.231.1.30 ports=1\ndevice sn=OTHER0000001 ip=10.231.1.31 ports=1\n");
    scan(2);
    query(1);  // device 0: PICKED000001
    devices("device sn=OTHER0000001 ip=10.231.1.31 ports=1\ndevice sn=PICKED000001 ip=10.231.1.30 ports=1\n");
    scan(2);
    ASSERT_EQ("OTHER0000001", serialOf(0));
    freshPair("COM62");

    AutoRun r = run(0, {"COM62", "UDP"});
    EXPECT_EQ(0u, r.boxes.size());
    EXPECT_EQ(0u, sent(1, MGMT_SET_SERIAL_CONFIG).size()) << "the device now in the picked row";
    EXPECT_EQ(1u, sent(2, MGMT_SET_SERIAL_CONFIG).size()) << "the picked device";
    EXPECT_EQ("10.231.1.30", entryRemoteAddress(0));

    devices("device sn=OTHER0000001 ip=10.231.1.31 ports=1\n");
    scan(1);
    freshPair("COM63");
    r = run(0, {"COM63", "UDP"});
    ASSERT_EQ(1u, r.boxes.size());
    EXPECT_EQ("Failed to configure serial port!", r.boxes[0].text);
    EXPECT_EQ(0u, sent(1, MGMT_SET_SERIAL_CONFIG).size());
    EXPECT_EQ(0u, portTable->entries[1].inUse);
    EXPECT_FALSE(pairExists("COM63"));
}

#pragma pop_macro("interface")
