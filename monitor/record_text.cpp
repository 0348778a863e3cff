// Text forms of captured traffic records: list cells, HEX/ASCII dump, log entry.
#include "monitor/record_text.h"

#include <cstring>

#include "monitor/text_builder.h"

static const char DUMP_GAP[] = "    ";
static const char LOG_INDENT[] = "            ";

int isFrame(const uint8_t* data, int length)
{
    if (!data || length <= 4)
        return 0;
    if (data[0] != 0xA5 || data[1] != 0x5A)
        return 0;
    const int count = data[2];
    if (count > length - 4)
        return 0;
    uint8_t sum = 0;
    for (int i = 0; i < count; i++)
        sum = (uint8_t)(sum + data[3 + i]);
    return data[3 + count] == (uint8_t)~sum ? 1 : 0;
}

void snapshotRecord(const CaptureRecord* shared, CaptureRecord* out)
{
    out->recordTime = shared->recordTime;
    out->recordDirection = readShared(&shared->recordDirection);
    uint32_t length = readShared(&shared->recordLength);
    if (length > CAPTURE_DATA_BYTES)
        length = CAPTURE_DATA_BYTES;
    out->recordLength = length;
    memcpy(out->recordData, shared->recordData, length);
    memset(out->recordData + length, 0, sizeof out->recordData - length);
}

double recordSeconds(int64_t recordTime, int64_t captureStart, int64_t tickRate)
{
    if (tickRate == 0)
        return 0.0;
    // Wrapping subtraction: host values far apart must not overflow.
    const int64_t ticks = (int64_t)((uint64_t)recordTime - (uint64_t)captureStart);
    return (double)ticks / (double)tickRate;
}

const char* directionText(uint32_t recordDirection)
{
    return recordDirection ? "rx" : "tx";
}

static int shownLength(const CaptureRecord* record)
{
    return record->recordLength > CAPTURE_DATA_BYTES ? CAPTURE_DATA_BYTES
                                                      : (int)record->recordLength;
}

int dataPreview(const CaptureRecord* record, char* out, int outSize)
{
    TextBuilder b;
    textBegin(&b, out, outSize);
    const int length = shownLength(record);
    if (isFrame(record->recordData, length))
        return b.length;
    const int shown = length < DATA_PREVIEW_BYTES ? length : DATA_PREVIEW_BYTES;
    for (int i = 0; i < shown; i++) {
        textAppendFormat(&b, "%02X", record->recordData[i]);
        textAppend(&b, i == DATA_PREVIEW_BYTES - 1 && length > DATA_PREVIEW_BYTES ? "..." : " ");
    }
    return b.length;
}

static char printable(uint8_t byte)
{
    return byte >= 0x20 && byte <= 0x7E ? (char)byte : '?';
}

// One dump line of up to 32 bytes starting at `from`, in hex or as characters.
static void appendDumpLine(TextBuilder* b, const CaptureRecord* record, int from, bool hex)
{
    const int length = shownLength(record);
    const int to = from + DUMP_LINE_BYTES < length ? from + DUMP_LINE_BYTES : length;
    for (int i = from; i < to; i++) {
        if (i - from == DUMP_GAP_BEFORE)
            textAppend(b, DUMP_GAP);
        if (hex)
            textAppendFormat(b, "%02x ", record->recordData[i]);
        else
            textAppendChar(b, printable(record->recordData[i]));
    }
}

static int dumpLines(const CaptureRecord* record)
{
    return (shownLength(record) + DUMP_LINE_BYTES - 1) / DUMP_LINE_BYTES;
}

int formatRecordDetail(const CaptureRecord* record, char* out, int outSize)
{
    TextBuilder b;
    textBegin(&b, out, outSize);
    if (isFrame(record->recordData, shownLength(record)))
        return b.length;
    const int lines = dumpLines(record);
    textAppend(&b, "HEX:\r\n");
    for (int line = 0; line < lines; line++) {
        appendDumpLine(&b, record, line * DUMP_LINE_BYTES, true);
        textAppend(&b, "\r\n");
    }
    textAppend(&b, "ASCII:\r\n");
    for (int line = 0; line < lines; line++) {
        appendDumpLine(&b, record, line * DUMP_LINE_BYTES, false);
        textAppend(&b, "\r\n");
    }
    textAppend(&b, "\r\n");
    return b.length;
}

int formatLogRecord(const PortEntry* entry, const CaptureRecord* shown, int number, char* out,
                    int outSize)
{
    CaptureRecord record;
    snapshotRecord(shown, &record);
    const double seconds =
        recordSeconds(record.recordTime, entry->captureStartTime, entry->captureTickRate);

    TextBuilder b;
    textBegin(&b, out, outSize);
    textAppendFormat(&b, "%05d  %08f  %s  %03d\r\n", number, seconds,
                     directionText(record.recordDirection), (int)record.recordLength);
    if (!isFrame(record.recordData, (int)record.recordLength)) {
        const int lines = dumpLines(&record);
        textAppend(&b, "\tHEX:");
        for (int line = 0; line < lines; line++) {
            textAppend(&b, "\r\n");
            textAppend(&b, LOG_INDENT);
            appendDumpLine(&b, &record, line * DUMP_LINE_BYTES, true);
        }
        textAppend(&b, "\r\n\tASCII:");
        for (int line = 0; line < lines; line++) {
            textAppend(&b, "\r\n");
            textAppend(&b, LOG_INDENT);
            appendDumpLine(&b, &record, line * DUMP_LINE_BYTES, false);
        }
    }
    textAppend(&b, "\r\n\r\n");
    return b.length;
}

int renderLogRecord(const PortEntry* entry, const CaptureRecord* record, int number, FILE* file)
{
    char text[RECORD_TEXT_BYTES];
    const int length = formatLogRecord(entry, record, number, text, sizeof text);
    // Written by length, never through a format: traffic may hold '%'.
    return fwrite(text, 1, (size_t)length, file) == (size_t)length ? 1 : 0;
}

int formatMonitorCell(const PortEntry* entry, const CaptureRecord* shown, int number, int column,
                      char* out, int outSize)
{
    CaptureRecord record;
    snapshotRecord(shown, &record);
    TextBuilder b;
    textBegin(&b, out, outSize);
    switch (column) {
    case MONITOR_COL_NUMBER:
        textAppendFormat(&b, "%d", number);
        break;
    case MONITOR_COL_TIME:
        textAppendFormat(&b, "%f", recordSeconds(record.recordTime, entry->captureStartTime,
                                                 entry->captureTickRate));
        break;
    case MONITOR_COL_DIRECTION:
        textAppend(&b, directionText(record.recordDirection));
        break;
    case MONITOR_COL_BYTES:
        textAppendFormat(&b, "%d", (int)record.recordLength);
        break;
    case MONITOR_COL_DATA:
        return dataPreview(&record, out, outSize);
    default:
        break;
    }
    return b.length;
}
