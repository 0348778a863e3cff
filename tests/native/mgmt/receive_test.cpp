// Picking the target's reply out of what arrives: skip rules and outcomes 0-4.
#include <gtest/gtest.h>

#include "mgmt/device_records.h"
#include "mgmt/mgmt_receive.h"
#include "mgmt_test_util.h"

static const uint8_t* target()
{
    static Bytes s = serialBytes("TARGET000001");
    return s.data();
}

static int statusOutcome(ScriptedReceiver& r, uint32_t* status)
{
    *status = 0xDEAD;
    return receiveStatusReplyFrom(ScriptedReceiver::receive, &r, target(), status);
}

struct ConfigResult {
    int outcome;
    uint32_t status;
    int count;
    SerialPortConfig configs[MAX_DEVICE_PORTS];
};

static ConfigResult configOutcome(ScriptedReceiver& r)
{
    ConfigResult c = {};
    c.count = -1;
    c.outcome = receiveConfigReplyFrom(ScriptedReceiver::receive, &r, target(), &c.status, c.configs,
                                       MAX_DEVICE_PORTS, &c.count);
    return c;
}

TEST(StatusReply, TakesTheTargetsStatus)
{
    ScriptedReceiver r;
    r.queue = {datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 7))};
    uint32_t status;
    EXPECT_EQ(0, statusOutcome(r, &status));
    EXPECT_EQ(7u, status);
}

TEST(StatusReply, SkipsOtherCodesWithAFreshWaitEach)
{
    Bytes code511 = datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0));
    code511[1] = 0x01;  // FF 01: code 511
    ScriptedReceiver r;
    r.queue = {code511,
               datagram(MGMT_DISCOVER_REPLY, Bytes(112, 0x41)),
               datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("TARGET000001", 1)),
               Bytes{0x01},
               Bytes{},
               datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 1))};
    uint32_t status;
    EXPECT_EQ(0, statusOutcome(r, &status));
    EXPECT_EQ(1u, status);
    EXPECT_EQ(6, r.calls);
}

TEST(StatusReply, NothingUsableIsOutcome1)
{
    ScriptedReceiver r;
    uint32_t status;
    EXPECT_EQ(1, statusOutcome(r, &status));  // time-out straight away

    r = ScriptedReceiver();
    r.queue = {datagram(MGMT_DISCOVER_REPLY, Bytes(112, 0))};
    EXPECT_EQ(1, statusOutcome(r, &status));  // skipped, then time-out

    r = ScriptedReceiver();
    Bytes oversized = datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0));
    oversized.resize(1100);
    r.queue = {oversized, datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0))};
    EXPECT_EQ(1, statusOutcome(r, &status));  // a failed receive ends the wait
    EXPECT_EQ(1, r.calls);
}

TEST(StatusReply, FirstAcceptedDatagramDecides)
{
    uint32_t status;
    ScriptedReceiver r;
    Bytes bad = datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0));
    bad[4] ^= 1;
    r.queue = {bad, datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0))};
    EXPECT_EQ(2, statusOutcome(r, &status));
    EXPECT_EQ(1, r.calls);

    r = ScriptedReceiver();
    r.queue = {datagram(MGMT_STATUS_REPLY, statusPayload("OTHER0000002", 0)),
               datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0))};
    EXPECT_EQ(3, statusOutcome(r, &status));
    EXPECT_EQ(1, r.calls);

    // Serial numbers compare byte for byte, all 12 of them.
    r = ScriptedReceiver();
    r.queue = {datagram(MGMT_STATUS_REPLY, statusPayload("TARGET00000", 0))};
    EXPECT_EQ(3, statusOutcome(r, &status));
}

TEST(StatusReply, NeverReadsPastWhatArrived)
{
    uint32_t status;
    Bytes full = datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0));

    // length says 16 but the datagram was cut after the serial number.
    ScriptedReceiver r;
    r.queue = {Bytes(full.begin(), full.begin() + 20)};
    EXPECT_EQ(2, statusOutcome(r, &status));

    // Only the code arrived.
    r = ScriptedReceiver();
    r.queue = {Bytes{0xFF, 0x00}};
    EXPECT_EQ(2, statusOutcome(r, &status));

    // A consistent but short status reply carries no status: not success.
    r = ScriptedReceiver();
    r.queue = {datagram(MGMT_STATUS_REPLY, serialBytes("TARGET000001"))};
    EXPECT_EQ(2, statusOutcome(r, &status));
    EXPECT_EQ(0xDEADu, status);
}

TEST(StatusReply, TrailingBytesBeyondLengthAreIgnored)
{
    Bytes d = datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0));
    d.push_back(0x99);
    ScriptedReceiver r;
    r.queue = {d};
    uint32_t status;
    EXPECT_EQ(0, statusOutcome(r, &status));
    EXPECT_EQ(0u, status);
}

TEST(StatusReply, FloodOfUnrelatedDatagramsIsBounded)
{
    ScriptedReceiver r;
    for (int i = 0; i < MGMT_MAX_SKIPPED + 5; i++)
        r.queue.push_back(datagram(MGMT_DISCOVER, Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
    r.queue.push_back(datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 0)));
    uint32_t status;
    EXPECT_EQ(1, statusOutcome(r, &status));
    EXPECT_EQ(MGMT_MAX_SKIPPED + 1, r.calls);
}

TEST(ConfigReply, ListLengths)
{
    struct Case {
        int payloadLength;
        int outcome;
        int count;
    } cases[] = {{12, 0, 0}, {80, 0, 1}, {12 + 3 * 68, 0, 3}, {12 + 14 * 68, 0, 14}, {81, 4, -1}, {11, 4, -1},
                 {0, 4, -1}, {79, 4, -1}};
    for (const Case& c : cases) {
        Bytes payload = listPayload("TARGET000001", 14);
        payload.resize((size_t)c.payloadLength);
        ScriptedReceiver r;
        r.queue = {datagram(MGMT_SERIAL_CONFIG_REPLY, payload)};
        ConfigResult res = configOutcome(r);
        EXPECT_EQ(c.outcome, res.outcome) << "length " << c.payloadLength;
        EXPECT_EQ(c.count, res.count) << "length " << c.payloadLength;
        EXPECT_EQ(0u, res.status);
    }
}

TEST(ConfigReply, RecordsArriveInOrder)
{
    ScriptedReceiver r;
    r.queue = {datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("TARGET000001", 3))};
    ConfigResult res = configOutcome(r);
    ASSERT_EQ(0, res.outcome);
    ASSERT_EQ(3, res.count);
    Bytes expected = listPayload("TARGET000001", 3);
    EXPECT_EQ(0, memcmp(res.configs, expected.data() + 12, 3 * 68));
}

TEST(ConfigReply, StatusRepliesAreAcceptedToo)
{
    ScriptedReceiver r;
    r.queue = {datagram(MGMT_DISCOVER_REPLY, Bytes(112, 0)),
               datagram(MGMT_STATUS_REPLY, statusPayload("TARGET000001", 2))};
    ConfigResult res = configOutcome(r);
    EXPECT_EQ(0, res.outcome);
    EXPECT_EQ(2u, res.status);
    EXPECT_EQ(-1, res.count);  // no list was handed over
}

TEST(ConfigReply, CorruptOrForeignListsEndTheExchange)
{
    Bytes bad = datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("TARGET000001", 1));
    bad[50] ^= 0x80;
    ScriptedReceiver r;
    r.queue = {bad};
    EXPECT_EQ(2, configOutcome(r).outcome);

    r = ScriptedReceiver();
    r.queue = {datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("OTHER0000002", 1)),
               datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("TARGET000001", 1))};
    EXPECT_EQ(3, configOutcome(r).outcome);

    // A foreign list that is also malformed is reported as foreign.
    r = ScriptedReceiver();
    Bytes odd = listPayload("OTHER0000002", 1);
    odd.push_back(0);
    r.queue = {datagram(MGMT_SERIAL_CONFIG_REPLY, odd)};
    EXPECT_EQ(3, configOutcome(r).outcome);

    // length larger than what arrived.
    r = ScriptedReceiver();
    Bytes cut = datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("TARGET000001", 2));
    cut.resize(cut.size() - 68);
    r.queue = {cut};
    EXPECT_EQ(2, configOutcome(r).outcome);
}

TEST(ConfigReply, NeverStoresBeyondTheTable)
{
    // Fits a 1024-byte datagram, but not a caller's table of 4 slots.
    Bytes d = datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("TARGET000001", 5));
    SerialPortConfig slots[6];
    memset(slots, 0x5A, sizeof slots);
    uint32_t status = 0;
    int count = -1;
    EXPECT_EQ(4, classifyConfigReply(d.data(), (int)d.size(), target(), &status, slots, 4, &count));
    EXPECT_EQ(-1, count);
    EXPECT_EQ(0x5A, ((uint8_t*)slots)[0]);

    // Received counts beyond a receive buffer are a failed receive.
    EXPECT_EQ(1, classifyConfigReply(d.data(), 1025, target(), &status, slots, 4, &count));
    EXPECT_EQ(1, classifyStatusReply(d.data(), -1, target(), &status));
}
