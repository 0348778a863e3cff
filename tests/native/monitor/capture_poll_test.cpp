// Polling the capture ring into Monitor rows: order, wrap, empty slots, the 1024-row cap.
#include "monitor/monitor_rows.h"

#include <gtest/gtest.h>

#include <deque>
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

// Stands in for the list view: rows of (number, slot).
struct FakeList {
    struct Row { int number; int slot; };
    std::deque<Row> rows;
    int refuseAfter = -1;  // appends accepted before refusing, -1 for never
    int deletedFirst = -1; // number of the first row ever deleted

    static int append(void* context, int row, int number, int slot, int dropOldest)
    {
        FakeList* list = static_cast<FakeList*>(context);
        if (dropOldest) {
            if (list->deletedFirst < 0)
                list->deletedFirst = list->rows.front().number;
            list->rows.pop_front();
        }
        if (list->refuseAfter == 0)
            return 0;
        if (list->refuseAfter > 0)
            list->refuseAfter--;
        EXPECT_EQ((int)list->rows.size(), row) << "row index must be the end of the list";
        list->rows.push_back({number, slot});
        return 1;
    }
};

struct Monitor {
    Host host;
    FakeList list;
    MonitorRows rows;
    Monitor() { monitorRowsClear(&rows); }
    int poll() { return pollCaptureRing(host.entry.get(), &rows, FakeList::append, &list); }
    std::vector<int> slots() const
    {
        std::vector<int> v;
        for (int r = 0; r < rows.count; r++)
            v.push_back(monitorRowSlot(&rows, r));
        return v;
    }
    // The rows model and the list agree row by row.
    void expectInStep() const
    {
        ASSERT_EQ((int)list.rows.size(), rows.count);
        for (int r = 0; r < rows.count; r++)
            ASSERT_EQ(list.rows[r].slot, monitorRowSlot(&rows, r)) << "row " << r;
    }
};

TEST(CapturePoll, TakesPendingRecordsInOrder)
{
    Monitor m;
    m.host.write(0xA0);
    m.host.write(0xA1);
    m.host.write(0xA2);
    EXPECT_EQ(3, m.poll());
    EXPECT_EQ((std::vector<int>{0, 1, 2}), m.slots());
    EXPECT_EQ(3, m.host.entry->captureReadIndex);
    EXPECT_EQ(3, m.rows.shownCount);
    EXPECT_EQ(0, m.poll()) << "an empty ring adds nothing";
    m.expectInStep();
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
    EXPECT_EQ((std::vector<int>{1023, 0, 1}), m.slots());
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
    EXPECT_EQ(2, m.rows.shownCount);
    EXPECT_EQ(703, m.host.entry->captureReadIndex);
    // Each row keeps the slot it shows, whatever lies between.
    EXPECT_EQ((std::vector<int>{700, 702}), m.slots());
    EXPECT_EQ(0, m.list.rows[0].number);
    EXPECT_EQ(1, m.list.rows[1].number);
    // Where the gap-free arithmetic goes wrong, the rows do not.
    EXPECT_EQ(701, rowSlot(m.host.entry->captureReadIndex, m.rows.shownCount, 0));
}

TEST(CapturePoll, RefusedRowStopsTickAndIsTakenNextTime)
{
    Monitor m;
    for (int i = 0; i < 5; i++)
        m.host.write((uint8_t)i);
    m.list.refuseAfter = 2;
    EXPECT_EQ(2, m.poll());
    EXPECT_EQ(2, m.host.entry->captureReadIndex) << "the refused slot stays unread";
    EXPECT_EQ(2, m.rows.shownCount);
    m.list.refuseAfter = -1;
    EXPECT_EQ(3, m.poll());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), m.slots());
    EXPECT_EQ(4, m.list.rows.back().number);
    m.expectInStep();
}

TEST(CapturePoll, KeepsNewest1024Rows)
{
    Monitor m;
    // 1030 records in ticks of 100, the ring wrapping under the host.
    for (int sent = 0; sent < 1030;) {
        for (int i = 0; i < 100 && sent < 1030; i++, sent++)
            m.host.write((uint8_t)sent);
        m.poll();
    }
    EXPECT_EQ(1024, m.rows.count);
    EXPECT_EQ(1030, m.rows.shownCount);
    EXPECT_EQ(0, m.list.deletedFirst) << "row 0 goes first";
    EXPECT_EQ(6, m.list.rows.front().number);
    EXPECT_EQ(1029, m.list.rows.back().number);
    EXPECT_EQ(6, monitorRowSlot(&m.rows, 0));
    EXPECT_EQ(1029 % 1024, monitorRowSlot(&m.rows, 1023));
    m.expectInStep();
}

TEST(CapturePoll, RefusalWhileFullKeepsListAndRowsInStep)
{
    Monitor m;
    for (int i = 0; i < 1000; i++)
        m.host.write(1);
    m.poll();
    for (int i = 0; i < 24; i++)
        m.host.write(1);
    m.poll();
    ASSERT_EQ(1024, m.rows.count);
    m.host.write(2);
    m.list.refuseAfter = 0;
    EXPECT_EQ(0, m.poll());
    EXPECT_EQ(1023, m.rows.count);
    m.expectInStep();
    m.list.refuseAfter = -1;
    EXPECT_EQ(1, m.poll());
    EXPECT_EQ(1024, m.rows.count);
    EXPECT_EQ(1024, m.list.rows.back().number);
    m.expectInStep();
}

TEST(CapturePoll, IndicesOutsideTheRingStayInsideIt)
{
    Monitor m;
    // A read index of 1024 + 1020 is slot 1020; a write index of -1 is slot 1023.
    for (int s = 1020; s < 1023; s++)
        m.host.entry->captureRing[s].recordLength = 1;
    m.host.entry->captureReadIndex = 1024 + 1020;
    m.host.entry->captureWriteIndex = -1;
    EXPECT_EQ(3, m.poll());
    EXPECT_EQ((std::vector<int>{1020, 1021, 1022}), m.slots());
    EXPECT_EQ(1023, m.host.entry->captureReadIndex);

    // An index that only differs by whole turns of the ring means nothing is pending.
    m.host.entry->captureReadIndex = INT32_MIN + 5;  // slot 5
    m.host.entry->captureWriteIndex = 5;
    EXPECT_EQ(0, m.poll());
    EXPECT_EQ(5, m.host.entry->captureReadIndex) << "stored back in range";

    // A full pass at worst, however garbled: every slot non-empty, write one behind read.
    for (int s = 0; s < CAPTURE_RING_SLOTS; s++)
        m.host.entry->captureRing[s].recordLength = 0x7FFFFFFF;
    m.host.entry->captureWriteIndex = 4;
    EXPECT_EQ(1023, m.poll());
}

TEST(MonitorRowsModel, ClearRestartsNumbering)
{
    MonitorRows rows;
    monitorRowsClear(&rows);
    EXPECT_EQ(-1, monitorRowSlot(&rows, 0));
    EXPECT_EQ(0, monitorRowsAppend(&rows, 5));
    EXPECT_EQ(1, monitorRowsAppend(&rows, 1024 + 6));
    EXPECT_EQ(6, monitorRowSlot(&rows, 1));
    EXPECT_EQ(-1, monitorRowSlot(&rows, 2));
    EXPECT_EQ(-1, monitorRowSlot(&rows, -1));
    monitorRowsClear(&rows);
    EXPECT_EQ(0, rows.count);
    EXPECT_EQ(0, rows.shownCount);
    monitorRowsDropOldest(&rows);
    EXPECT_EQ(0, rows.count);
}

TEST(RowSlot, GapFreeArithmetic)
{
    // 10 shown, read index 4 after a wrap.
    EXPECT_EQ(1018, rowSlot(4, 10, 0));
    EXPECT_EQ(3, rowSlot(4, 10, 9));
    EXPECT_EQ(0, rowSlot(10, 10, 0));
    // 1024 or more shown: the oldest row is the slot at the read index.
    EXPECT_EQ(4, rowSlot(4, 1030, 0));
    EXPECT_EQ(3, rowSlot(4, 1030, 1023));
    EXPECT_EQ(5, rowSlot(4, INT32_MAX, 1));
}

}  // namespace
