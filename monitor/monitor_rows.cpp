// The Monitor's shown rows: a copy of each shown record, and how many records were shown.
#include "monitor/monitor_rows.h"

#include <climits>

#include "monitor/record_text.h"

MonitorRows monitorRows;

void monitorRowsClear(MonitorRows* rows)
{
    rows->first = 0;
    rows->count = 0;
    rows->shownCount = 0;
    rows->dropped = 0;
}

int monitorRowsAppend(MonitorRows* rows, const CaptureRecord* record)
{
    if (rows->count >= MONITOR_MAX_ROWS) {
        rows->first = (rows->first + 1) % MONITOR_MAX_ROWS;
        rows->count--;
        rows->dropped++;
    }
    const int row = rows->count;
    MonitorRow* r = &rows->rows[(rows->first + row) % MONITOR_MAX_ROWS];
    snapshotRecord(record, &r->record);
    r->number = rows->shownCount;
    rows->count++;
    // Numbering starts again rather than overflow on an endless capture.
    rows->shownCount = rows->shownCount == INT_MAX ? 0 : rows->shownCount + 1;
    return row;
}

const MonitorRow* monitorRow(const MonitorRows* rows, int row)
{
    if (row < 0 || row >= rows->count)
        return nullptr;
    return &rows->rows[(rows->first + row) % MONITOR_MAX_ROWS];
}

int pollCaptureRing(PortEntry* entry, MonitorRows* rows)
{
    if (!entry || !rows)
        return 0;
    if (readShared(&entry->captureActive) == 0)
        return 0;

    // Both indices live in shared memory: brought into the ring before use,
    // so a bad value costs at most one pass over the ring, never a read
    // outside it.
    const int end = ringSlot(__atomic_load_n(&entry->captureWriteIndex, __ATOMIC_ACQUIRE));
    int read = ringSlot(readShared(&entry->captureReadIndex));
    int added = 0;
    while (read != end) {
        const CaptureRecord* record = &entry->captureRing[read];
        if (readShared(&record->recordLength) != 0) {
            monitorRowsAppend(rows, record);
            added++;
        }
        read = (read + 1) % CAPTURE_RING_SLOTS;
    }
    // Published once the copies are made: the host may then reuse the slots.
    __atomic_store_n(&entry->captureReadIndex, (int32_t)read, __ATOMIC_RELEASE);
    return added;
}
