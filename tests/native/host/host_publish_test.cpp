// What the host publishes per port: counters with capture, pair state, the device it may open.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "host/host_logic.h"
#include "tests/native/ports/table_fixture.h"

TEST(HostTraffic, CountsEachDirectionAndCapturesWhileActive)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    uint8_t data[700];
    for (size_t i = 0; i < sizeof data; i++)
        data[i] = (uint8_t)(i * 7);
    HostCounts own = {};

    recordTraffic(e, &own, 1, data, 10, 100);
    recordTraffic(e, &own, 0, data, 3, 101);
    recordTraffic(e, &own, 0, data, 0, 102);
    EXPECT_EQ(10, e->rxBytes);
    EXPECT_EQ(3, e->txBytes);
    EXPECT_EQ(0, e->captureWriteIndex) << "no capture before a start";

    e->captureCommand = CAPTURE_START;
    serviceCaptureCommand(e, 200, 1000);
    recordTraffic(e, &own, 1, data, 700, 300);
    recordTraffic(e, &own, 0, data + 5, 4, 400);
    ASSERT_EQ(3, e->captureWriteIndex);
    EXPECT_EQ(512u, e->captureRing[0].recordLength);
    EXPECT_EQ(188u, e->captureRing[1].recordLength);
    EXPECT_EQ(0, memcmp(e->captureRing[1].recordData, data + 512, 188));
    EXPECT_EQ(1u, e->captureRing[1].recordDirection);
    EXPECT_EQ(0u, e->captureRing[2].recordDirection);
    EXPECT_EQ(0, memcmp(e->captureRing[2].recordData, data + 5, 4));
    EXPECT_EQ(400, e->captureRing[2].recordTime);
    EXPECT_EQ(710, e->rxBytes);
    EXPECT_EQ(7, e->txBytes);

    // The manager zeroes the counters; counting goes on from there.
    e->rxBytes = 0;
    recordTraffic(e, &own, 1, data, 2, 500);
    EXPECT_EQ(2, e->rxBytes);
}

// The manager clears with two 32-bit stores, low half first, at any moment.
static void clearHalf(int64_t* counter, int half)
{
    reinterpret_cast<volatile int32_t*>(counter)[half] = 0;
}

TEST(HostTraffic, AClearDuringCountingIsNeverLostNorLeavesAHalf)
{
    // Counting lands between the two halves of a clear, in either order.
    for (int first = 0; first < 2; first++) {
        int64_t counter = 0, own = 0;
        countBytes(&counter, &own, 0x1FFFFFF00LL);   // high half 1, low half near its top
        clearHalf(&counter, first);
        countBytes(&counter, &own, 0x200);
        clearHalf(&counter, 1 - first);
        EXPECT_LT(counter, 0x100000000LL) << "no stray high half, first half cleared " << first;
        EXPECT_LE(counter, 0x200) << "nothing from before the clear survives";
        countBytes(&counter, &own, 5);
        EXPECT_LE(counter, 0x205);
        EXPECT_GE(counter, 5);
    }

    // A count taken over from a table anyone may write, at the top of its
    // range: it starts again rather than overflow.
    {
        int64_t counter = INT64_MAX - 3, own = INT64_MAX - 3;
        countBytes(&counter, &own, 3);
        EXPECT_EQ(INT64_MAX, counter);
        countBytes(&counter, &own, 687);
        EXPECT_EQ(687, counter);
        EXPECT_EQ(687, own);
    }

    // Streaming on one thread, Clear pressed over and over on another: after
    // every clear the counter holds no more than was counted since it began.
    int64_t counter = 0, own = 0;
    std::atomic<int> clearing{1};
    std::atomic<int64_t> counted{0};
    std::thread host([&] {
        while (clearing.load()) {
            countBytes(&counter, &own, 4096);
            counted.fetch_add(4096);
        }
    });
    int64_t worst = 0;
    for (int k = 0; k < 20000; k++) {
        int64_t before = counted.load();
        clearHalf(&counter, 0);
        clearHalf(&counter, 1);
        // Whatever the host counted meanwhile, at most since `before`, plus one add in flight.
        int64_t seen = __atomic_load_n(&counter, __ATOMIC_RELAXED);
        int64_t after = counted.load();
        int64_t bound = after - before + 2 * 4096;
        if (seen > bound)
            worst = seen - bound > worst ? seen - bound : worst;
    }
    clearing.store(0);
    host.join();
    EXPECT_EQ(0, worst) << "a clear was overwritten by a count from before it";
}

TEST(HostPairInfo, PublishedOnlyWhenTheDaemonKnowsThePair)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    VspdPairInfo info = {};
    info.size = sizeof info;
    info.exists = 1;
    info.daemon = 1;
    info.open = 1;
    info.baudRate = 9600;
    info.dataBits = 8;
    info.parity = 2;
    info.stopBits = 2;
    publishPairInfo(e, &info);
    EXPECT_EQ(1, e->comOpen);
    EXPECT_EQ(9600u, e->comBaudRate);
    EXPECT_EQ(8, e->comDataBits);
    EXPECT_EQ(2, e->comParity);
    EXPECT_EQ(2, e->comStopBits);

    info.open = 0;
    publishPairInfo(e, &info);
    EXPECT_EQ(0, e->comOpen);

    // No daemon (record only), an unknown pair, codes out of range, nothing at all.
    VspdPairInfo cases[4] = {info, info, info, info};
    cases[0].daemon = 0;
    cases[1].exists = 0;
    cases[2].parity = 5;
    cases[3].dataBits = 9;
    for (const VspdPairInfo& c : cases) {
        info.open = 1;
        publishPairInfo(e, &info);
        publishPairInfo(e, &c);
        EXPECT_EQ(0, e->comOpen);
        EXPECT_EQ(0u, e->comBaudRate);
        EXPECT_EQ(0, e->comParity);
    }
    publishPairInfo(e, &info);
    publishPairInfo(e, nullptr);
    EXPECT_EQ(0, e->comOpen);
}

TEST(HostPortName, OnlyTheFarEndOfAPairIsOpened)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    struct Case {
        const char* name;
        int number;
    } cases[] = {
        {"\\\\.\\NULL_COM5", 5},       {"\\\\.\\NULL_COM256", 256}, {"\\\\.\\NULL_COM40", 40},
        {"\\\\.\\NULL_COM257", 0},     {"\\\\.\\NULL_COM05", 0},    {"\\\\.\\NULL_COM0", 0},
        {"\\\\.\\NULL_COM", 0},        {"\\\\.\\NULL_COM5x", 0},    {"\\\\.\\NULL_com5", 0},
        {"\\\\.\\PhysicalDrive0", 0}, {"C:\\Windows\\win.ini", 0}, {"\\\\.\\NULL_COM1234", 0},
    };
    for (const Case& c : cases) {
        memset(e->portName, 0, sizeof e->portName);
        strcpy(e->portName, c.name);
        EXPECT_EQ(c.number, hostPortNumber(e)) << c.name;
    }
    memset(e->portName, '7', sizeof e->portName);
    memcpy(e->portName, "\\\\.\\NULL_COM", 12);
    EXPECT_EQ(0, hostPortNumber(e)) << "an unterminated name is read within its field";
}
