// Network Configurations against a simulated device: what it shows, the
// settings it sends, the reboot question after OK, and the rescan that finds
// the device where the new settings put it.
#include "tests/win32/devcfg/devcfg_test_util.h"

namespace {

const int addressIds[5] = {IDC_NET_IP, IDC_NET_MASK, IDC_NET_GATEWAY, IDC_NET_DNS1, IDC_NET_DNS2};

std::string device(const char* mode)
{
    return std::string("device sn=NETCFG000001 ip=10.231.1.5 mask=255.255.0.0 gw=10.231.0.254 dns1=10.231.0.53 "
                       "dns2=10.231.0.54 rebootms=0 addrmode=") +
           mode + "\n";
}

std::vector<std::string> addressTexts(HWND d)
{
    std::vector<std::string> texts;
    for (int id : addressIds) {
        char text[64] = "";
        GetDlgItemTextA(d, id, text, sizeof text);
        texts.push_back(text);
    }
    return texts;
}

// The NetworkConfig that the dialog should send for these texts and mode.
std::vector<uint8_t> expectedConfig(const std::vector<std::string>& texts, uint8_t mode)
{
    NetworkConfig c = {};
    uint32_t* fields[5] = {&c.ipAddress, &c.netmask, &c.gateway, &c.primaryDns, &c.secondaryDns};
    for (int i = 0; i < 5; i++)
        *fields[i] = inet_addr(texts[(size_t)i].c_str());
    c.addressMode = mode;
    return bytesOf(c);
}

void expectRebootPrompt(const SeenBox& box, HWND owner, const std::vector<int>& buttons)
{
    EXPECT_EQ(REBOOT_ADVICE, box.text);
    EXPECT_EQ("WARNING", box.caption);
    EXPECT_EQ("warning", box.icon);
    EXPECT_EQ(owner, box.owner);
    EXPECT_EQ((std::vector<int>{IDOK, IDCANCEL}), buttons);
}

class NetworkConfigLab : public DevcfgLab {};

}  // namespace

TEST_F(NetworkConfigLab, UnknownModeOpensWithoutSelectionAndOkSendsDhcpWithTheAddressesShown)
{
    devices(device("0"));
    scan(1);
    clearLogs();
    ASSERT_EQ(1, selectDevice(0));
    std::vector<std::string> shown, items;
    std::string mode;
    HWND dialog = nullptr;
    BoxButtons buttons;
    DialogWatcher watcher(IDCANCEL);
    watcher.onDialog = [&](HWND d) {
        dialog = d;
        shown = addressTexts(d);
        items = comboItems(d, IDC_NET_MODE);
        mode = comboSelection(d, IDC_NET_MODE);
        PostMessageA(d, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, openNetworkConfigDialog(owner)) << "OK even when the reboot is declined";
    EXPECT_EQ((std::vector<std::string>{"10.231.1.5", "255.255.0.0", "10.231.0.254", "10.231.0.53", "10.231.0.54"}),
              shown);
    EXPECT_EQ((std::vector<std::string>{"STATIC IP", "DHCP"}), items);
    EXPECT_EQ("<none>", mode);

    std::vector<std::string> sent18 = sent(1, MGMT_SET_NETWORK);
    ASSERT_EQ(1u, sent18.size());
    EXPECT_EQ(hexOf(expectedConfig(shown, ADDRESS_DHCP)), hexOf(logPayload(sent18[0])));
    ASSERT_EQ(1u, watcher.boxes.size());
    expectRebootPrompt(watcher.boxes[0], dialog, buttons.seen.at(0));
    EXPECT_EQ(0u, sent(1, MGMT_REBOOT).size()) << "declined: no reboot";
}

// Through the scan window: OK with "STATIC IP" sends exactly what the
// controls hold, Cancel on the question sends no reboot, and the window
// scans again all the same.
TEST_F(NetworkConfigLab, StaticOkSendsTheControlsAndDeclinedRebootStillRescans)
{
    devices(device("dhcp"));
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    ASSERT_EQ(1, w.rowCount());
    clearLogs();
    w.select(0);
    std::vector<std::string> typed;
    std::string mode;
    bool editable = true;
    HWND dialog = nullptr;
    BoxButtons buttons;
    DialogWatcher watcher(IDCANCEL);
    watcher.onDialog = [&](HWND d) {
        dialog = d;
        mode = comboSelection(d, IDC_NET_MODE);
        for (int id : addressIds)
            editable = editable && IsWindowEnabled(GetDlgItem(d, id));
        const char* next[5] = {"10.231.1.6", "255.255.255.0", "10.231.1.254", "10.231.0.8", "0.0.0.0"};
        for (int i = 0; i < 5; i++)
            setAddressControl(d, addressIds[i], next[i]);
        SendDlgItemMessageA(d, IDC_NET_MODE, CB_SETCURSEL, 0, 0);
        typed = addressTexts(d);
        later(300, [this, d] {
            EXPECT_NE("", lab->screenshot("network-configurations"));
            PostMessageA(d, WM_COMMAND, IDOK, 0);
        });
    };
    w.press(IDC_NETWORK_SETTINGS);
    EXPECT_EQ("DHCP", mode);
    EXPECT_TRUE(editable) << "the addresses stay editable in DHCP mode";
    EXPECT_EQ((std::vector<std::string>{"10.231.1.6", "255.255.255.0", "10.231.1.254", "10.231.0.8", "0.0.0.0"}),
              typed);
    std::vector<std::string> sent18 = sent(1, MGMT_SET_NETWORK);
    ASSERT_EQ(1u, sent18.size());
    EXPECT_EQ(hexOf(expectedConfig(typed, ADDRESS_STATIC)), hexOf(logPayload(sent18[0])));
    EXPECT_NE(std::string::npos, sent18[0].find("reply=255 status=0"));
    ASSERT_EQ(1u, watcher.boxes.size());
    expectRebootPrompt(watcher.boxes[0], dialog, buttons.seen.at(0));

    // The window scans again at once; no reboot, so the device still answers
    // from where it was, its new settings pending.
    ASSERT_TRUE(w.waitScanEnd());
    EXPECT_EQ(0u, sent(1, MGMT_REBOOT).size());
    EXPECT_EQ(1u, sent(1, MGMT_DISCOVER).size());
    ASSERT_EQ(1, w.rowCount());
    EXPECT_EQ("10.231.1.5", w.cell(0, DEVICE_COLUMN_IP));
    EXPECT_NE(std::string::npos, lab->ctl("show 1").find("pending"));
}

TEST_F(NetworkConfigLab, FailedWriteShowsItsMessageAndThenStillAsks)
{
    devices("device sn=NETCFG000001 ip=10.231.1.5 auth=refuse refuse=2\n");
    scan(1);
    ASSERT_EQ(1, selectDevice(0));
    HWND dialog = nullptr;
    DialogWatcher watcher(IDOK);
    watcher.onDialog = [&](HWND d) {
        dialog = d;
        PostMessageA(d, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, openNetworkConfigDialog(owner));
    // The refused write, the question (answered OK), the refused reboot.
    ASSERT_EQ(3u, watcher.boxes.size());
    EXPECT_EQ("Failed to configure the network of the device!", watcher.boxes[0].text);
    EXPECT_EQ("Error", watcher.boxes[0].caption) << "the system's default caption";
    EXPECT_EQ("", watcher.boxes[0].icon);
    EXPECT_EQ(dialog, watcher.boxes[0].owner);
    EXPECT_EQ(REBOOT_ADVICE, watcher.boxes[1].text);
    EXPECT_EQ("Failed to reboot the device!", watcher.boxes[2].text);
    EXPECT_EQ(1u, sent(1, MGMT_SET_NETWORK).size());
    EXPECT_EQ(1u, sent(1, MGMT_REBOOT).size());
}

TEST_F(NetworkConfigLab, CancelSendsNothing)
{
    devices(device("static"));
    scan(1);
    clearLogs();
    ASSERT_EQ(1, selectDevice(0));
    std::string mode;
    DialogWatcher watcher(IDOK);
    watcher.onDialog = [&](HWND d) {
        mode = comboSelection(d, IDC_NET_MODE);
        setAddressControl(d, IDC_NET_IP, "10.231.1.99");
        PostMessageA(d, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(IDCANCEL, openNetworkConfigDialog(owner));
    EXPECT_EQ("STATIC IP", mode);
    EXPECT_EQ(0u, watcher.boxes.size());
    EXPECT_EQ(0u, sent(1, MGMT_SET_NETWORK).size());
    EXPECT_EQ(0u, sent(1, MGMT_REBOOT).size());
}

// The whole road: new address, OK, reboot, and the scan that follows lists
// the device at its new address.
TEST_F(NetworkConfigLab, RebootedDeviceAnswersTheRescanAtItsNewAddress)
{
    devices(device("static"));
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    w.select(0);
    DialogWatcher watcher(IDOK);
    watcher.onDialog = [&](HWND d) {
        setAddressControl(d, IDC_NET_IP, "10.231.1.77");
        PostMessageA(d, WM_COMMAND, IDOK, 0);
    };
    w.press(IDC_NETWORK_SETTINGS);
    ASSERT_TRUE(w.waitScanEnd());
    ASSERT_EQ(1u, watcher.boxes.size());
    std::vector<std::string> reboot = sent(1, MGMT_REBOOT);
    ASSERT_EQ(1u, reboot.size());
    EXPECT_EQ("01", logField(reboot[0], "payload"));
    ASSERT_EQ(1, w.rowCount());
    EXPECT_EQ("10.231.1.77", w.cell(0, DEVICE_COLUMN_IP));
    EXPECT_EQ(inet_addr("10.231.1.77"), DeviceTable[0].network.ipAddress);
    EXPECT_EQ(ADDRESS_STATIC, DeviceTable[0].network.addressMode);
}
