// The host's side of the table contract: take-up, stop, restart, delete, capture.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_logic.h"
#include "tests/native/ports/table_fixture.h"

namespace {

struct FakePorts {
    std::vector<std::string> calls;
    bool openFails = false;
    HostPortOps ops() { return {this, open, close, start, stop}; }
    static FakePorts* self(void* c) { return static_cast<FakePorts*>(c); }
    static int open(void* c, int i)
    {
        self(c)->calls.push_back("open " + std::to_string(i));
        return !self(c)->openFails;
    }
    static void close(void* c, int i) { self(c)->calls.push_back("close " + std::to_string(i)); }
    static void start(void* c, int i) { self(c)->calls.push_back("start " + std::to_string(i)); }
    static void stop(void* c, int i) { self(c)->calls.push_back("stop " + std::to_string(i)); }
};

struct HostFixture : ::testing::Test {
    TablePtr table = newTable();
    HostPortState state[PORT_TABLE_ENTRIES] = {};
    FakePorts ports;
    HostPortOps ops = ports.ops();
    PortEntry* e(int i) { return &table->entries[i]; }
    void pass(int i) { serviceHostEntry(table.get(), i, &state[i], &ops); }
    void write(int i, const char* state = "enable")
    {
        writePortEntry(table.get(), i, "\\\\.\\NULL_COM5", "192.0.2.7", "502", state, "tcpc", "6001");
    }
};

}  // namespace

TEST_F(HostFixture, TakesUpWrittenEntriesOnly)
{
    pass(0);
    EXPECT_EQ(0u, e(0)->present) << "an unused entry is left alone";

    write(0);
    e(0)->rxBytes = 77;
    pass(0);
    EXPECT_EQ(1u, e(0)->present);
    EXPECT_EQ(0, e(0)->rxBytes) << "a new port starts with clean counters";
    EXPECT_EQ((std::vector<std::string>{"open 0", "start 0"}), ports.calls);
    pass(0);
    EXPECT_EQ(2u, ports.calls.size()) << "a running port is not restarted";

    write(1, "disable");
    pass(1);
    EXPECT_EQ(1u, e(1)->present);
    EXPECT_EQ(LINK_STOPPED, e(1)->linkState);
    EXPECT_EQ(PORT_STOP, e(1)->command) << "2 stays in place";

    // A finished delete (command 0, inUse still 1) is not taken up again.
    e(2)->inUse = 1;
    e(2)->command = 0;
    pass(2);
    EXPECT_EQ(0u, e(2)->present);

    // A port whose far end cannot be opened waits for the next pass.
    ports.openFails = true;
    write(3);
    pass(3);
    EXPECT_EQ(0u, e(3)->present);
    ports.openFails = false;
    pass(3);
    EXPECT_EQ(1u, e(3)->present);
}

TEST_F(HostFixture, StopStartRestart)
{
    write(0);
    pass(0);
    ports.calls.clear();

    e(0)->command = PORT_STOP;
    pass(0);
    EXPECT_EQ(LINK_STOPPED, e(0)->linkState);
    EXPECT_EQ(PORT_STOP, e(0)->command);
    pass(0);
    EXPECT_EQ((std::vector<std::string>{"stop 0"}), ports.calls);

    e(0)->command = PORT_START;
    pass(0);
    EXPECT_EQ("start 0", ports.calls.back());

    // Each restart request is carried out once and consumed.
    ports.calls.clear();
    restartPort(table.get(), 0);
    pass(0);
    pass(0);
    EXPECT_EQ((std::vector<std::string>{"stop 0", "start 0"}), ports.calls);
    EXPECT_NE(PORT_RESTART, e(0)->command);
    EXPECT_NE(PORT_STOP, e(0)->command) << "still enabled for the configuration file";

    // Restart All on a stopped port starts it.
    e(0)->command = PORT_STOP;
    pass(0);
    restartPort(table.get(), -1);
    ports.calls.clear();
    pass(0);
    EXPECT_EQ((std::vector<std::string>{"start 0"}), ports.calls);

    // A retarget of a stopped port keeps it stopped.
    e(0)->command = PORT_STOP;
    pass(0);
    retargetPortEntry(table.get(), 0, "9", "1", "udp", "10.0.0.9");
    ports.calls.clear();
    pass(0);
    EXPECT_TRUE(ports.calls.empty());
    EXPECT_EQ(LINK_STOPPED, e(0)->linkState);
}

TEST_F(HostFixture, DeleteClearsPresentThenWritesZero)
{
    write(4);
    pass(4);
    e(4)->comOpen = 1;
    e(4)->linkState = LINK_CONNECTED;
    e(4)->command = PORT_DELETE;
    pass(4);
    EXPECT_EQ(0u, e(4)->present);
    EXPECT_EQ(0, e(4)->command);
    EXPECT_EQ(0u, e(4)->linkState);
    EXPECT_EQ(0, e(4)->comOpen);
    EXPECT_EQ("close 4", ports.calls.back());

    // The manager gives the slot up; it is free and a new port can use it.
    e(4)->inUse = 0;
    EXPECT_EQ(0, findFreeEntry(table.get()));
    pass(4);
    EXPECT_EQ(0u, e(4)->present);
    writePortEntry(table.get(), 4, "\\\\.\\NULL_COM8", "h", "1", "enable", "udp", "2");
    pass(4);
    EXPECT_EQ(1u, e(4)->present);
}

TEST(HostCapture, StartStopClearAndRecords)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    uint8_t data[1200];
    for (size_t i = 0; i < sizeof data; i++)
        data[i] = (uint8_t)i;

    captureTraffic(e, 1, data, 10, 100);
    EXPECT_EQ(0, e->captureWriteIndex) << "nothing is captured before a start";

    e->captureWriteIndex = 500;
    e->captureReadIndex = 400;
    e->captureCommand = CAPTURE_START;
    serviceCaptureCommand(e, 1000, 10000000);
    EXPECT_EQ(1, e->captureActive);
    EXPECT_EQ(1000, e->captureStartTime);
    EXPECT_EQ(10000000, e->captureTickRate);
    EXPECT_EQ(0, e->captureWriteIndex) << "a start after a stop resets the ring";
    EXPECT_EQ(0, e->captureReadIndex);
    EXPECT_EQ(0, e->captureCommand) << "the request is consumed";

    // A chunk over 512 bytes becomes several records, each with its direction and time.
    captureTraffic(e, 1, data, 1200, 2000);
    captureTraffic(e, 0, data, 3, 3000);
    ASSERT_EQ(4, e->captureWriteIndex);
    EXPECT_EQ(512u, e->captureRing[0].recordLength);
    EXPECT_EQ(512u, e->captureRing[1].recordLength);
    EXPECT_EQ(176u, e->captureRing[2].recordLength);
    EXPECT_EQ(0, memcmp(e->captureRing[1].recordData, data + 512, 512));
    EXPECT_EQ(1u, e->captureRing[2].recordDirection);
    EXPECT_EQ(0u, e->captureRing[3].recordDirection);
    EXPECT_EQ(3000, e->captureRing[3].recordTime);

    // A start while active keeps the ring.
    e->captureCommand = CAPTURE_START;
    serviceCaptureCommand(e, 5000, 10000000);
    EXPECT_EQ(4, e->captureWriteIndex);

    e->captureCommand = CAPTURE_CLEAR;
    serviceCaptureCommand(e, 6000, 10000000);
    EXPECT_EQ(0, e->captureWriteIndex);
    EXPECT_EQ(0, e->captureReadIndex);
    EXPECT_EQ(0u, e->captureRing[0].recordLength);
    EXPECT_EQ(1, e->captureActive);

    e->captureCommand = CAPTURE_STOP;
    serviceCaptureCommand(e, 7000, 10000000);
    EXPECT_EQ(0, e->captureActive);
    captureTraffic(e, 1, data, 5, 8000);
    EXPECT_EQ(0, e->captureWriteIndex);

    // The ring wraps after 1023; a foreign index is brought back into the ring.
    e->captureCommand = CAPTURE_START;
    serviceCaptureCommand(e, 9000, 10);
    e->captureReadIndex = 7;
    e->captureWriteIndex = 1023;
    captureTraffic(e, 0, data, 2, 9001);
    EXPECT_EQ(0, e->captureWriteIndex);
    e->captureWriteIndex = 5000;
    captureTraffic(e, 0, data, 2, 9002);
    EXPECT_EQ((5000 % 1024) + 1, e->captureWriteIndex);
}

// The Monitor reads behind the host: a full ring keeps the unread records
// and drops (and counts) the new ones, so a lap never makes it look empty.
TEST(HostCapture, FullRingDropsTheNewRecordInsteadOfLapping)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    e->captureCommand = CAPTURE_START;
    serviceCaptureCommand(e, 0, 1000);
    uint8_t byte = 0;
    for (int n = 0; n < CAPTURE_RING_SLOTS - 1; n++, byte++)
        captureTraffic(e, 1, &byte, 1, n);
    ASSERT_EQ(CAPTURE_RING_SLOTS - 1, e->captureWriteIndex);
    EXPECT_EQ(0u, e->captureDropped);

    // 1023 unread records fill the ring; the next ones are dropped.
    e->captureRing[CAPTURE_RING_SLOTS - 1].recordLength = 0;
    byte = 0xEE;
    captureTraffic(e, 0, &byte, 1, 5000);
    captureTraffic(e, 0, &byte, 1, 5001);
    EXPECT_EQ(CAPTURE_RING_SLOTS - 1, e->captureWriteIndex) << "no lap onto the read slot";
    EXPECT_EQ(2u, e->captureDropped);
    EXPECT_EQ(0u, e->captureRing[CAPTURE_RING_SLOTS - 1].recordLength);
    EXPECT_EQ(0, e->captureRing[0].recordData[0]) << "the oldest unread record is kept";

    // A chunk split into records loses only what does not fit.
    e->captureReadIndex = 2;
    std::vector<uint8_t> big(3 * CAPTURE_DATA_BYTES, 0x33);
    captureTraffic(e, 1, big.data(), big.size(), 6000);
    EXPECT_EQ(1, e->captureWriteIndex);
    EXPECT_EQ(3u, e->captureDropped);
    EXPECT_EQ((uint32_t)CAPTURE_DATA_BYTES, e->captureRing[0].recordLength);

    // Clear empties the ring and its count.
    e->captureCommand = CAPTURE_CLEAR;
    serviceCaptureCommand(e, 7000, 1000);
    EXPECT_EQ(0u, e->captureDropped);
}

// A host that starts on a table an earlier host left (the manager kept it):
// the ports carry on with their counters and the Monitor's capture, a
// deletion the earlier host did not finish is finished, and only a new
// entry starts from clean counters.
TEST_F(HostFixture, TakesOverATableAnEarlierHostLeft)
{
    write(0);
    pass(0);
    e(0)->rxBytes = 1000;
    e(0)->txBytes = 2000;
    e(0)->captureActive = 1;
    e(0)->captureWriteIndex = 17;
    e(0)->comOpen = 1;
    e(0)->linkState = LINK_CONNECTED;
    write(1, "disable");
    pass(1);
    write(2);
    pass(2);
    e(2)->command = PORT_DELETE;   // the host died before it saw this
    write(3);                      // written while no host ran
    e(3)->rxBytes = 55;

    // The next host.
    HostPortState next[PORT_TABLE_ENTRIES] = {};
    EXPECT_EQ(2, adoptLiveEntries(table.get(), next)) << "the two ports that carry on";
    ports.calls.clear();
    for (int i = 0; i < 4; i++)
        serviceHostEntry(table.get(), i, &next[i], &ops);
    EXPECT_EQ(1, next[0].held);
    EXPECT_EQ(1000, e(0)->rxBytes) << "counting goes on";
    EXPECT_EQ(2000, e(0)->txBytes);
    EXPECT_EQ(1, e(0)->captureActive) << "the open Monitor keeps receiving";
    EXPECT_EQ(17, e(0)->captureWriteIndex);
    EXPECT_EQ(LINK_STOPPED, e(1)->linkState) << "a stopped port stays stopped";
    EXPECT_EQ(0u, e(2)->present) << "the unfinished deletion is finished";
    EXPECT_EQ(0, e(2)->command);
    EXPECT_EQ(0, next[2].held);
    EXPECT_EQ(0, e(3)->rxBytes) << "a new port starts clean";
    EXPECT_EQ((std::vector<std::string>{"open 0", "start 0", "open 1", "open 3", "start 3"}), ports.calls);

    // Stopping, the host leaves the ports listed for the next one, shown
    // down and closed, with their counters.
    releaseHostEntry(e(0));
    releaseHostEntry(e(1));
    EXPECT_EQ(1u, e(0)->present);
    EXPECT_EQ(LINK_DISCONNECTED, e(0)->linkState);
    EXPECT_EQ(0, e(0)->comOpen);
    EXPECT_EQ(1000, e(0)->rxBytes);
    EXPECT_EQ(LINK_STOPPED, e(1)->linkState);
}

TEST(HostCapture, AnUnknownRequestIsConsumedAndHandedBack)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    e->captureCommand = 9;
    EXPECT_EQ(9, serviceCaptureCommand(e, 0, 1000));
    EXPECT_EQ(0, e->captureCommand);
    EXPECT_EQ(0, e->captureActive);
    e->captureCommand = CAPTURE_START;
    EXPECT_EQ(0, serviceCaptureCommand(e, 0, 1000));
}
