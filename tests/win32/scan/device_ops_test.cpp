// The device operations over real exchanges in the lab: every receive
// outcome, datagrams to skip, and each operation's message.
#include "tests/win32/scan/scan_test_util.h"

#include "mgmt/device_ops_win.h"
#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"
#include "tests/win32/scan/stand_in_device.h"

namespace {

// Devices found by a scan of a window that is then closed: the operations
// need only the table.
class DeviceOpsLab : public LabTest {
protected:
    HWND owner = nullptr;
    void SetUp() override
    {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                              nullptr);
    }
    void TearDown() override
    {
        if (owner)
            DestroyWindow(owner);
        LabTest::TearDown();
    }
    void scan(int expected)
    {
        ScanWindow w;
        ASSERT_TRUE(w.waitScanEnd());
        ASSERT_EQ(expected, w.rowCount());
    }
    void misbehave(const std::string& how)
    {
        bool ok = false;
        std::string out = lab->ctl("misbehave " + how, &ok);
        ASSERT_TRUE(ok) << out;
    }
    // The message a configuration query of device 0 shows, "" for none.
    std::string queryMessage(int* result)
    {
        DialogWatcher watcher;
        EXPECT_EQ(1, selectDevice(0));
        *result = getSerialPortConfigs(owner, 0, 0);
        EXPECT_LE(watcher.boxes.size(), 1u);
        if (watcher.boxes.empty())
            return "";
        EXPECT_EQ("", watcher.boxes[0].icon);
        EXPECT_EQ(owner, watcher.boxes[0].owner);
        return watcher.boxes[0].text;
    }
};

const char* QUERY_FAILED = "Failed to get serial port configurations, error = %d .";

std::string queryFailed(int outcome)
{
    char text[96];
    snprintf(text, sizeof text, QUERY_FAILED, outcome);
    return text;
}

}  // namespace

TEST_F(DeviceOpsLab, ConfigurationQueryShowsEachReceiveOutcome)
{
    devices("device sn=OUTCOME00001 ip=10.231.1.1 ports=3\ndevice sn=OUTCOME00002 ip=10.231.1.2\n");
    scan(2);
    int result = -1;

    // 0: the list arrives.
    EXPECT_EQ("", queryMessage(&result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(3, portConfigCount);

    // 1: no answer within a second.
    misbehave("1 silent=1 on=command count=1");
    EXPECT_EQ(queryFailed(1), queryMessage(&result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, portConfigCount);

    // 2: the answer's checksum is wrong.
    misbehave("1 crc=bad on=command count=1");
    EXPECT_EQ(queryFailed(2), queryMessage(&result));

    // 3: another device's answer comes first, even with ours behind it.
    misbehave("1 foreign=1 on=command count=1");
    EXPECT_EQ(queryFailed(3), queryMessage(&result));

    // 4: a list that is no whole number of records. The device keeps quiet
    // and a stand-in in the PC's namespace answers in its name.
    misbehave("1 silent=1 on=command count=1");
    std::vector<uint8_t> shortList(MGMT_HEADER_SIZE + 13, 0x55);
    memcpy(shortList.data() + MGMT_HEADER_SIZE, DeviceTable[0].serialNumber, 12);
    finishMgmtPacket(shortList.data(), (int)shortList.size(), MGMT_SERIAL_CONFIG_REPLY, 13);
    StandInDevice responder(MGMT_GET_SERIAL_CONFIG, shortList);
    ASSERT_TRUE(responder.ready());
    EXPECT_EQ(queryFailed(4), queryMessage(&result));
    EXPECT_EQ(1, responder.answered());
    EXPECT_EQ(0, result);

    // A refusal by status is reported with the outcome 0.
    bool ok = false;
    lab->ctl("policy 1 refuse 7", &ok);
    EXPECT_EQ(queryFailed(0), queryMessage(&result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, portConfigCount);
}

TEST_F(DeviceOpsLab, UnrelatedDatagramsAreSkippedWhileWaitingForAStatus)
{
    devices("device sn=SKIPPING0001 ip=10.231.1.1\n");
    scan(1);
    // A code-511 look-alike of a status "done" and a discovery reply arrive first.
    misbehave("1 junk=2 on=command count=1");
    DialogWatcher watcher;
    ASSERT_EQ(1, selectDevice(0));
    rebootDevice(owner, 0);
    EXPECT_EQ(0u, watcher.boxes.size());
    std::vector<std::string> sent = lab->log(1, 16);
    ASSERT_EQ(1u, sent.size());
    EXPECT_NE(std::string::npos, sent[0].find("reply=255 status=0"));

    // A status from another device first ends the exchange.
    misbehave("1 foreign=1 on=command count=1");
    rebootDevice(owner, 0);
    ASSERT_EQ(1u, watcher.boxes.size());
    EXPECT_EQ("Failed to reboot the device!", watcher.boxes[0].text);
    EXPECT_EQ("", watcher.boxes[0].icon);

    // A datagram too long for the buffer is a failed receive, never a short "done".
    misbehave("1 oversize=1 on=command count=1");
    rebootDevice(owner, 0);
    ASSERT_EQ(2u, watcher.boxes.size());
    EXPECT_EQ("Failed to reboot the device!", watcher.boxes[1].text);
}

TEST_F(DeviceOpsLab, NetworkAndPortWritesCarryTheirRecords)
{
    devices("device sn=WRITES000001 ip=10.231.1.1 ports=2\n");
    scan(1);
    DialogWatcher watcher;
    ASSERT_EQ(1, selectDevice(0));

    NetworkConfig network;
    memset(&network, 0xEE, sizeof network);
    network.ipAddress = inet_addr("10.231.1.77");
    network.netmask = inet_addr("255.255.0.0");
    network.gateway = inet_addr("10.231.0.1");
    network.primaryDns = inet_addr("10.231.0.2");
    network.secondaryDns = inet_addr("10.231.0.3");
    network.addressMode = 1;
    setDeviceNetwork(owner, 0, &network);
    EXPECT_EQ(0u, watcher.boxes.size());
    std::vector<std::string> sent = lab->log(1, 18);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("56", logField(sent[0], "len"));
    // Addresses in network order, the mode, then seven zero bytes.
    EXPECT_EQ("0ae7014dffff00000ae700010ae700020ae7000301" "00000000000000", logField(sent[0], "payload"));

    ASSERT_TRUE(getSerialPortConfigs(owner, 0, 0));
    // Without a socket a new query leaves the ports read last as they were.
    ASSERT_EQ(0, WSACleanup());
    EXPECT_EQ(0, getSerialPortConfigs(owner, 0, 0));
    WSADATA sockets;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &sockets));
    EXPECT_EQ(2, portConfigCount);
    EXPECT_EQ(4002, PortConfigTable[1].devicePort);
    SerialPortConfig port = PortConfigTable[1];
    port.lineSettings = 0x0581C200;
    selectedPort = 1;
    EXPECT_EQ(1, setSerialPortConfig(owner, &port));
    sent = lab->log(1, 20);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("97", logField(sent[0], "len"));
    EXPECT_EQ("0200c28105", logField(sent[0], "payload").substr(0, 10)) << "port 2, then 115200 8N1";

    // Port 33 does not exist: the device answers status 2.
    selectedPort = 32;
    EXPECT_EQ(0, setSerialPortConfig(owner, &port));
    selectedPort = 2;
    EXPECT_EQ(0, setSerialPortConfig(owner, &port));
    ASSERT_EQ(1u, watcher.boxes.size());
    EXPECT_EQ("Failed to configure serial port!", watcher.boxes[0].text);

    // The device refuses the network write.
    bool ok = false;
    lab->ctl("policy 1 refuse", &ok);
    setDeviceNetwork(owner, 0, &network);
    ASSERT_EQ(2u, watcher.boxes.size());
    EXPECT_EQ("Failed to configure the network of the device!", watcher.boxes[1].text);
    EXPECT_EQ("Error", watcher.boxes[1].caption);
}

TEST_F(DeviceOpsLab, DeviceIndexWithoutARecordSendsNothing)
{
    devices("device sn=ONLYONE00001 ip=10.231.1.1\n");
    scan(1);
    DialogWatcher watcher;
    rebootDevice(owner, 1);
    rebootDevice(owner, -1);
    rebootDevice(owner, MAX_DEVICES);
    EXPECT_EQ(0, getSerialPortConfigs(owner, 1, 0));
    EXPECT_EQ(0, selectDevice(5));
    selectedPort = 0;
    SerialPortConfig port = {};
    EXPECT_EQ(0, setSerialPortConfig(owner, &port));
    ASSERT_EQ(1, selectDevice(0));
    selectedPort = -1;
    EXPECT_EQ(0, setSerialPortConfig(owner, &port));
    EXPECT_EQ(0u, watcher.boxes.size());
    EXPECT_EQ(1u, lab->log(1).size()) << "only the probe reached the device";
}
