// The relay's rules: what moves when, in what order, and what is dropped when a side is missing.
#include <gtest/gtest.h>

#include <cstring>

#include "host/relay_logic.h"

namespace {

constexpr int bit(int op) { return 1 << op; }

RelayState upAndOpen(int waitMode = SERIAL_WAIT_READ)
{
    RelayState r = {};
    relaySerialOpened(&r, waitMode);
    r.linkUp = 1;
    return r;
}

// Starts a transfer the relay allows; fails the test if it does not.
void start(RelayState* r, int op)
{
    ASSERT_TRUE(relayNextOps(r) & bit(op)) << "op " << op << " not allowed, ops " << relayNextOps(r);
    relayStarted(r, op);
}

}  // namespace

TEST(Relay, IdlePortWaitsOnBothSides)
{
    RelayState r = upAndOpen();
    EXPECT_EQ(bit(RELAY_READ_SERIAL) | bit(RELAY_RECV_NET), relayNextOps(&r));
    start(&r, RELAY_READ_SERIAL);
    start(&r, RELAY_RECV_NET);
    EXPECT_EQ(0, relayNextOps(&r)) << "one read of each kind at a time";
}

TEST(Relay, TheNextReadIsPostedWhileTheLastChunkIsOnItsWay)
{
    RelayState r = upAndOpen();
    // Serial to network: read, then send and read again at once.
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(100u, relaySerialRead(&r, 100));
    EXPECT_EQ(bit(RELAY_SEND_NET) | bit(RELAY_READ_SERIAL) | bit(RELAY_RECV_NET), relayNextOps(&r));
    int sent = relayWriteSlot(&r.toNet);
    start(&r, RELAY_SEND_NET);
    start(&r, RELAY_READ_SERIAL);
    EXPECT_NE(sent, relayReadSlot(&r.toNet)) << "the read must not land in the chunk being sent";

    // Network to serial: the same.
    start(&r, RELAY_RECV_NET);
    EXPECT_EQ(7u, relayNetReceived(&r, 7));
    start(&r, RELAY_WRITE_SERIAL);
    start(&r, RELAY_RECV_NET);
    EXPECT_NE(relayWriteSlot(&r.toSerial), relayReadSlot(&r.toSerial));
}

TEST(Relay, ChunksLeaveInOrderAndAPartialWriteGoesOnFromItsOffset)
{
    RelayState r = upAndOpen();
    RelayQueue* q = &r.toNet;
    int first = relayReadSlot(q);
    for (uint32_t n : {100u, 200u, 300u}) {
        start(&r, RELAY_READ_SERIAL);
        relaySerialRead(&r, n);
    }
    EXPECT_EQ(600u, relayQueued(q));
    EXPECT_EQ(3, relayFilledSlots(q));
    EXPECT_EQ(first, relayWriteSlot(q)) << "the oldest chunk is written first";

    // A gathering send that took 150 bytes: all of the first chunk, half the second.
    start(&r, RELAY_SEND_NET);
    EXPECT_EQ(450u, relayNetSent(&r, 150));
    EXPECT_EQ((first + 1) % RELAY_SLOTS, relayWriteSlot(q));
    EXPECT_EQ(50u, q->slot[relayWriteSlot(q)].offset);
    EXPECT_EQ(2, relayFilledSlots(q));

    start(&r, RELAY_SEND_NET);
    EXPECT_EQ(0u, relayNetSent(&r, 450));
    EXPECT_EQ(0, relayFilledSlots(q));
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_SEND_NET));
}

TEST(Relay, AFullQueueStopsReadingUntilAChunkIsWritten)
{
    RelayState r = upAndOpen();
    for (int k = 0; k < RELAY_SLOTS; k++) {
        start(&r, RELAY_RECV_NET);
        relayNetReceived(&r, 10);
    }
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_RECV_NET)) << "every slot holds data";
    start(&r, RELAY_WRITE_SERIAL);
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_RECV_NET)) << "the slot being written is still taken";
    EXPECT_EQ(30u, relaySerialWritten(&r, 10));
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_RECV_NET));
    // The freed slot is reused, after the ones still waiting.
    EXPECT_EQ(relayReadSlot(&r.toSerial), (relayWriteSlot(&r.toSerial) + 3) % RELAY_SLOTS);
}

TEST(Relay, NothingIsCarriedWithoutALink)
{
    RelayState r = upAndOpen();
    r.linkUp = 0;
    EXPECT_EQ(bit(RELAY_READ_SERIAL), relayNextOps(&r)) << "the serial side is still drained";
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(0u, relaySerialRead(&r, 50)) << "and what it says is dropped";
    EXPECT_EQ(0u, relayQueued(&r.toNet));

    // The link drops with a send in flight: its chunk stays taken until it reports back.
    r = upAndOpen();
    start(&r, RELAY_READ_SERIAL);
    relaySerialRead(&r, 50);
    start(&r, RELAY_READ_SERIAL);
    relaySerialRead(&r, 60);
    int inFlight = relayWriteSlot(&r.toNet);
    start(&r, RELAY_SEND_NET);
    relayLinkDown(&r);
    EXPECT_EQ(0u, relayQueued(&r.toNet));
    start(&r, RELAY_READ_SERIAL);
    EXPECT_NE(inFlight, relayReadSlot(&r.toNet));
    EXPECT_EQ(0u, relaySerialRead(&r, 5));
    relayAbandoned(&r, RELAY_SEND_NET);
    EXPECT_EQ(0, relayFilledSlots(&r.toNet));

    // A new link carries only what is read after it came up.
    r.linkUp = 1;
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(9u, relaySerialRead(&r, 9));
    EXPECT_EQ(9u, relayQueued(&r.toNet));
}

TEST(Relay, AWriteThatFinishesAfterTheQueueWasEmptiedDiscardsIt)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_RECV_NET);
    relayNetReceived(&r, 30);
    start(&r, RELAY_WRITE_SERIAL);
    relaySerialGone(&r);
    EXPECT_EQ(0u, relayQueued(&r.toSerial));
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_WRITE_SERIAL));
    // The write reports success late: nothing of the old queue comes back.
    EXPECT_EQ(0u, relaySerialWritten(&r, 30));
    EXPECT_EQ(0, relayFilledSlots(&r.toSerial));
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
    start(&r, RELAY_RECV_NET);
    relayNetReceived(&r, 40);
    start(&r, RELAY_WRITE_SERIAL);
    relaySerialGone(&r);
    EXPECT_EQ(0u, relayQueued(&r.toSerial));
    EXPECT_EQ(bit(RELAY_RECV_NET), relayNextOps(&r)) << "the link is still read";
    relayAbandoned(&r, RELAY_WRITE_SERIAL);
    start(&r, RELAY_RECV_NET);
    EXPECT_EQ(0u, relayNetReceived(&r, 10)) << "nothing to write it to";
    EXPECT_EQ(0, relayFilledSlots(&r.toSerial));

    // Unknown kinds change nothing.
    RelayState before = r;
    relayAbandoned(&r, -1);
    relayAbandoned(&r, RELAY_OPS);
    EXPECT_EQ(0, memcmp(&before, &r, sizeof r));

    // A receive in flight while the queue is emptied (its write failed, the
    // side went and came back) lands in the slot it was posted with, and is
    // written from there.
    r = upAndOpen();
    start(&r, RELAY_RECV_NET);
    relayNetReceived(&r, 30);
    start(&r, RELAY_WRITE_SERIAL);
    start(&r, RELAY_RECV_NET);
    int posted = relayReadSlot(&r.toSerial);
    relayAbandoned(&r, RELAY_WRITE_SERIAL);
    relaySerialGone(&r);
    relaySerialOpened(&r, SERIAL_WAIT_READ);
    EXPECT_EQ(posted, relayReadSlot(&r.toSerial)) << "its bytes are in that slot's buffer";
    EXPECT_EQ(20u, relayNetReceived(&r, 20));
    EXPECT_EQ(posted, relayWriteSlot(&r.toSerial));
    EXPECT_EQ(20u, relayQueued(&r.toSerial));
}

TEST(Relay, AForeignDatagramIsDroppedAndTheReceiveGoesOn)
{
    RelayState r = upAndOpen();
    start(&r, RELAY_RECV_NET);
    relayNetDiscarded(&r);
    EXPECT_EQ(0u, relayQueued(&r.toSerial));
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_RECV_NET));
}

TEST(Relay, EventModeReadsWhatIsThereAndWaitsWhenEmpty)
{
    RelayState r = upAndOpen(SERIAL_WAIT_EVENT);
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(12u, relaySerialRead(&r, 12));
    // The port had nothing more: no read, one wait.
    relaySerialEmpty(&r);
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_READ_SERIAL));
    start(&r, RELAY_WAIT_SERIAL);
    EXPECT_FALSE(relayNextOps(&r) & (bit(RELAY_WAIT_SERIAL) | bit(RELAY_READ_SERIAL)));
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_SEND_NET)) << "waiting holds up nothing else";
    relaySerialWaited(&r);
    EXPECT_TRUE(relayNextOps(&r) & bit(RELAY_READ_SERIAL));
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_WAIT_SERIAL));

    // A cancelled wait (handle closed) leaves no wait in flight.
    relaySerialEmpty(&r);
    start(&r, RELAY_WAIT_SERIAL);
    relayAbandoned(&r, RELAY_WAIT_SERIAL);
    EXPECT_EQ(0, r.waiting);

    // A platform that cannot wait on receive events: pending reads from then on.
    start(&r, RELAY_WAIT_SERIAL);
    relaySerialWaitFailed(&r);
    EXPECT_EQ(SERIAL_WAIT_READ, r.serialWait);
    EXPECT_EQ(bit(RELAY_READ_SERIAL) | bit(RELAY_SEND_NET) | bit(RELAY_RECV_NET), relayNextOps(&r));
}

TEST(Relay, APlatformThatAnswersAnEmptyPortAtOnceSwitchesToEvents)
{
    RelayState r = upAndOpen(SERIAL_WAIT_READ);
    EXPECT_FALSE(relayNextOps(&r) & bit(RELAY_WAIT_SERIAL)) << "read mode never waits on events";
    start(&r, RELAY_READ_SERIAL);
    EXPECT_EQ(0u, relaySerialRead(&r, 0));
    EXPECT_EQ(SERIAL_WAIT_EVENT, r.serialWait);
    EXPECT_EQ(bit(RELAY_WAIT_SERIAL) | bit(RELAY_RECV_NET), relayNextOps(&r)) << "no tight loop of empty reads";

    // A new handle starts in the mode it is given.
    relaySerialGone(&r);
    relaySerialOpened(&r, SERIAL_WAIT_READ);
    EXPECT_EQ(SERIAL_WAIT_READ, r.serialWait);
    EXPECT_EQ(bit(RELAY_READ_SERIAL) | bit(RELAY_RECV_NET), relayNextOps(&r));
}
