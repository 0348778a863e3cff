// The Monitor's shown rows: a copy of each shown record, and how many records were shown.
#pragma once

#include "ports/port_table.h"

enum { MONITOR_MAX_ROWS = 1024 };

// One shown record, copied out of the ring when it was taken: the ring slot
// is free for the host again at once, and the row keeps its own record.
struct MonitorRow {
    CaptureRecord record;
    int number;  // the "#" cell
};

// Row r of the Monitor list is rows[(first + r) % 1024]. Rows that fall off
// the front are counted in dropped until the list has followed them.
struct MonitorRows {
    MonitorRow rows[MONITOR_MAX_ROWS];
    int first;       // position in rows of row 0
    int count;       // rows shown, at most 1024
    int shownCount;  // records shown since opening or Clear: the next row's "#"
    int dropped;     // rows removed from the front since the list last followed
};

// The Monitor window's rows; empty at start.
extern MonitorRows monitorRows;

void monitorRowsClear(MonitorRows* rows);

// Adds a row for a copy of record at the end, first dropping the oldest when
// 1024 rows are shown, and counts it in shownCount. Returns the new row's index.
int monitorRowsAppend(MonitorRows* rows, const CaptureRecord* record);

// The row at index row, or null when there is no such row.
const MonitorRow* monitorRow(const MonitorRows* rows, int row);

// One timer tick of the Monitor: takes every record the host has written
// since captureReadIndex, up to one reading of captureWriteIndex, copies each
// non-empty one into a row and advances captureReadIndex past it. The cost
// is one copy per record, whatever is already shown. Nothing is read while
// the host reports no active capture. Returns the rows added.
int pollCaptureRing(PortEntry* entry, MonitorRows* rows);
