// The Monitor's shown rows: which ring slot each row shows, and how many records were shown.
#pragma once

#include "ports/port_table.h"

enum { MONITOR_MAX_ROWS = 1024 };

// Row r of the Monitor list shows ring slot slots[(first + r) % 1024]. Each
// row keeps its own slot, so the dump, the tint and the log follow the record
// a row shows even when the ring did not start at slot 0 or empty slots were
// passed over.
struct MonitorRows {
    int slots[MONITOR_MAX_ROWS];
    int first;       // position in slots of row 0
    int count;       // rows in the list, at most 1024
    int shownCount;  // records shown since opening or Clear: the next row's "#"
};

// The Monitor window's rows; empty at start.
extern MonitorRows monitorRows;

void monitorRowsClear(MonitorRows* rows);

// Removes row 0, the oldest; the other rows move up by one.
void monitorRowsDropOldest(MonitorRows* rows);

// Adds a row for slot at the end, first dropping the oldest when 1024 rows are
// shown, and counts it in shownCount. Returns the new row's index.
int monitorRowsAppend(MonitorRows* rows, int slot);

// The ring slot that row shows, or -1 when there is no such row.
int monitorRowSlot(const MonitorRows* rows, int row);

// Where row would lie if the shown records ran without a gap up to the slot
// before readIndex. Wrong as soon as an empty slot was passed over or the
// ring did not start at slot 0; monitorRowSlot knows each row's own slot.
int rowSlot(int readIndex, int shownCount, int row);

// Adds the list row for the record in ring slot `slot` as row `row`, its "#"
// cell showing `number`. With dropOldest set the list's first row must be
// deleted before the append, whatever becomes of the append. Returns 1 when
// the row was added, 0 when the list refused it.
typedef int (*MonitorRowAppender)(void* context, int row, int number, int slot, int dropOldest);

// One timer tick of the Monitor: takes every record the host has written
// since captureReadIndex, up to one reading of captureWriteIndex, appends a
// row for each non-empty slot and advances captureReadIndex past it. A
// refused row ends the tick with its slot still unread. Nothing is read while
// the host reports no active capture. Returns the rows added.
int pollCaptureRing(PortEntry* entry, MonitorRows* rows, MonitorRowAppender append, void* context);
