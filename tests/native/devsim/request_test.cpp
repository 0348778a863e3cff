// A simulated device's answers to manager requests, checked with the manager's own receive code.
#include "devsim_test_util.h"

#include <arpa/inet.h>

#include "devsim/sim_control.h"
#include "mgmt/discovery_reply.h"
#include "mgmt/line_settings.h"
#include "mgmt/mgmt_receive.h"

namespace {

const char* kTwoDevices =
    "device sn=SN0123456789 model=PS-1 fw=3.1.7 ip=127.0.0.2 web=8080 ports=3\n"
    "port 2 mode=udp dport=5002 peer=127.0.0.1 pport=6000\n"
    "device sn=OTHER0000002 ip=127.0.0.3 auth=check user=admin pass=s3cret\n";

struct StatusAnswer {
    int outcome;
    uint32_t status;
};

StatusAnswer statusOf(const SimDevice& d, const Exchange& x)
{
    Replay r(x.sent);
    StatusAnswer a = {0, 0xFFFF};
    a.outcome = receiveStatusReplyFrom(Replay::receive, &r, d.record.serialNumber, &a.status);
    return a;
}

}  // namespace

TEST(DeviceDiscovery, AnswersWithItsRecord)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];
    Exchange x = deviceHears(d, probe());
    ASSERT_EQ(1, x.taken);
    ASSERT_EQ(1u, x.sent.size());
    DeviceRecord got;
    ASSERT_EQ(1, takeDiscoveryReply(x.sent[0].data(), (int)x.sent[0].size(), &got));
    EXPECT_EQ(0, memcmp(&got, &d->record, sizeof got));
    EXPECT_EQ(0, memcmp(got.serialNumber, "SN0123456789", 12));
    EXPECT_EQ(8080, got.webPort);
    EXPECT_EQ(inet_addr("127.0.0.2"), got.network.ipAddress);

    ASSERT_EQ(1, d->logCount);
    EXPECT_EQ(MGMT_DISCOVER, logEntryAt(d, 0)->code);
    EXPECT_EQ(MGMT_DISCOVER_REPLY, logEntryAt(d, 0)->replyCode);
}

TEST(DeviceDiscovery, IgnoresDamagedProbes)
{
    auto w = worldFrom(kTwoDevices);
    Bytes p = probe();
    p[5] ^= 1;
    EXPECT_EQ(0, deviceHears(&w->devices[0], p).taken);
    p = probe();
    p[8] = 0;  // wrong magic, CRC recomputed
    finishMgmtPacket(p.data(), (int)p.size(), MGMT_DISCOVER, 4);
    EXPECT_EQ(0, deviceHears(&w->devices[0], p).taken);
    EXPECT_EQ(0, deviceHears(&w->devices[0], Bytes{0x80, 0x00, 0x04}).taken);
    EXPECT_EQ(0, w->devices[0].logCount);
}

TEST(DeviceAuthentication, PoliciesDecideTheStatus)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* open = &w->devices[0];
    SimDevice* guarded = &w->devices[1];
    Bytes one{1};

    EXPECT_EQ(0u, statusOf(*open, deviceHears(open, request(*open, MGMT_REBOOT, one))).status);

    // Default credentials are not enough for the guarded device...
    StatusAnswer a = statusOf(*guarded, deviceHears(guarded, request(*guarded, MGMT_REBOOT, one)));
    EXPECT_EQ(0, a.outcome);
    EXPECT_EQ(1u, a.status);
    {
        Credentials wrong("admin", "guess");
        EXPECT_EQ(1u, statusOf(*guarded, deviceHears(guarded, request(*guarded, MGMT_REBOOT, one))).status);
    }
    {
        Credentials right("admin", "s3cret");
        EXPECT_EQ(0u, statusOf(*guarded, deviceHears(guarded, request(*guarded, MGMT_REBOOT, one))).status);
    }

    guarded->auth = AUTH_ANY;
    {
        Credentials empty("", "");
        EXPECT_EQ(0u, statusOf(*guarded, deviceHears(guarded, request(*guarded, MGMT_REBOOT, one))).status);
    }
    guarded->auth = AUTH_REFUSE;
    {
        Credentials right("admin", "s3cret");
        Exchange x = deviceHears(guarded, request(*guarded, MGMT_REBOOT, one));
        EXPECT_EQ(2u, statusOf(*guarded, x).status);
        EXPECT_EQ(0, x.effects.reboot);
    }
}

TEST(DeviceAuthentication, OnlyTheAddressedDeviceAnswers)
{
    auto w = worldFrom(kTwoDevices);
    Exchange x = deviceHears(&w->devices[1], request(w->devices[0], MGMT_REBOOT, Bytes{1}));
    EXPECT_EQ(0, x.taken);
    EXPECT_TRUE(x.sent.empty());
    EXPECT_EQ(0, w->devices[1].logCount);
}

TEST(DeviceCommands, CorruptRequestIsLoggedButNotAnswered)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];
    Bytes r = request(*d, MGMT_REBOOT, Bytes{1});
    r[36] = 9;  // payload changed after the CRC was computed
    Exchange x = deviceHears(d, r);
    EXPECT_EQ(1, x.taken);
    EXPECT_TRUE(x.sent.empty());
    EXPECT_EQ(0, x.effects.reboot);
    ASSERT_EQ(1, d->logCount);
    EXPECT_EQ(0, logEntryAt(d, 0)->crcOk);
}

TEST(DeviceCommands, NetworkSettingsTakeEffectAfterReboot)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];
    NetworkConfig n = {};
    n.ipAddress = inet_addr("127.0.0.9");
    n.netmask = inet_addr("255.0.0.0");
    n.addressMode = ADDRESS_DHCP;
    Bytes command((uint8_t*)&n, (uint8_t*)&n + sizeof n);
    Exchange x = deviceHears(d, request(*d, MGMT_SET_NETWORK, command));
    EXPECT_EQ(0u, statusOf(*d, x).status);
    EXPECT_EQ(inet_addr("127.0.0.2"), d->record.network.ipAddress);
    EXPECT_EQ(1, d->networkPending);

    x = deviceHears(d, request(*d, MGMT_REBOOT, Bytes{1}));
    EXPECT_EQ(0u, statusOf(*d, x).status);
    ASSERT_EQ(1, x.effects.reboot);
    d->rebootMs = 500;
    rebootSimDevice(d, 1000);
    EXPECT_EQ(inet_addr("127.0.0.9"), d->record.network.ipAddress);
    EXPECT_EQ(ADDRESS_DHCP, d->record.network.addressMode);
    EXPECT_EQ(0, d->networkPending);

    // Deaf while it reboots, answering again afterwards.
    EXPECT_EQ(0, deviceHears(d, probe(), 1200).taken);
    EXPECT_EQ(1, deviceHears(d, probe(), 1500).taken);
}

TEST(DeviceCommands, SerialPortListRoundTrip)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];
    Exchange x = deviceHears(d, request(*d, MGMT_GET_SERIAL_CONFIG, Bytes{0}));
    ASSERT_EQ(1u, x.sent.size());
    EXPECT_EQ(8u + 12 + 3 * 68, x.sent[0].size());

    Replay r(x.sent);
    SerialPortConfig table[MAX_DEVICE_PORTS];
    int count = -1;
    uint32_t status = 0;
    ASSERT_EQ(0, receiveConfigReplyFrom(Replay::receive, &r, d->record.serialNumber, &status, table,
                                        MAX_DEVICE_PORTS, &count));
    ASSERT_EQ(3, count);
    EXPECT_EQ(WORK_MODE_UDP, table[1].workMode);
    EXPECT_EQ(5002, table[1].devicePort);
    EXPECT_STREQ("127.0.0.1", table[1].peerAddress);
    EXPECT_EQ(0x0581C200u, table[0].lineSettings);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0, memcmp(&table[i], &d->ports[i].config, sizeof(SerialPortConfig))) << "port " << i + 1;
}

TEST(DeviceCommands, SerialPortWriteIsStoredVerbatim)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];
    SerialPortConfig c = d->ports[2].config;
    c.lineSettings = packLineSettings(0xE0000000u, 9600, DEVICE_PARITY_EVEN, DEVICE_DATA_BITS_7, DEVICE_STOP_BITS_2);
    c.workMode = WORK_MODE_UDP;
    c.reserved2[5] = 0x77;
    Exchange x = deviceHears(d, request(*d, MGMT_SET_SERIAL_CONFIG, serialWrite(3, c)));
    EXPECT_EQ(0u, statusOf(*d, x).status);
    EXPECT_EQ(1u << 2, x.effects.portsChanged);
    EXPECT_EQ(0, memcmp(&c, &d->ports[2].config, sizeof c));

    for (int bad : {0, 4, 255}) {
        x = deviceHears(d, request(*d, MGMT_SET_SERIAL_CONFIG, serialWrite(bad, c)));
        EXPECT_EQ(2u, statusOf(*d, x).status) << "port " << bad;
        EXPECT_EQ(0u, x.effects.portsChanged);
    }
    // A request of the wrong size is refused, not half-applied.
    Bytes shortWrite = serialWrite(1, c);
    shortWrite.pop_back();
    x = deviceHears(d, request(*d, MGMT_SET_SERIAL_CONFIG, shortWrite));
    EXPECT_EQ(2u, statusOf(*d, x).status);
}

TEST(DeviceCommands, LogRecordsWhatArrived)
{
    auto w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];
    deviceHears(d, request(*d, MGMT_GET_SERIAL_CONFIG, Bytes{0}), 4242);
    ASSERT_EQ(1, d->logCount);
    char line[1024];
    formatLogEntry(logEntryAt(d, 0), line, sizeof line);
    EXPECT_EQ("seq=1 time=4242 from=127.0.0.1:5000 code=19 len=29 crc=ok sn=SN0123456789 "
              "digest=c677aaaa435000708ba5dd50ccc3affc payload=00 reply=147 ports=3",
              std::string(line));

    // The ring keeps the newest entries.
    for (int i = 0; i < SIM_LOG_ENTRIES + 5; i++)
        deviceHears(d, probe());
    EXPECT_EQ(SIM_LOG_ENTRIES, d->logCount);
    EXPECT_EQ((uint32_t)SIM_LOG_ENTRIES + 6, logEntryAt(d, SIM_LOG_ENTRIES - 1)->sequence);
    EXPECT_EQ(7u, logEntryAt(d, 0)->sequence);
}

class Misbehaving : public ::testing::Test {
protected:
    std::unique_ptr<SimWorld> w = worldFrom(kTwoDevices);
    SimDevice* d = &w->devices[0];

    void misbehave(const char* settings)
    {
        ControlOutput* out = new ControlOutput;
        ControlEffects* fx = new ControlEffects;
        resetControlEffects(fx);
        std::string line = std::string("misbehave 1 ") + settings;
        EXPECT_EQ(1, runControlCommand(w.get(), nullptr, line.c_str(), out, fx)) << out->text;
        delete out;
        delete fx;
    }
    StatusAnswer reboot()
    {
        return statusOf(*d, deviceHears(d, request(*d, MGMT_REBOOT, Bytes{1})));
    }
};

TEST_F(Misbehaving, EachFaultGivesTheManagersOutcome)
{
    misbehave("crc=bad");
    EXPECT_EQ(2, reboot().outcome);
    misbehave("none");
    misbehave("serial=wrong");
    EXPECT_EQ(3, reboot().outcome);
    misbehave("none");
    misbehave("foreign=1");
    EXPECT_EQ(3, reboot().outcome);  // even though the right reply follows
    misbehave("none");
    misbehave("silent=1");
    EXPECT_EQ(1, reboot().outcome);
    misbehave("none");
    misbehave("oversize=1");
    EXPECT_EQ(1, reboot().outcome);  // the oversized datagram fails the receive
    misbehave("none");
    misbehave("junk=5");
    StatusAnswer a = reboot();
    EXPECT_EQ(0, a.outcome);  // junk is skipped
    EXPECT_EQ(0u, a.status);
}

TEST_F(Misbehaving, DuplicatesDelayAndScope)
{
    misbehave("dup=2 delay=300 on=discover");
    Exchange x = deviceHears(d, probe());
    ASSERT_EQ(3u, x.sent.size());
    EXPECT_EQ(x.sent[0], x.sent[2]);
    EXPECT_EQ(300, x.delays[0]);
    x = deviceHears(d, request(*d, MGMT_REBOOT, Bytes{1}));
    ASSERT_EQ(1u, x.sent.size());
    EXPECT_EQ(0, x.delays[0]);
}

TEST_F(Misbehaving, JunkBeforeADiscoveryReplyIsNotListed)
{
    misbehave("junk=4");
    Exchange x = deviceHears(d, probe());
    ASSERT_EQ(5u, x.sent.size());
    int valid = 0;
    for (const Bytes& b : x.sent) {
        DeviceRecord r;
        valid += takeDiscoveryReply(b.data(), (int)b.size(), &r);
    }
    EXPECT_EQ(1, valid);
}

TEST_F(Misbehaving, CountLimitsTheFault)
{
    misbehave("crc=bad count=1");
    EXPECT_EQ(2, reboot().outcome);
    EXPECT_EQ(0, reboot().outcome);
    EXPECT_EQ(0, d->misbehaviour.active);
}

TEST(DeviceCommands, ListOfMorePortsThanADatagramHoldsFailsTheReceive)
{
    auto w = worldFrom("device sn=BIG ports=32\n");
    SimDevice* d = &w->devices[0];
    Exchange x = deviceHears(d, request(*d, MGMT_GET_SERIAL_CONFIG, Bytes{0}));
    ASSERT_EQ(1u, x.sent.size());
    EXPECT_EQ(8u + 12 + 32 * 68, x.sent[0].size());
    Replay r(x.sent);
    SerialPortConfig table[MAX_DEVICE_PORTS];
    int count = -1;
    uint32_t status = 0;
    EXPECT_EQ(1, receiveConfigReplyFrom(Replay::receive, &r, d->record.serialNumber, &status, table,
                                        MAX_DEVICE_PORTS, &count));
}
