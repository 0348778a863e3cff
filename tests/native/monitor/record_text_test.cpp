// Text forms of captured records: preview, dump, log entry, frames and hostile input.
#include "monitor/record_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

CaptureRecord makeRecord(std::vector<uint8_t> bytes, uint32_t direction = 0)
{
    CaptureRecord r = {};
    r.recordDirection = direction;
    r.recordLength = (uint32_t)bytes.size();
    std::copy(bytes.begin(), bytes.end(), r.recordData);
    return r;
}

std::vector<uint8_t> run(int from, int count)
{
    std::vector<uint8_t> v;
    for (int i = 0; i < count; i++)
        v.push_back((uint8_t)(from + i));
    return v;
}

std::string preview(const CaptureRecord& r)
{
    char out[RECORD_TEXT_BYTES];
    int n = dataPreview(&r, out, sizeof out);
    EXPECT_EQ((int)strlen(out), n);
    return out;
}

std::string detail(const CaptureRecord& r)
{
    char out[RECORD_TEXT_BYTES];
    int n = formatRecordDetail(&r, out, sizeof out);
    EXPECT_EQ((int)strlen(out), n);
    return out;
}

std::unique_ptr<PortEntry> makeEntry()
{
    std::unique_ptr<PortEntry> e(new PortEntry());
    e->captureStartTime = 1000;
    e->captureTickRate = 1000;
    return e;
}

std::string logEntry(const PortEntry* e, int slot, int number)
{
    char out[RECORD_TEXT_BYTES];
    int n = formatLogRecord(e, &e->captureRing[slot], number, out, sizeof out);
    return std::string(out, n);
}

const char HEX_32[] =
    "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50     "
    "51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f 60 ";
const char ASCII_32[] = "ABCDEFGHIJKLMNOP    QRSTUVWXYZ[\\]^_`";

TEST(RecordDump, FullLineHasGapBeforeSeventeenthByte)
{
    ASSERT_EQ(100u, strlen(HEX_32));
    ASSERT_EQ(36u, strlen(ASCII_32));
    EXPECT_EQ(std::string("HEX:\r\n") + HEX_32 + "\r\nASCII:\r\n" + ASCII_32 + "\r\n\r\n",
              detail(makeRecord(run(0x41, 32))));
}

TEST(RecordDump, ThirtyThirdByteStartsSecondLine)
{
    auto bytes = run(0x41, 32);
    bytes.push_back(0x7E);
    EXPECT_EQ(std::string("HEX:\r\n") + HEX_32 + "\r\n7e \r\nASCII:\r\n" + ASCII_32 + "\r\n~\r\n\r\n",
              detail(makeRecord(bytes)));
}

TEST(RecordDump, OnlyPrintableBytesShowAsThemselves)
{
    EXPECT_EQ("HEX:\r\n00 7f c8 7e 20 \r\nASCII:\r\n???~ \r\n\r\n",
              detail(makeRecord({0x00, 0x7F, 0xC8, 0x7E, 0x20})));
}

TEST(RecordPreview, SixteenBytesKeepTrailingSpaceSeventeenGetDots)
{
    EXPECT_EQ("41 42 0D ", preview(makeRecord({0x41, 0x42, 0x0D})));
    EXPECT_EQ("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ", preview(makeRecord(run(0, 16))));
    std::string seventeen = preview(makeRecord(run(0, 17)));
    EXPECT_EQ("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F...", seventeen);
    EXPECT_EQ(50u, seventeen.size());
    EXPECT_EQ(seventeen, preview(makeRecord(run(0, 512))));
    EXPECT_EQ("", preview(makeRecord({})));
}

TEST(Frames, RecognisedOnlyWithRightChecksumAndLength)
{
    const uint8_t frame[] = {0xA5, 0x5A, 0x02, 0x10, 0x20, 0xCF};
    const uint8_t badSum[] = {0xA5, 0x5A, 0x02, 0x10, 0x20, 0xCE};
    const uint8_t tooShort[] = {0xA5, 0x5A, 0x00, 0xFF};
    const uint8_t emptyPayload[] = {0xA5, 0x5A, 0x00, 0xFF, 0x00};
    const uint8_t trailing[] = {0xA5, 0x5A, 0x01, 0x10, 0xEF, 0x99, 0x98};
    const uint8_t countTooBig[] = {0xA5, 0x5A, 0x03, 0x10, 0x20, 0xCF};
    const uint8_t badMagic[] = {0xA5, 0x5B, 0x02, 0x10, 0x20, 0xCF};
    EXPECT_EQ(1, isFrame(frame, sizeof frame));
    EXPECT_EQ(0, isFrame(badSum, sizeof badSum));
    EXPECT_EQ(0, isFrame(tooShort, sizeof tooShort));
    EXPECT_EQ(1, isFrame(emptyPayload, sizeof emptyPayload));
    EXPECT_EQ(1, isFrame(trailing, sizeof trailing));
    EXPECT_EQ(0, isFrame(countTooBig, sizeof countTooBig));
    EXPECT_EQ(0, isFrame(badMagic, sizeof badMagic));
}

TEST(Frames, RenderEmptyInEveryForm)
{
    auto e = makeEntry();
    e->captureRing[0] = makeRecord({0xA5, 0x5A, 0x02, 0x10, 0x20, 0xCF});
    EXPECT_EQ("", preview(e->captureRing[0]));
    EXPECT_EQ("", detail(e->captureRing[0]));
    EXPECT_EQ("00000  -1.000000  tx  006\r\n\r\n\r\n", logEntry(e.get(), 0, 0));

    e->captureRing[1] = makeRecord({0xA5, 0x5A, 0x02, 0x10, 0x20, 0xCE});
    EXPECT_EQ("A5 5A 02 10 20 CE ", preview(e->captureRing[1]));
}

TEST(LogEntry, MatchesByteForByte)
{
    auto e = makeEntry();
    e->captureRing[42] = makeRecord({0x41, 0x42, 0x0D}, 1);
    e->captureRing[42].recordTime = 2250;
    EXPECT_EQ("00007  1.250000  rx  003\r\n"
              "\tHEX:\r\n"
              "            41 42 0d \r\n"
              "\tASCII:\r\n"
              "            AB?\r\n"
              "\r\n",
              logEntry(e.get(), 42, 7));
}

TEST(LogEntry, TwoLinesEachIndented)
{
    auto e = makeEntry();
    auto bytes = run(0x41, 32);
    bytes.push_back(0x7E);
    e->captureRing[0] = makeRecord(bytes);
    e->captureRing[0].recordTime = 1000;
    EXPECT_EQ(std::string("00000  0.000000  tx  033\r\n\tHEX:\r\n            ") + HEX_32 +
                  "\r\n            7e \r\n\tASCII:\r\n            " + ASCII_32 +
                  "\r\n            ~\r\n\r\n",
              logEntry(e.get(), 0, 0));
}

TEST(LogEntry, NegativeTimeKeepsItsSign)
{
    auto e = makeEntry();
    e->captureRing[3] = makeRecord({0x30});
    e->captureRing[3].recordTime = 500;
    EXPECT_EQ(0u, logEntry(e.get(), 3, 12).rfind("00012  -0.500000  tx  001\r\n", 0));
}

TEST(LogEntry, PercentSignsInTrafficAreWrittenAsIs)
{
    auto e = makeEntry();
    const char traffic[] = "%s%n%d%%";
    e->captureRing[0] = makeRecord(std::vector<uint8_t>(traffic, traffic + 8));
    FILE* f = tmpfile();
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(1, renderLogRecord(e.get(), &e->captureRing[0], 0, f));
    std::string text(4096, '\0');
    rewind(f);
    text.resize(fread(&text[0], 1, text.size(), f));
    fclose(f);
    EXPECT_NE(std::string::npos, text.find("\r\n            %s%n%d%%\r\n\r\n")) << text;
    EXPECT_EQ(logEntry(e.get(), 0, 0), text);
}

TEST(RecordTime, SecondsSinceCaptureStart)
{
    EXPECT_DOUBLE_EQ(1.25, recordSeconds(2250, 1000, 1000));
    EXPECT_DOUBLE_EQ(-0.5, recordSeconds(500, 1000, 1000));
    EXPECT_DOUBLE_EQ(0.0, recordSeconds(500, 1000, 0)) << "no tick rate published";
    // Far-apart host values wrap instead of overflowing.
    EXPECT_DOUBLE_EQ(1.0, recordSeconds(INT64_MIN, INT64_MAX, 1));
    EXPECT_DOUBLE_EQ(-1.0, recordSeconds(INT64_MAX, INT64_MIN, 1));
}

TEST(MonitorCells, ColumnsOfOneRow)
{
    auto e = makeEntry();
    e->captureRing[9] = makeRecord({0x41, 0x42, 0x0D}, 1);
    e->captureRing[9].recordTime = 2250;
    char out[RECORD_TEXT_BYTES];
    const char* expected[] = {"17", "1.250000", "rx", "3", "41 42 0D "};
    for (int c = 0; c < MONITOR_COLUMNS; c++) {
        formatMonitorCell(e.get(), &e->captureRing[9], 17, c, out, sizeof out);
        EXPECT_STREQ(expected[c], out) << "column " << c;
    }
    e->captureRing[9].recordDirection = 0;
    formatMonitorCell(e.get(), &e->captureRing[9], 17, MONITOR_COL_DIRECTION, out, sizeof out);
    EXPECT_STREQ("tx", out);
}

TEST(HostileRecords, LengthAboveRecordIsCutToIt)
{
    auto e = makeEntry();
    CaptureRecord& r = e->captureRing[1023];
    for (int i = 0; i < CAPTURE_DATA_BYTES; i++)
        r.recordData[i] = 0x55;
    r.recordLength = 0xFFFFFFFF;
    char out[RECORD_TEXT_BYTES];
    formatMonitorCell(e.get(), &e->captureRing[1023], 0, MONITOR_COL_BYTES, out, sizeof out);
    EXPECT_STREQ("512", out);

    std::string entry = logEntry(e.get(), 1023, 0);
    EXPECT_EQ(0u, entry.find("00000  -1.000000  tx  512\r\n\tHEX:"));
    // 16 full lines each way, nothing beyond the record.
    size_t lines = 0;
    for (size_t p = entry.find("\r\n            55 "); p != std::string::npos;
         p = entry.find("\r\n            55 ", p + 1))
        lines++;
    EXPECT_EQ(16u, lines);

    EXPECT_EQ(2256, formatRecordDetail(&e->captureRing[1023], out, sizeof out)) << "16 full lines each way";
}

TEST(HostileRecords, SmallBufferIsNeverOverrun)
{
    auto r = makeRecord(run(0, 100));
    char out[12];
    memset(out, 'Z', sizeof out);
    // Cut at the buffer's end: what is there is the start of the whole text.
    EXPECT_EQ(10, formatRecordDetail(&r, out, 11));
    EXPECT_STREQ("HEX:\r\n00 0", out);
    EXPECT_EQ('Z', out[11]);
    EXPECT_EQ(0, dataPreview(&r, out, 1));
    EXPECT_STREQ("", out);
}

}  // namespace
