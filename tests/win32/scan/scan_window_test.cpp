// Scan Online Devices against simulated devices in the lab: what is listed,
// in which order, and what the row buttons do.
#include "tests/win32/scan/scan_test_util.h"

#include <cstdio>

#include "mgmt/mgmt_build.h"
#include "tests/win32/scan/stand_in_device.h"

namespace {

const char* THREE_DEVICES =
    "device sn=ABCDEFGHIJKL ip=10.231.1.1 model=0123456789ABCDEF fw=3.1.7 web=80\n"
    "device sn=SECOND ip=10.231.1.2 model=DS-2 fw=1.0.12 web=8080\n"
    "device sn=THIRD00003 ip=10.231.1.3 model=DS-4 fw=2.10.0 web=81\n";

class ScanLab : public LabTest {};

struct SeenModal {
    HWND owner = nullptr;
    int rows = -1;
    bool found = false;
};
SeenModal seenModal;

// The modal window runs its own loop; this thread timer reaches into it,
// waits for the scan, reads the list and closes the window.
void CALLBACK findModalScanWindow(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND d = FindWindowA("#32770", "Scan Online Devices");
    if (!d)
        return;
    KillTimer(nullptr, id);
    seenModal.found = true;
    seenModal.owner = GetWindow(d, GW_OWNER);
    pumpUntil([d] { return !scanInProgress() && IsWindowEnabled(GetDlgItem(d, IDC_SCAN_DEVICE)); }, 8000);
    seenModal.rows = (int)SendDlgItemMessageA(d, IDC_DEVICE_LIST, LVM_GETITEMCOUNT, 0, 0);
    PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

TEST_F(ScanLab, WindowLayoutColumnsAndNoDeviceGivesAnEmptyListAfterOneSecond)
{
    ASSERT_TRUE(lab->stopDevices());
    DWORD start = GetTickCount();
    ScanWindow w;
    ASSERT_NE(nullptr, w.dialog);
    pumpUntil([&] { return !w.scanEnabled(); }, 5000);
    EXPECT_TRUE(scanInProgress());
    EXPECT_FALSE(w.scanEnabled()) << "Scan Device is disabled while the scan runs";
    ASSERT_TRUE(w.waitScanEnd(20000));
    DWORD took = GetTickCount() - start;
    // One second of silence ends it: never sooner. How much later it ends is
    // a figure of make bench; the bound only catches a scan that never ends.
    printf("scan_silence_end_ms %lu\n", (unsigned long)took);
    EXPECT_GE(took, 950u);
    EXPECT_LE(took, 10000u);
    EXPECT_EQ(0, w.rowCount());
    EXPECT_EQ(0, storedDeviceCount());
    EXPECT_TRUE(w.scanEnabled());

    char title[64] = "";
    GetWindowTextA(w.dialog, title, sizeof title);
    EXPECT_STREQ("Scan Online Devices", title);
    RECT want = {0, 0, 434, 207}, client;
    MapDialogRect(w.dialog, &want);
    GetClientRect(w.dialog, &client);
    EXPECT_EQ(want.right, client.right);
    EXPECT_EQ(want.bottom, client.bottom);
    struct { int id; RECT at; const char* caption; } controls[] = {
        {IDC_DEVICE_LIST, {7, 7, 420, 165}, nullptr},
        {IDC_SCAN_DEVICE, {7, 179, 53, 19}, "Scan Device"},
        {IDC_REBOOT_DEVICE, {71, 179, 56, 19}, "Reboot Device"},
        {IDC_NETWORK_SETTINGS, {228, 179, 64, 19}, "Network Settings"},
        {IDC_DEVICE_SETTINGS, {305, 179, 56, 19}, "Device Settings"},
        {IDC_BROWSE_DEVICE, {371, 179, 56, 19}, "Browse"},
    };
    for (auto& c : controls) {
        RECT off = placedOff(w.dialog, c.id, c.at);
        EXPECT_TRUE(!off.left && !off.top && !off.right && !off.bottom) << "control " << c.id;
        if (c.caption) {
            char text[64] = "";
            GetDlgItemTextA(w.dialog, c.id, text, sizeof text);
            EXPECT_STREQ(c.caption, text);
        }
    }

    HWND list = w.list();
    LONG style = GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(LVS_REPORT, style & LVS_TYPEMASK);
    EXPECT_FALSE(style & LVS_SINGLESEL) << "several rows may be selected";
    EXPECT_FALSE(style & LVS_OWNERDRAWFIXED);
    // A single border; the list view may carry it as its client edge.
    EXPECT_TRUE((style & WS_BORDER) || (GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
    EXPECT_TRUE(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
    const char* titles[] = {"Model", "SN", "Firmware", "IP Address", "WEB Port"};
    const int widths[] = {100, 150, 130, 150, 90};
    EXPECT_EQ(5, (int)SendMessageA((HWND)SendMessageA(list, LVM_GETHEADER, 0, 0), HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(titles[i], listHeader(list, i));
        EXPECT_EQ(widths[i], (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0)) << "column " << i;
    }
}

TEST_F(ScanLab, ListsDevicesInArrivalOrderWithTheirTexts)
{
    devices(THREE_DEVICES);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    const std::vector<Row> expected = {
        {"0123456789ABCDEF", "ABCDEFGHIJKL", "3.1.07\n", "10.231.1.1", "80"},
        {"DS-2", "SECOND", "1.0.12\n", "10.231.1.2", "8080"},
        {"DS-4", "THIRD00003", "2.10.00\n", "10.231.1.3", "81"},
    };
    EXPECT_EQ(expected, w.rows());
    // Row i is slot i of the table.
    ASSERT_EQ(3, storedDeviceCount());
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(expected[i][1], serialOf(i));

    std::string shot = lab->screenshot("scan-three-devices");
    EXPECT_NE("", shot);
    printf("screenshot: %s\n", shot.c_str());
}

TEST_F(ScanLab, CorruptReplyIsSkippedAndAGoodOneAfterItListed)
{
    devices(THREE_DEVICES);
    bool ok = false;
    lab->ctl("misbehave 1 crc=bad on=discover", &ok);
    ASSERT_TRUE(ok);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    std::vector<Row> rows = w.rows();
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("SECOND", rows[0][1]);
    EXPECT_EQ("THIRD00003", rows[1][1]);
    // The corrupt reply was sent: device 1 heard the probe.
    EXPECT_EQ(1u, lab->log(1, 128).size());
}

TEST_F(ScanLab, DeviceAnsweringTwiceIsListedTwice)
{
    devices(THREE_DEVICES);
    bool ok = false;
    lab->ctl("misbehave 2 dup=1 on=discover", &ok);
    ASSERT_TRUE(ok);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    std::vector<Row> rows = w.rows();
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ("ABCDEFGHIJKL", rows[0][1]);
    EXPECT_EQ(rows[1], rows[2]);
    EXPECT_EQ("SECOND", rows[1][1]);
    ASSERT_EQ(4, storedDeviceCount());
    EXPECT_EQ(0, memcmp(&DeviceTable[1], &DeviceTable[2], sizeof(DeviceRecord)));
}

// A reply cut short after the firmware bytes: what did not arrive reads as
// zero, and a model filling its 16 bytes shows those 16 and nothing after.
TEST_F(ScanLab, ShortReplyIsListedWithoutReadingPastWhatArrived)
{
    ASSERT_TRUE(lab->stopDevices());
    std::vector<uint8_t> reply(MGMT_HEADER_SIZE + 40, 0);
    uint8_t* payload = reply.data() + MGMT_HEADER_SIZE;
    memcpy(payload, "SHORT0000001", 12);
    memcpy(payload + 20, "ABCDEFGHIJKLMNOP", 16);
    payload[36] = 1, payload[37] = 2, payload[38] = 3, payload[39] = 'Z';
    finishMgmtPacket(reply.data(), (int)reply.size(), MGMT_DISCOVER_REPLY, 40);
    StandInDevice device(MGMT_DISCOVER, reply);
    ASSERT_TRUE(device.ready());
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    EXPECT_EQ(1, device.answered());
    ASSERT_EQ(1, w.rowCount());
    EXPECT_EQ((Row{"ABCDEFGHIJKLMNOP", "SHORT0000001", "1.2.03\n", "0.0.0.0", "0"}), w.row(0));
    ASSERT_EQ(1, storedDeviceCount());
    const uint8_t* stored = (const uint8_t*)&DeviceTable[0];
    EXPECT_EQ(0, memcmp(stored, payload, 40));
    for (int i = 40; i < 112; i++)
        ASSERT_EQ(0, stored[i]) << "byte " << i;
}

TEST_F(ScanLab, RowButtonsWithoutASelectionDoNothing)
{
    devices(THREE_DEVICES);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    ASSERT_EQ(3, w.rowCount());
    DialogWatcher watcher;
    for (int id : {IDC_REBOOT_DEVICE, IDC_NETWORK_SETTINGS, IDC_DEVICE_SETTINGS, IDC_BROWSE_DEVICE})
        w.press(id);
    SendMessageA(w.list(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    pumpMessages(200);
    EXPECT_EQ(0u, watcher.boxes.size());
    EXPECT_EQ(0u, Recorders::addresses().size());
    EXPECT_EQ(0, Recorders::networkOpened());
    EXPECT_EQ(0, Recorders::configureOpened());
    for (int id = 1; id <= 3; id++) {
        EXPECT_EQ(0u, lab->log(id, 16).size());
        EXPECT_EQ(0u, lab->log(id, 19).size());
    }
    EXPECT_FALSE(scanInProgress());
}

TEST_F(ScanLab, RebootAsksWithModelAndWholeSerialThenSendsOnlyOnOk)
{
    devices(THREE_DEVICES);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(0);
    {
        DialogWatcher watcher(IDCANCEL);
        w.press(IDC_REBOOT_DEVICE);
        ASSERT_EQ(1u, watcher.boxes.size());
        EXPECT_EQ("WARNING", watcher.boxes[0].caption);
        EXPECT_EQ("warning", watcher.boxes[0].icon);
        EXPECT_EQ("Are you sure to reboot the device 0123456789ABCDEF ABCDEFGHIJKL ?", watcher.boxes[0].text);
        EXPECT_EQ(w.dialog, watcher.boxes[0].owner);
    }
    EXPECT_EQ(0, selectedDevice);
    EXPECT_EQ(0u, lab->log(1, 16).size()) << "cancelled: nothing sent";

    // Confirmed, and the device reports status 0: no message at all.
    DialogWatcher watcher(IDOK);
    w.press(IDC_REBOOT_DEVICE);
    EXPECT_EQ(1u, watcher.boxes.size());
    std::vector<std::string> sent = lab->log(1, 16);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("29", logField(sent[0], "len"));
    EXPECT_EQ("01", logField(sent[0], "payload"));
    EXPECT_EQ("ABCDEFGHIJKL", logField(sent[0], "sn"));
    EXPECT_NE(std::string::npos, sent[0].find("reply=255 status=0"));
    EXPECT_EQ(0u, lab->log(2, 16).size());
    EXPECT_EQ(3, w.rowCount()) << "the list is not refreshed after a reboot";
}

TEST_F(ScanLab, BrowseOpensTheDevicesWebPage)
{
    devices(THREE_DEVICES);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(1);
    w.press(IDC_BROWSE_DEVICE);
    w.select(2);
    w.press(IDC_BROWSE_DEVICE);
    EXPECT_EQ((std::vector<std::string>{"http://10.231.1.2:8080", "http://10.231.1.3:81"}), Recorders::addresses());
    EXPECT_EQ(2, selectedDevice);
}

TEST_F(ScanLab, NetworkSettingsScansAgainOnlyWhenClosedWithOk)
{
    devices(THREE_DEVICES);
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(2);
    Recorders::networkResult() = IDCANCEL;
    w.press(IDC_NETWORK_SETTINGS);
    EXPECT_EQ(1, Recorders::networkOpened());
    EXPECT_EQ(2, selectedDevice);
    pumpMessages(300);
    EXPECT_FALSE(scanInProgress());
    EXPECT_EQ(1u, lab->log(1, 128).size());

    Recorders::networkResult() = IDOK;
    w.press(IDC_NETWORK_SETTINGS);
    EXPECT_EQ(2, Recorders::networkOpened());
    EXPECT_TRUE(scanInProgress());
    ASSERT_TRUE(w.waitScanEnd());
    EXPECT_EQ(2u, lab->log(1, 128).size());
    EXPECT_EQ(3, w.rowCount());
}

TEST_F(ScanLab, DeviceSettingsAndDoubleClickQueryThePortsFirst)
{
    devices("device sn=PORTS0000001 ip=10.231.1.1 ports=3\ndevice sn=PORTS0000002 ip=10.231.1.2 ports=1\n");
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    ASSERT_EQ(2, w.rowCount());
    DialogWatcher watcher;
    w.select(0);
    w.press(IDC_DEVICE_SETTINGS);
    EXPECT_EQ(1, Recorders::configureOpened());
    EXPECT_EQ(3, portConfigCount);
    EXPECT_EQ(4002, PortConfigTable[1].devicePort);
    std::vector<std::string> sent = lab->log(1, 19);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("00", logField(sent[0], "payload"));

    // A double-click on the second row acts on it, as Device Settings does.
    w.select(1);
    RECT cell = {LVIR_BOUNDS, 0, 0, 0};
    SendMessageA(w.list(), LVM_GETITEMRECT, 1, (LPARAM)&cell);
    SendMessageA(w.list(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(cell.left + 10, (cell.top + cell.bottom) / 2));
    EXPECT_EQ(1, selectedDevice);
    EXPECT_EQ(2, Recorders::configureOpened());
    EXPECT_EQ(1, portConfigCount);
    EXPECT_EQ(1u, lab->log(2, 19).size());
    EXPECT_EQ(0u, watcher.boxes.size());
}

TEST_F(ScanLab, RefusedQueryShowsErrorZeroAndOpensNothing)
{
    devices("device sn=REFUSES00001 ip=10.231.1.1 auth=refuse refuse=2\n");
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(0);
    DialogWatcher watcher;
    w.press(IDC_DEVICE_SETTINGS);
    ASSERT_EQ(1u, watcher.boxes.size());
    EXPECT_EQ("Failed to get serial port configurations, error = 0 .", watcher.boxes[0].text);
    EXPECT_EQ("Error", watcher.boxes[0].caption) << "the system's default caption";
    EXPECT_EQ("", watcher.boxes[0].icon);
    EXPECT_EQ(w.dialog, watcher.boxes[0].owner);
    EXPECT_EQ(0, Recorders::configureOpened());
}

TEST_F(ScanLab, AuthenticationRetriesWithTheNewDigestAndCancelEmptiesTheCredentials)
{
    devices("device sn=SECURE000001 ip=10.231.1.1 auth=check user=admin pass=s3cret ports=2\n");
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(0);
    std::vector<std::string> shownSerials;
    int answer = IDOK;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        char text[64] = "";
        GetWindowTextA(d, text, sizeof text);
        if (std::string(text) != "Authentication")
            return;
        GetDlgItemTextA(d, IDC_AUTH_SN, text, sizeof text);
        shownSerials.push_back(text);
        SetDlgItemTextA(d, IDC_AUTH_USER, "admin");
        SetDlgItemTextA(d, IDC_AUTH_PASSWORD, "s3cret");
        PostMessageA(d, WM_COMMAND, answer, 0);
    };
    w.press(IDC_DEVICE_SETTINGS);
    EXPECT_EQ((std::vector<std::string>{"SECURE000001"}), shownSerials);
    EXPECT_EQ(0u, watcher.boxes.size());
    EXPECT_EQ(1, Recorders::configureOpened());
    EXPECT_EQ(2, portConfigCount);
    std::vector<std::string> sent = lab->log(1, 19);
    ASSERT_EQ(2u, sent.size());
    uint8_t digest[16];
    char hex[33];
    auto hexOf = [&](const char* user, const char* password) {
        digestCredentials(user, password, digest);
        for (int i = 0; i < 16; i++)
            snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        return std::string(hex);
    };
    EXPECT_EQ(hexOf("tolmo", "tolmo"), logField(sent[0], "digest"));
    EXPECT_NE(std::string::npos, sent[0].find("reply=255 status=1"));
    EXPECT_EQ(hexOf("admin", "s3cret"), logField(sent[1], "digest"));
    EXPECT_NE(std::string::npos, sent[1].find("reply=147 ports=2"));
    EXPECT_STREQ("admin", deviceUserName);

    // Asked again and cancelled: nothing more is sent, no message, and both
    // credentials are empty for every later request.
    bool ok = false;
    lab->ctl("policy 1 check other pass2", &ok);
    ASSERT_TRUE(ok);
    answer = IDCANCEL;
    w.press(IDC_DEVICE_SETTINGS);
    pumpMessages(300);
    EXPECT_EQ(2u, shownSerials.size());
    EXPECT_EQ(0u, watcher.boxes.size());
    EXPECT_EQ(1, Recorders::configureOpened());
    EXPECT_EQ(3u, lab->log(1, 19).size());
    EXPECT_STREQ("", deviceUserName);
    EXPECT_STREQ("", devicePassword);

    lab->ctl("policy 1 check", &ok);
    answer = IDCANCEL;
    w.press(IDC_DEVICE_SETTINGS);
    sent = lab->log(1, 19);
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ(hexOf("", ""), logField(sent[3], "digest"));
}

TEST_F(ScanLab, ScanAskedForWhileOneRunsReplacesIt)
{
    devices(THREE_DEVICES);
    bool ok = false;
    lab->ctl("misbehave all delay=600 on=discover", &ok);
    ASSERT_TRUE(ok);
    ScanWindow w;
    pumpMessages(200);
    ASSERT_TRUE(scanInProgress());
    startScan(w.dialog);
    startScan(w.dialog);
    ASSERT_TRUE(w.waitScanEnd(15000));
    // One list from one scan: no row twice, rows and slots agree.
    std::vector<Row> rows = w.rows();
    ASSERT_EQ(3u, rows.size());
    ASSERT_EQ(3, storedDeviceCount());
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(rows[(size_t)i][1], serialOf(i));
    EXPECT_GE(lab->log(1, 128).size(), 2u);
}

TEST_F(ScanLab, ClosedWindowIsLeftAloneByItsRunningScan)
{
    devices(THREE_DEVICES);
    bool ok = false;
    lab->ctl("misbehave all delay=500 on=discover", &ok);
    ASSERT_TRUE(ok);
    {
        ScanWindow first;
        pumpMessages(150);
        ASSERT_TRUE(scanInProgress());
        first.close();
        // The scan goes on and still fills the table, with nowhere to list;
        // the replies came 500 ms after the probe, and it ends a second later.
        EXPECT_TRUE(pumpUntil([] { return storedDeviceCount() == 3; }, 10000));
        ASSERT_TRUE(waitNoScan(15000)) << "the scan ends one second after the last reply";
        EXPECT_EQ(3, storedDeviceCount());
    }

    // A window opened while an earlier window's scan runs shows its own scan only.
    ScanWindow a;
    pumpMessages(150);
    a.close();
    ScanWindow b;
    ASSERT_TRUE(b.waitScanEnd(15000));
    ASSERT_EQ(3, b.rowCount());
    EXPECT_EQ("ABCDEFGHIJKL", b.cell(0, 1));
    EXPECT_EQ(3, storedDeviceCount());
}

// The probe goes out once the window has been drawn, not while it is drawn:
// a burst of replies would otherwise compete with it. A window whose thread
// does not come to draw it holds the scan up for half a second at most.
TEST_F(ScanLab, ProbeWaitsForTheWindowToBeDrawnButNotLong)
{
    devices(THREE_DEVICES);
    ScanWindow w;
    // This thread takes no message now (the lab is asked through files).
    Sleep(250);
    EXPECT_EQ(0u, lab->log(1, 128).size()) << "the probe went out before the window was drawn";
    Sleep(1000);
    EXPECT_EQ(1u, lab->log(1, 128).size()) << "the probe waited for a window that was never drawn";
    // Still no message taken until the scan has ended in its thread: every
    // row is listed once the window takes what was posted meanwhile.
    for (DWORD end = GetTickCount() + 10000; scanInProgress() && (LONG)(end - GetTickCount()) > 0;)
        Sleep(20);
    EXPECT_EQ(0, w.rowCount());
    ASSERT_TRUE(w.waitScanEnd());
    EXPECT_EQ(3, w.rowCount());
    EXPECT_EQ("THIRD00003", w.cell(2, 1));
}

TEST_F(ScanLab, MainWindowCommandsOpenTheModalWindow)
{
    devices(THREE_DEVICES);
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                               nullptr);
    ASSERT_NE(nullptr, owner);
    for (int command : {(int)IDM_SCAN_DEVICES, IDM_AUTOMATICALLY_ADD}) {
        seenModal = SeenModal();
        SetTimer(nullptr, 0, 100, findModalScanWindow);
        EXPECT_EQ(1, handleMainCommand(owner, command));
        EXPECT_TRUE(seenModal.found) << "command " << command;
        EXPECT_EQ(owner, seenModal.owner);
        EXPECT_EQ(3, seenModal.rows);
        EXPECT_EQ(nullptr, FindWindowA("#32770", "Scan Online Devices"));
    }
    DestroyWindow(owner);
}
