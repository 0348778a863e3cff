// The relay's rules: what moves when, and what is dropped when a side is missing.
#include <gtest/gtest.h>

#include "host/relay_logic.h"

namespace {

constexpr int bit(int op) { return 1 << op; }

RelayState upAndOpen()
{
    RelayState r = {};
    r.serialOpen = 1;
    r.linkUp = 1;
    return r;
}

void start(RelayState* r, int op) { r->busy[op] = 1; }

}  // namespace

TEST(Relay, IdlePortWaitsOnBothSides)
{
    RelayState r = upAndOpen();
    EXPECT_EQ(bit(RELAY_READ_SERIAL) | bit(RELAY_RECV_NET), relayNextOps(&r));
    start(&r, RELAY_READ_SERIAL);
    start(&r, RELAY_RECV_NET);
    EXPECT_EQ(0, relayNextOps(&r)) << "one transfer of each kind at a time";
}

TEST(Relay, SerialBytesAreSentBeforeTheNextRead)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(100u, relaySerialRead(&r, 100));
    EXPECT_EQ(bit(RELAY_SEND_NET) | bit(RELAY_RECV_NET), relayNextOps(&r));
    start(&r, RELAY_SEND_NET);
    EXPECT_EQ(40u, relayNetSent(&r, 60)) << "a partial send leaves the rest";
    EXPECT_EQ(bit(RELAY_SEND_NET) | bit(RELAY_RECV_NET), relayNextOps(&r));
    start(&r, RELAY_SEND_NET);
    EXPECT_EQ(0u, relayNetSent(&r, 40));
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_READ_SERIAL));
}

TEST(Relay, ReceivedBytesAreWrittenBeforeTheNextReceive)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_RECV_NET);
    EXPECT_EQ(7u, relayNetReceived(&r, 7));
    EXPECT_EQ(bit(RELAY_WRITE_SERIAL) | bit(RELAY_READ_SERIAL), relayNextOps(&r));
    start(&r, RELAY_WRITE_SERIAL);
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_RECV_NET));
    EXPECT_EQ(0u, relaySerialWritten(&r, 7));
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_RECV_NET));
}

TEST(Relay, NothingIsCarriedWithoutALink)
{
    RelayState r = upAndOpen();
    r.linkUp = 0;
    EXPECT_EQ(bit(RELAY_READ_SERIAL), relayNextOps(&r)) << "the serial side is still drained";
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(0u, relaySerialRead(&r, 50)) << "and what it says is dropped";
    EXPECT_EQ(bit(RELAY_READ_SERIAL), relayNextOps(&r));

    // The link drops with a send in flight: its buffer stays untouched until it completes.
    r = upAndOpen();
    start(&r, RELAY_READ_SERIAL);
    relaySerialRead(&r, 50);
    start(&r, RELAY_SEND_NET);
    relayLinkDown(&r);
    EXPECT_EQ(0u, r.toNet);
    EXPECT_EQ(0, relayNextOps(&r));
    relayAbandoned(&r, RELAY_SEND_NET);
    EXPECT_EQ(bit(RELAY_READ_SERIAL), relayNextOps(&r));
}

TEST(Relay, ReceivedBytesStillReachAnOpenSerialSideAfterTheLinkDrops)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_RECV_NET);
    relayNetReceived(&r, 30);
    relayLinkDown(&r);
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_WRITE_SERIAL));
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_RECV_NET));
}

TEST(Relay, LostSerialSideDropsWhatWasForIt)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_RECV_NET);
    relayNetReceived(&r, 30);
    start(&r, RELAY_WRITE_SERIAL);
    relaySerialGone(&r);
    EXPECT_EQ(0u, r.toSerial);
    EXPECT_EQ(0, relayNextOps(&r)) << "the write in flight still owns the buffer";
    relayAbandoned(&r, RELAY_WRITE_SERIAL);
    EXPECT_EQ(bit(RELAY_RECV_NET), relayNextOps(&r));
    start(&r, RELAY_RECV_NET);
    EXPECT_EQ(0u, relayNetReceived(&r, 10)) << "nothing to write it to";

    relayAbandoned(&r, -1);
    relayAbandoned(&r, RELAY_OPS);
}

TEST(Relay, EmptySerialReadsFallBackOnceThenWaitForThePass)
{
    RelayState r = {};
    relaySerialOpened(&r);
    r.linkUp = 1;
    EXPECT_EQ(SERIAL_READ_AVAILABLE, r.serialReadMode);

    // A platform that answers an empty port at once: switch, and read again now.
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(1, relayEmptySerialRead(&r));
    EXPECT_EQ(SERIAL_READ_INTERVAL, r.serialReadMode);
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_READ_SERIAL)) << "the empty read no longer counts as in flight";

    // Empty again in the waiting mode: no second switch, and no tight loop.
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(0, relayEmptySerialRead(&r));
    EXPECT_EQ(SERIAL_READ_INTERVAL, r.serialReadMode);
    EXPECT_EQ(0, relayEmptySerialRead(&r));

    // Data still flows in the waiting mode.
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(12u, relaySerialRead(&r, 12));
}

TEST(Relay, AReopenedSerialSideStartsAfresh)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_READ_SERIAL);
    relayEmptySerialRead(&r);
    start(&r, RELAY_RECV_NET);
    relayNetReceived(&r, 30);
    relaySerialGone(&r);
    EXPECT_EQ(0u, r.toSerial);

    relaySerialOpened(&r);
    EXPECT_EQ(1, r.serialOpen);
    EXPECT_EQ(SERIAL_READ_AVAILABLE, r.serialReadMode) << "a new handle may behave differently";
    EXPECT_EQ(bit(RELAY_READ_SERIAL) | bit(RELAY_RECV_NET), relayNextOps(&r));
}
