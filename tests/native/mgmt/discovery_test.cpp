// Taking device records out of discovery replies and gathering them.
#include <gtest/gtest.h>

#include <vector>

#include "mgmt/discovery_reply.h"
#include "mgmt_test_util.h"

static Bytes recordPayload(const char* serial, uint8_t fill)
{
    Bytes p(112, fill);
    Bytes s = serialBytes(serial);
    std::copy(s.begin(), s.end(), p.begin());
    return p;
}

TEST(DiscoveryReply, TakesTheRecordByteForByte)
{
    Bytes payload = recordPayload("SN0000000001", 0x33);
    payload[20] = 'M';
    payload[36] = 3, payload[37] = 1, payload[38] = 7;
    payload[40] = 10, payload[41] = 231, payload[42] = 1, payload[43] = 1;
    payload[84] = 0x50, payload[85] = 0x00;
    Bytes d = datagram(MGMT_DISCOVER_REPLY, payload);
    DeviceRecord rec;
    ASSERT_EQ(1, takeDiscoveryReply(d.data(), (int)d.size(), &rec));
    EXPECT_EQ(0, memcmp(&rec, payload.data(), 112));
    EXPECT_EQ(0, memcmp(rec.serialNumber, "SN0000000001", 12));
    EXPECT_EQ(3, rec.firmwareVersion[0]);
    EXPECT_EQ(7, rec.firmwareVersion[2]);
    const uint8_t* ip = (const uint8_t*)&rec.network.ipAddress;
    EXPECT_EQ(10, ip[0]);
    EXPECT_EQ(1, ip[3]);
    EXPECT_EQ(80, rec.webPort);
}

TEST(DiscoveryReply, IgnoresWrongCodeOrChecksum)
{
    DeviceRecord rec;
    Bytes d = datagram(MGMT_STATUS_REPLY, recordPayload("SN1", 0));
    EXPECT_EQ(0, takeDiscoveryReply(d.data(), (int)d.size(), &rec));
    d = datagram(MGMT_DISCOVER_REPLY, recordPayload("SN1", 0));
    d[100] ^= 1;
    EXPECT_EQ(0, takeDiscoveryReply(d.data(), (int)d.size(), &rec));
    d = datagram(MGMT_DISCOVER, Bytes{0xAA, 0xBB, 0xCC, 0xDD});
    EXPECT_EQ(0, takeDiscoveryReply(d.data(), (int)d.size(), &rec));
    EXPECT_EQ(0, takeDiscoveryReply(d.data(), 7, &rec));
    EXPECT_EQ(0, takeDiscoveryReply(d.data(), 2000, &rec));
}

TEST(DiscoveryReply, ShortPayloadIsZeroFilled)
{
    Bytes payload = recordPayload("SHORT", 0x77);
    payload.resize(40);
    Bytes d = datagram(MGMT_DISCOVER_REPLY, payload);
    DeviceRecord rec;
    memset(&rec, 0xEE, sizeof rec);
    ASSERT_EQ(1, takeDiscoveryReply(d.data(), (int)d.size(), &rec));
    EXPECT_EQ(0, memcmp(&rec, payload.data(), 40));
    const uint8_t* raw = (const uint8_t*)&rec;
    for (int i = 40; i < 112; i++)
        ASSERT_EQ(0, raw[i]) << "byte " << i;

    // length beyond the bytes that arrived cannot be checked: ignored.
    Bytes cut(d.begin(), d.begin() + 30);
    EXPECT_EQ(0, takeDiscoveryReply(cut.data(), (int)cut.size(), &rec));
}

struct Collected {
    std::vector<DeviceRecord> records;
    size_t stopAfter = 1000;
    static int onReply(void* context, const DeviceRecord* record)
    {
        Collected* self = (Collected*)context;
        self->records.push_back(*record);
        return self->records.size() < self->stopAfter;
    }
};

TEST(DiscoveryLoop, ListsValidRepliesInArrivalOrderUntilSilence)
{
    ScriptedReceiver r;
    Bytes bad = datagram(MGMT_DISCOVER_REPLY, recordPayload("BAD", 0));
    bad[9] ^= 1;
    Bytes dup = datagram(MGMT_DISCOVER_REPLY, recordPayload("DUP", 0));
    Bytes tooBig(1500, 0);
    r.queue = {datagram(MGMT_DISCOVER_REPLY, recordPayload("FIRST", 0)), bad, dup, dup,
               datagram(MGMT_STATUS_REPLY, statusPayload("X", 0)), datagram(MGMT_DISCOVER_REPLY, recordPayload("LAST", 0)),
               tooBig, datagram(MGMT_DISCOVER_REPLY, recordPayload("AFTER", 0))};
    Collected c;
    EXPECT_EQ(4, collectDiscoveryReplies(ScriptedReceiver::receive, &r, Collected::onReply, &c));
    ASSERT_EQ(4u, c.records.size());
    EXPECT_EQ(0, memcmp(c.records[0].serialNumber, "FIRST", 5));
    EXPECT_EQ(0, memcmp(c.records[1].serialNumber, "DUP", 3));
    EXPECT_EQ(0, memcmp(c.records[2].serialNumber, "DUP", 3));
    EXPECT_EQ(0, memcmp(c.records[3].serialNumber, "LAST", 4));
}

TEST(DiscoveryLoop, StopsWhenTheListenerSaysSo)
{
    ScriptedReceiver r;
    for (int i = 0; i < 5; i++)
        r.queue.push_back(datagram(MGMT_DISCOVER_REPLY, recordPayload("D", 0)));
    Collected c;
    c.stopAfter = 2;
    EXPECT_EQ(2, collectDiscoveryReplies(ScriptedReceiver::receive, &r, Collected::onReply, &c));
    EXPECT_EQ(2, r.calls);
}
