// Polling the capture ring into Monitor rows: order, wrap, empty slots, the 1024-row cap.
#include "monitor/monitor_rows.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Stands in for the host: writes records at captureWriteIndex.
struct Host {
    std::unique_ptr<PortEntry> entry{new PortEntry()};
    Host() { entry->captureActive = 1; }
    void write(uint8_t firstByte, uint32_t length = 1)
    {
        CaptureRecord& r = entry->captureRing[entry->captureWriteIndex];
        r.recordLength = length;
        r.recordData[0] = firstByte;
        entry->captureWriteIndex = (entry->captureWriteIndex + 1) % CAPTURE_RING_SLOTS;
    }
    void skipEmpty()
    {
        entry->captureRing[entry->captureWriteIndex].recordLength = 0;
        entry->captureWriteIndex = (entry->captureWriteIndex + 1) % CAPTURE_RING_SLOTS;
    }
    void startAt(int slot) { entry->captureWriteIndex = entry->captureReadIndex = slot; }
};

struct Monitor {
    Host host;
    std::unique_ptr<MonitorRows> rows{new MonitorRows()};
    Monitor() { monitorRowsClear(rows.get()); }
    int poll() { return pollCaptureRing(host.entry.get(), rows.get()); }
    // The first data byte of each row's record, and each row's "#".
    std::vector<int> firstBytes() const
    {
        std::vector<int> v;
        for (int r = 0; r < rows->count; r++)
            v.push_back(monitorRow(rows.get(), r)->record.recordData[0]);
        return v;
    }
    std::vector<int> numbers() const
    {
        std::vector<int> v;
        for (int r = 0; r < rows->count; r++)
            v.push_back(monitorRow(rows.get(), r)->number);
        return v;
    }
};

TEST(CapturePoll, TakesPendingRecordsInOrder)
{
    Monitor m;
    m.host.write(0xA0);
    m.host.write(0xA1);
    m.host.write(0xA2);
    EXPECT_EQ(3, m.poll());
    EXPECT_EQ((std::vector<int>{0xA0, 0xA1, 0xA2}), m.firstBytes());
    EXPECT_EQ((std::vector<int>{0, 1, 2}), m.numbers());
    EXPECT_EQ(3, m.host.entry->captureReadIndex);
    EXPECT_EQ(3, m.rows->shownCount);
    EXPECT_EQ(0, m.poll()) << "an empty ring adds nothing";
}

TEST(CapturePoll, NothingIsReadWhileCaptureIsInactive)
{
    Monitor m;
    m.host.write(0xA0);
    m.host.entry->captureActive = 0;
    EXPECT_EQ(0, m.poll());
    EXPECT_EQ(0, m.host.entry->captureReadIndex);
    m.host.entry->captureActive = 1;
    EXPECT_EQ(1, m.poll());
}

TEST(CapturePoll, WrapsPastTheRingEnd)
{
    Monitor m;
    m.host.startAt(1023);
    m.host.write(1);
    m.host.write(2);
    m.host.write(3);
    ASSERT_EQ(2, m.host.entry->captureWriteIndex);
    EXPECT_EQ(3, m.poll());
    EXPECT_EQ((std::vector<int>{1, 2, 3}), m.firstBytes());
    EXPECT_EQ(2, m.host.entry->captureReadIndex);
}

TEST(CapturePoll, EmptySlotMakesNoRowAndShiftsNothing)
{
    Monitor m;
    m.host.startAt(700);
    m.host.write(0x10);
    m.host.skipEmpty();
    m.host.write(0x12);
    EXPECT_EQ(2, m.poll());
    EXPECT_EQ(2, m.rows->shownCount);
    EXPECT_EQ(703, m.host.entry->captureReadIndex);
    EXPECT_EQ((std::vector<int>{0x10, 0x12}), m.firstBytes());
    EXPECT_EQ((std::vector<int>{0, 1}), m.numbers());
}

// The host reuses a slot as soon as the Monitor has read past it: each row
// keeps the record it was made from.
TEST(CapturePoll, KeepsNewest1024RowsEachWithItsOwnRecord)
{
    Monitor m;
    // 1030 records in ticks of 100, the ring wrapping under the host.
    for (int sent = 0; sent < 1030;) {
        for (int i = 0; i < 100 && sent < 1030; i++, sent++)
            m.host.write((uint8_t)sent);
        m.poll();
    }
    EXPECT_EQ(1024, m.rows->count);
    EXPECT_EQ(1030, m.rows->shownCount);
    EXPECT_EQ(6, m.rows->dropped) << "rows 0 to 5 went, oldest first";
    std::vector<int> numbers = m.numbers(), bytes = m.firstBytes();
    for (int r = 0; r < 1024; r++) {
        ASSERT_EQ(r + 6, numbers[r]) << "row " << r;
        ASSERT_EQ((r + 6) & 0xFF, bytes[r]) << "row " << r;
    }
    // Slot 6 holds row 0's record until the host writes there again.
    m.host.write(0xEE);
    m.host.entry->captureRing[6].recordData[0] = 0xEE;
    EXPECT_EQ(6, monitorRow(m.rows.get(), 0)->record.recordData[0]);
}

TEST(CapturePoll, IndicesOutsideTheRingStayInsideIt)
{
    Monitor m;
    // A read index of 1024 + 1020 is slot 1020; a write index of -1 is slot 1023.
    for (int s = 1020; s < 1023; s++) {
        m.host.entry->captureRing[s].recordLength = 1;
        m.host.entry->captureRing[s].recordData[0] = (uint8_t)s;
    }
    m.host.entry->captureReadIndex = 1024 + 1020;
    m.host.entry->captureWriteIndex = -1;
    EXPECT_EQ(3, m.poll());
    EXPECT_EQ((std::vector<int>{1020 & 0xFF, 1021 & 0xFF, 1022 & 0xFF}), m.firstBytes());
    EXPECT_EQ(1023, m.host.entry->captureReadIndex);

    // An index that only differs by whole turns of the ring means nothing is pending.
    m.host.entry->captureReadIndex = INT32_MIN + 5;  // slot 5
    m.host.entry->captureWriteIndex = 5;
    EXPECT_EQ(0, m.poll());
    EXPECT_EQ(5, m.host.entry->captureReadIndex) << "stored back in range";

    // A full pass at worst, however garbled: every slot non-empty, write one
    // behind read; a length beyond the record is cut to it.
    for (int s = 0; s < CAPTURE_RING_SLOTS; s++)
        m.host.entry->captureRing[s].recordLength = 0x7FFFFFFF;
    m.host.entry->captureWriteIndex = 4;
    EXPECT_EQ(1023, m.poll());
    EXPECT_EQ((uint32_t)CAPTURE_DATA_BYTES, monitorRow(m.rows.get(), 1023)->record.recordLength);
}

TEST(MonitorRowsModel, ClearRestartsNumbering)
{
    std::unique_ptr<MonitorRows> rows(new MonitorRows());
    monitorRowsClear(rows.get());
    EXPECT_EQ(nullptr, monitorRow(rows.get(), 0));
    CaptureRecord record = {};
    record.recordLength = 1;
    EXPECT_EQ(0, monitorRowsAppend(rows.get(), &record));
    EXPECT_EQ(1, monitorRowsAppend(rows.get(), &record));
    EXPECT_EQ(1, monitorRow(rows.get(), 1)->number);
    EXPECT_EQ(nullptr, monitorRow(rows.get(), 2));
    EXPECT_EQ(nullptr, monitorRow(rows.get(), -1));
    monitorRowsClear(rows.get());
    EXPECT_EQ(0, rows->count);
    EXPECT_EQ(0, rows->shownCount);
    EXPECT_EQ(0, monitorRowsAppend(rows.get(), &record));
    EXPECT_EQ(0, monitorRow(rows.get(), 0)->number);
}

}  // namespace
