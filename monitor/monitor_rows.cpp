// The Monitor's shown rows: which ring slot each row shows, and how many records were shown.
#include "monitor/monitor_rows.h"

#include <climits>

MonitorRows monitorRows;

void monitorRowsClear(MonitorRows* rows)
{
    rows->first = 0;
    rows->count = 0;
    rows->shownCount = 0;
}

void monitorRowsDropOldest(MonitorRows* rows)
{
    if (rows->count <= 0)
        return;
    rows->first = (rows->first + 1) % MONITOR_MAX_ROWS;
    rows->count--;
}

int monitorRowsAppend(MonitorRows* rows, int slot)
{
    if (rows->count >= MONITOR_MAX_ROWS)
        monitorRowsDropOldest(rows);
    const int row = rows->count;
    rows->slots[(rows->first + row) % MONITOR_MAX_ROWS] = ringSlot(slot);
    rows->count++;
    // Numbering starts again rather than overflow on an endless capture.
    rows->shownCount = rows->shownCount == INT_MAX ? 0 : rows->shownCount + 1;
    return row;
}

int monitorRowSlot(const MonitorRows* rows, int row)
{
    if (row < 0 || row >= rows->count)
        return -1;
    return rows->slots[(rows->first + row) % MONITOR_MAX_ROWS];
}

int rowSlot(int readIndex, int shownCount, int row)
{
    const int r = ringSlot(readIndex);
    // In unsigned arithmetic, so a huge count or row wraps instead of overflowing.
    if (shownCount >= MONITOR_MAX_ROWS)
        return ringSlot((int32_t)((uint32_t)r + (uint32_t)row));
    return ringSlot((int32_t)((uint32_t)r - (uint32_t)shownCount + (uint32_t)row));
}

int pollCaptureRing(PortEntry* entry, MonitorRows* rows, MonitorRowAppender append, void* context)
{
    if (!entry || !rows || !append)
        return 0;
    if (readShared(&entry->captureActive) == 0)
        return 0;

    // Both indices live in shared memory: brought into the ring before use,
    // so a bad value costs at most one pass over the ring, never a read
    // outside it. A read index outside the ring is stored back normalised.
    const int end = ringSlot(readShared(&entry->captureWriteIndex));
    const int32_t stored = readShared(&entry->captureReadIndex);
    int read = ringSlot(stored);
    if (read != stored)
        writeShared(&entry->captureReadIndex, read);
    int added = 0;
    while (read != end) {
        const int next = (read + 1) % CAPTURE_RING_SLOTS;
        if (readShared(&entry->captureRing[read].recordLength) == 0) {
            writeShared(&entry->captureReadIndex, next);
            read = next;
            continue;
        }
        int dropOldest = 0;
        if (rows->count >= MONITOR_MAX_ROWS) {
            monitorRowsDropOldest(rows);
            dropOldest = 1;
        }
        if (!append(context, rows->count, rows->shownCount, read, dropOldest))
            break;
        monitorRowsAppend(rows, read);
        writeShared(&entry->captureReadIndex, next);
        read = next;
        added++;
    }
    return added;
}
