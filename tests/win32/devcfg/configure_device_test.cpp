// Configure Device against simulated devices: the rows of a device's serial
// ports, the virtual COM port bound to each, the reboot question on every
// close, and the way into the automatic creation with the refresh after it.
#include "tests/win32/devcfg/devcfg_test_util.h"

#include <cstdlib>

#include "tests/win32/scan/stand_in_device.h"

namespace {

typedef std::vector<std::string> Cells;

std::vector<Cells> rowsOf(HWND list)
{
    std::vector<Cells> rows;
    for (int r = 0; r < listRows(list); r++) {
        Cells cells;
        for (int c = 0; c < 7; c++)
            cells.push_back(listCell(list, r, c));
        rows.push_back(cells);
    }
    return rows;
}

long long logTime(const std::string& line) { return atoll(logField(line, "time").c_str()); }

INT_PTR lastConfigureResult;
INT_PTR openAndRecord(HWND owner)
{
    lastConfigureResult = openConfigureDeviceDialog(owner);
    return lastConfigureResult;
}

class ConfigureDeviceLab : public DevcfgLab {};

}  // namespace

// In the lab the PC's host name resolves to its one lab address: that is
// what a device in UDP mode is told, and what a bound port is matched with.
TEST_F(ConfigureDeviceLab, LocalAddressIsThePcAddressTheHostNameResolvesTo)
{
    uint32_t address = 0;
    ASSERT_EQ(1, getLocalAddress(&address));
    EXPECT_EQ(inet_addr("10.231.0.1"), address);
}

// Opened from the scan window's Device Settings, as a user does.
TEST_F(ConfigureDeviceLab, RowsShowEachPortWithItsBoundComAndEscAsksThenCancelKeepsTheDevice)
{
    devices("device sn=CONFIG000001 ip=10.231.1.9 ports=3\n"
            "port 1 dport=4001 baud=115200 data=8 parity=none stop=1 if=3\n"
            "port 2 dport=4002 line=0x15102580 if=rs485\n"       // 9600, Even, 7 bits, stop bits code 5
            "port 3 dport=4003 baud=230400 data=5 parity=odd stop=1.5 if=ttl\n");
    // Port 3 is bound to COM9; an entry the host has not made present, and
    // one naming the device with leading zeros, bind nothing.
    presentEntry(4, "COM9", "10.231.1.9", "4003", "tcpc", "6001");
    writePortEntry(portTable, 1, "\\\\.\\NULL_COM41", "10.231.1.9", "4001", "enable", "udp", "6002");
    presentEntry(2, "COM42", "010.231.1.9", "4002", "udp", "6003");
    showConfigureDevice = openAndRecord;
    lastConfigureResult = 0;

    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(0);
    HWND configure = nullptr, ownerSeen = nullptr;
    std::vector<Cells> rows;
    BoxButtons buttons;
    DialogWatcher watcher(IDCANCEL);
    watcher.onDialog = [&](HWND d) {
        configure = d;
        ownerSeen = GetWindow(d, GW_OWNER);
        HWND list = GetDlgItem(d, IDC_DEVICE_PORT_LIST);
        rows = rowsOf(list);
        later(300, [this, list] {
            EXPECT_NE("", lab->screenshot("configure-device"));
            PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(list, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        });
    };
    w.press(IDC_DEVICE_SETTINGS);
    ASSERT_NE(nullptr, configure);
    EXPECT_EQ(w.dialog, ownerSeen);
    const std::vector<Cells> expected = {
        {"1", " ", "", "115200", "8", "None", "1"},
        {"2", "RS-485", "", "9600", "7", "Even", " "},
        {"3", "TTL", "COM9", "230400", "5", "Odd", "1.5"},
    };
    EXPECT_EQ(expected, rows);

    EXPECT_FALSE(IsWindow(configure));
    EXPECT_EQ(IDCANCEL, lastConfigureResult);
    ASSERT_EQ(1u, watcher.boxes.size()) << "Esc asks about rebooting";
    EXPECT_EQ(REBOOT_ADVICE, watcher.boxes[0].text);
    EXPECT_EQ("WARNING", watcher.boxes[0].caption);
    EXPECT_EQ("warning", watcher.boxes[0].icon);
    EXPECT_EQ(configure, watcher.boxes[0].owner);
    EXPECT_EQ((std::vector<int>{IDOK, IDCANCEL}), buttons.seen.at(0));
    EXPECT_EQ(0u, sent(1, MGMT_REBOOT).size()) << "Cancel: no reboot";
}

TEST_F(ConfigureDeviceLab, EnterAndTheCloseBoxAskTooAndOkReboots)
{
    devices("device sn=CONFIG000002 ip=10.231.1.10 ports=1 rebootms=0\n");
    scan(1);
    query(1);
    clearLogs();
    DialogWatcher watcher(IDOK);
    watcher.onDialog = [&](HWND d) {
        HWND list = GetDlgItem(d, IDC_DEVICE_PORT_LIST);
        PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageA(list, WM_KEYUP, VK_RETURN, 0xC01C0001);
    };
    EXPECT_EQ(IDOK, openConfigureDeviceDialog(owner));
    ASSERT_EQ(1u, watcher.boxes.size());
    EXPECT_EQ(REBOOT_ADVICE, watcher.boxes[0].text);
    std::vector<std::string> reboot = sent(1, MGMT_REBOOT);
    ASSERT_EQ(1u, reboot.size());
    EXPECT_EQ("01", logField(reboot[0], "payload"));

    watcher.onDialog = [&](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); };
    EXPECT_EQ(IDCANCEL, openConfigureDeviceDialog(owner));
    EXPECT_EQ(2u, watcher.boxes.size());
    EXPECT_EQ(2u, sent(1, MGMT_REBOOT).size());
}

// A device that answers the query with a plain status 0 has no ports to
// list; Map Serial Port and a double-click then do nothing.
TEST_F(ConfigureDeviceLab, DeviceWithoutPortsGivesAnEmptyListAndMapDoesNothing)
{
    ASSERT_TRUE(lab->stopDevices());
    DeviceRecord record = {};
    memcpy(record.serialNumber, "EMPTY0000001", 12);
    record.network.ipAddress = inet_addr("10.231.1.30");
    clearDeviceTable();
    ASSERT_EQ(0, storeDeviceRecord(&record));
    std::vector<uint8_t> reply(MGMT_HEADER_SIZE + MGMT_STATUS_REPLY_LENGTH, 0);
    memcpy(reply.data() + MGMT_HEADER_SIZE, record.serialNumber, 12);
    finishMgmtPacket(reply.data(), (int)reply.size(), MGMT_STATUS_REPLY, MGMT_STATUS_REPLY_LENGTH);
    StandInDevice device(MGMT_GET_SERIAL_CONFIG, reply);
    ASSERT_TRUE(device.ready());
    ASSERT_EQ(1, selectDevice(0));
    portConfigCount = 5;
    ASSERT_EQ(1, getSerialPortConfigs(owner, 0, 0));
    ASSERT_EQ(1, device.answered());
    ASSERT_EQ(0, portConfigCount);

    selectedPort = 77;
    int rows = -1, creations = 0;
    DialogWatcher watcher(IDCANCEL);
    watcher.onDialog = [&](HWND d) {
        if (titleOf(d) == AUTO_TITLE) {
            creations++;
            PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        HWND list = GetDlgItem(d, IDC_DEVICE_PORT_LIST);
        rows = listRows(list);
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_MAP_SERIAL_PORT, BN_CLICKED), (LPARAM)GetDlgItem(d, IDC_MAP_SERIAL_PORT));
        PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 30));
        later(200, [d] { PostMessageA(d, WM_COMMAND, IDCANCEL, 0); });
    };
    EXPECT_EQ(IDCANCEL, openConfigureDeviceDialog(owner));
    EXPECT_EQ(0, rows);
    EXPECT_EQ(0, creations);
    EXPECT_EQ(77, selectedPort);
    EXPECT_EQ(1u, watcher.boxes.size()) << "only the reboot question";
}

// A double-click maps the marked row; after OK the list is rebuilt from a new
// query one second later and shows the new port once the host made it
// present. Map Serial Port maps the marked row too; Cancel refreshes nothing.
TEST_F(ConfigureDeviceLab, DoubleClickAndMapSerialPortOpenTheCreationAndOkRefreshesOneSecondLater)
{
    devices("device sn=CONFIG000003 ip=10.231.1.11 ports=2\n");
    scan(1);
    query(2);
    clearLogs();
    freshPair("COM62");
    HostStandIn host("COM62");

    HWND configure = nullptr;
    std::vector<int> portsOpened;
    std::vector<Cells> afterOk;
    int rowsAfterCancel = -1;
    DWORD okAt = 0, rebuiltAt = 0;
    DialogWatcher watcher(IDCANCEL);
    watcher.onDialog = [&](HWND d) {
        if (titleOf(d) == CONFIGURE_TITLE) {
            configure = d;
            HWND list = GetDlgItem(d, IDC_DEVICE_PORT_LIST);
            selectListRow(list, 1);
            RECT cell = {LVIR_BOUNDS, 0, 0, 0};
            SendMessageA(list, LVM_GETITEMRECT, 1, (LPARAM)&cell);
            PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON,
                         MAKELPARAM(cell.left + 10, (cell.top + cell.bottom) / 2));
            return;
        }
        if (titleOf(d) != AUTO_TITLE)
            return;
        portsOpened.push_back(selectedPort);
        EXPECT_EQ(configure, GetWindow(d, GW_OWNER)) << "the creation dialog's parent";
        HWND list = GetDlgItem(configure, IDC_DEVICE_PORT_LIST);
        if (portsOpened.size() == 1) {
            selectComboText(d, IDC_AUTO_COM, "COM62");
            selectComboText(d, IDC_AUTO_CONNECTION, "UDP");
            okAt = GetTickCount();
            PostMessageA(d, WM_COMMAND, IDOK, 0);
            whenReady(
                [&, list] {
                    return !FindWindowA("#32770", AUTO_TITLE) && IsWindowEnabled(configure) && listRows(list) == 2;
                },
                [&, list] {
                    rebuiltAt = GetTickCount();
                    afterOk = rowsOf(list);
                    selectListRow(list, 0);
                    PostMessageA(configure, WM_COMMAND, MAKEWPARAM(IDC_MAP_SERIAL_PORT, BN_CLICKED),
                                 (LPARAM)GetDlgItem(configure, IDC_MAP_SERIAL_PORT));
                },
                10000, [&] { PostMessageA(configure, WM_COMMAND, IDCANCEL, 0); });
            return;
        }
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        whenReady([&] { return !FindWindowA("#32770", AUTO_TITLE) && IsWindowEnabled(configure); },
                  [&, list] {
                      rowsAfterCancel = listRows(list);
                      PostMessageA(configure, WM_COMMAND, IDCANCEL, 0);
                  });
    };
    EXPECT_EQ(IDCANCEL, openConfigureDeviceDialog(owner));
    EXPECT_EQ((std::vector<int>{1, 0}), portsOpened);
    ASSERT_EQ(2u, afterOk.size());
    EXPECT_EQ("", afterOk[0][2]);
    EXPECT_EQ("COM62", afterOk[1][2]) << "the new entry was present by the refresh";
    EXPECT_GE(rebuiltAt - okAt, 1000u);
    EXPECT_EQ(2, rowsAfterCancel);

    std::vector<std::string> set = sent(1, MGMT_SET_SERIAL_CONFIG);
    std::vector<std::string> queries = sent(1, MGMT_GET_SERIAL_CONFIG);
    ASSERT_EQ(1u, set.size());
    EXPECT_EQ(2, logPayload(set[0]).at(0)) << "the second port";
    ASSERT_EQ(1u, queries.size()) << "one refresh, after OK only";
    EXPECT_GE(logTime(queries[0]) - logTime(set[0]), 995) << "the list waits a second before asking";
    EXPECT_EQ(1u, watcher.boxes.size()) << "only the reboot question";
}
