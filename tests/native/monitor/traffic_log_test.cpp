// The traffic log file: entries of the shown rows, numbered from 0, exact bytes.
#include "monitor/traffic_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "monitor/record_text.h"

namespace {

struct LogFile {
    std::string path;
    LogFile()
    {
        char name[] = "/tmp/parlo_logXXXXXX";
        int fd = mkstemp(name);
        close(fd);
        unlink(name);
        path = name;
    }
    ~LogFile() { unlink(path.c_str()); }
    bool exists() const { return access(path.c_str(), F_OK) == 0; }
    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

struct Ring {
    std::unique_ptr<PortEntry> entry{new PortEntry()};
    std::unique_ptr<MonitorRows> shown{new MonitorRows()};
    MonitorRows& rows = *shown;
    Ring()
    {
        monitorRowsClear(&rows);
        entry->captureTickRate = 1;
    }
    // A one-byte record in slot, shown as the next row.
    void show(int slot, uint8_t byte)
    {
        CaptureRecord& r = entry->captureRing[slot];
        r.recordLength = 1;
        r.recordData[0] = byte;
        monitorRowsAppend(&rows, &r);
    }
    std::string entryText(int slot, int number) const
    {
        char out[RECORD_TEXT_BYTES];
        int n = formatLogRecord(entry.get(), &entry->captureRing[slot], number, out, sizeof out);
        return std::string(out, n);
    }
};

TEST(TrafficLog, NothingShownWritesNothing)
{
    Ring ring;
    LogFile file;
    EXPECT_EQ(0, saveTrafficLogTo(file.path.c_str(), ring.entry.get(), &ring.rows));
    EXPECT_FALSE(file.exists());
}

TEST(TrafficLog, ThreeRowsFromSlotZero)
{
    Ring ring;
    ring.show(0, 'a');
    ring.show(1, 'b');
    ring.show(2, 'c');
    LogFile file;
    ASSERT_EQ(1, saveTrafficLogTo(file.path.c_str(), ring.entry.get(), &ring.rows));
    EXPECT_EQ(ring.entryText(0, 0) + ring.entryText(1, 1) + ring.entryText(2, 2), file.read());
    EXPECT_EQ(0u, file.read().find("00000  0.000000  tx  001\r\n\tHEX:\r\n            61 \r\n"));
}

TEST(TrafficLog, WritesTheRecordsTheRowsShow)
{
    // Rows began mid-ring and an empty slot was passed over: the log still
    // holds exactly the shown records, numbered in row order.
    Ring ring;
    ring.show(500, 'x');
    ring.show(502, 'y');
    ring.show(1023, 'z');
    ring.show(0, 'w');
    LogFile file;
    ASSERT_EQ(1, saveTrafficLogTo(file.path.c_str(), ring.entry.get(), &ring.rows));
    std::string log = file.read();
    EXPECT_EQ(ring.entryText(500, 0) + ring.entryText(502, 1) + ring.entryText(1023, 2) +
                  ring.entryText(0, 3),
              log);
    EXPECT_NE(std::string::npos, log.find("00003  0.000000  tx  001\r\n\tHEX:\r\n            77 "));
}

TEST(TrafficLog, MoreThan1024ShownNumbersFromZero)
{
    Ring ring;
    for (int i = 0; i < 1500; i++)
        ring.show(i % 1024, (uint8_t)i);
    LogFile file;
    ASSERT_EQ(1, saveTrafficLogTo(file.path.c_str(), ring.entry.get(), &ring.rows));
    std::string log = file.read();
    // Oldest shown record first: slot 476, then on round to slot 475.
    EXPECT_EQ(0u, log.find(ring.entryText(476, 0)));
    std::string last = ring.entryText(475, 1023);
    EXPECT_EQ(log.size() - last.size(), log.rfind(last));
    EXPECT_EQ(std::string::npos, log.find("01024  "));
}

TEST(TrafficLog, ReplacesEarlierContentAndReportsUnopenableFile)
{
    Ring ring;
    ring.show(0, 'a');
    LogFile file;
    {
        std::ofstream old(file.path, std::ios::binary);
        old << std::string(10000, 'o');
    }
    ASSERT_EQ(1, saveTrafficLogTo(file.path.c_str(), ring.entry.get(), &ring.rows));
    EXPECT_EQ(ring.entryText(0, 0), file.read());
    EXPECT_EQ(0, saveTrafficLogTo("/nonexistent-dir/x.log", ring.entry.get(), &ring.rows));
}

TEST(TrafficLog, WriteFailureIsReported)
{
    Ring ring;
    ring.show(0, 'a');
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(0, saveTrafficLogTo("/dev/full", ring.entry.get(), &ring.rows));
}

}  // namespace
