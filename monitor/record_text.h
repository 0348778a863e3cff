// Text forms of captured traffic records: list cells, HEX/ASCII dump, log entry.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ports/port_table.h"

enum {
    RECORD_TEXT_BYTES = 4096,   // every record text fits this buffer
    DATA_PREVIEW_BYTES = 16,    // bytes shown in the Data column
    DUMP_LINE_BYTES = 32,
    DUMP_GAP_BEFORE = 16,       // four spaces go before this byte of a line
};

enum { MONITOR_COL_NUMBER, MONITOR_COL_TIME, MONITOR_COL_DIRECTION, MONITOR_COL_BYTES,
       MONITOR_COL_DATA, MONITOR_COLUMNS };

// 1 when data is a frame: A5 5A, a count n, n payload bytes and the
// complement of their 8-bit sum, in more than 4 bytes. Frames render empty.
int isFrame(const uint8_t* data, int length);

// Copies a ring record once, so that a host rewriting the slot meanwhile
// cannot change its length under the formatter. A recordLength above 512 is
// taken as 512: the record never holds more, and nothing reads past it.
void snapshotRecord(const CaptureRecord* shared, CaptureRecord* out);

// Seconds of recordTime since captureStart at tickRate ticks a second; 0
// when the host publishes no tick rate.
double recordSeconds(int64_t recordTime, int64_t captureStart, int64_t tickRate);

const char* directionText(uint32_t recordDirection);

// The texts below are built into out (outSize bytes), always terminated and
// cut rather than overflowing; each returns the length built. A record
// argument is expected to be a snapshot.

// Up to 16 bytes as "%02X " each; "..." replaces the last space when more follow.
int dataPreview(const CaptureRecord* record, char* out, int outSize);

// The detail box's HEX and ASCII dump, CR LF line ends.
int formatRecordDetail(const CaptureRecord* record, char* out, int outSize);

// The texts below take a record of a row or of the ring: it is read once.
// entry gives the capture's start time and tick rate.

// The log entry of record, numbered `number`.
int formatLogRecord(const PortEntry* entry, const CaptureRecord* record, int number, char* out,
                    int outSize);

// Writes that log entry to file exactly as built; 1 when fully written.
int renderLogRecord(const PortEntry* entry, const CaptureRecord* record, int number, FILE* file);

// The Monitor list's cell `column` for record, shown as row number `number`.
int formatMonitorCell(const PortEntry* entry, const CaptureRecord* record, int number, int column,
                      char* out, int outSize);
