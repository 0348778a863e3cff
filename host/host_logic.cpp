// The host's handling of one table entry: take-up, requests, delete, capture.
#include "host/host_logic.h"

#include <cstring>

int swapShared(volatile int32_t* word, int32_t expected, int32_t desired)
{
    return __atomic_compare_exchange_n(word, &expected, desired, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

void clearHostFields(PortEntry* e)
{
    e->linkState = 0;
    e->linkDetail = 0;
    e->comOpen = 0;
    e->comBaudRate = 0;
    e->comDataBits = 0;
    e->comParity = 0;
    e->comStopBits = 0;
    e->captureActive = 0;
}

void releaseHostEntry(PortEntry* e)
{
    writeShared(&e->linkDetail, 0u);
    writeShared(&e->linkState, readShared(&e->command) == PORT_STOP ? LINK_STOPPED : LINK_DISCONNECTED);
    publishPairInfo(e, nullptr);
}

static void stopRunning(PortEntry* e, HostPortState* s, const HostPortOps* ops, int index)
{
    if (s->running)
        ops->stopLink(ops->context, index);
    s->running = 0;
}

int serviceHostEntry(PortTable* table, int index, HostPortState* s, const HostPortOps* ops)
{
    PortEntry* e = &table->entries[index];
    // inUse before command, both acquired: the manager stores each last,
    // after the texts they stand for.
    uint32_t inUse = acquireShared(&e->inUse);
    int32_t command = acquireShared(&e->command);

    if (!s->held) {
        // A deletion that an earlier host did not finish: nothing is held, so it is done.
        if (command == PORT_DELETE && readShared(&e->present)) {
            clearHostFields(e);
            writeShared(&e->present, 0u);
            swapShared(&e->command, PORT_DELETE, 0);
            s->adopt = 0;
            return 1;
        }
        // A written entry waits for us; a finished or foreign one is left alone.
        if (!inUse || command < PORT_START || command > PORT_RESTART)
            return 0;
        if (!ops->openPort(ops->context, index))
            return 0;
        s->held = 1;
        s->running = 0;
        if (s->adopt) {
            // The port carries on: its counters go on counting and the
            // Monitor's capture keeps running; the link state follows.
            writeShared(&e->linkState, 0u);
            writeShared(&e->linkDetail, 0u);
        } else {
            clearHostFields(e);
            e->rxBytes = 0;
            e->txBytes = 0;
        }
        s->adopt = 0;
        publishShared(&e->present, 1u);
        if (command == PORT_STOP) {
            writeShared(&e->linkState, LINK_STOPPED);
            return 1;
        }
        swapShared(&e->command, PORT_RESTART, PORT_START);
        ops->startLink(ops->context, index);
        s->running = 1;
        return 1;
    }

    switch (command) {
    case PORT_DELETE:
        stopRunning(e, s, ops, index);
        ops->closePort(ops->context, index);
        clearHostFields(e);
        s->held = 0;
        // present first: once command reads 0 the manager may hand the slot out.
        writeShared(&e->present, 0u);
        swapShared(&e->command, PORT_DELETE, 0);
        return 1;
    case PORT_STOP:
        if (!s->running && readShared(&e->linkState) == LINK_STOPPED)
            return 0;
        stopRunning(e, s, ops, index);
        writeShared(&e->linkState, LINK_STOPPED);
        return 1;
    case PORT_RESTART:
        // Consume the request only if it is still the one we saw; a Stop
        // written meanwhile must not be lost.
        if (!swapShared(&e->command, PORT_RESTART, PORT_START))
            return 0;
        stopRunning(e, s, ops, index);
        ops->startLink(ops->context, index);
        s->running = 1;
        return 1;
    default:
        // The manager reads every value but 2 as enabled, and so do we.
        if (s->running)
            return 0;
        ops->startLink(ops->context, index);
        s->running = 1;
        return 1;
    }
}

int isLiveEntry(const PortEntry* e)
{
    int32_t command = readShared(&e->command);
    return readShared(&e->present) && readShared(&e->inUse) && command >= PORT_START && command <= PORT_RESTART;
}

int adoptLiveEntries(const PortTable* table, HostPortState* states)
{
    int count = 0;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        states[i].adopt = isLiveEntry(&table->entries[i]);
        count += states[i].adopt;
    }
    return count;
}

int32_t serviceCaptureCommand(PortEntry* e, int64_t nowTicks, int64_t tickRate)
{
    int32_t request = readShared(&e->captureCommand);
    if (request == 0 || !swapShared(&e->captureCommand, request, 0))
        return 0;
    switch (request) {
    case CAPTURE_START:
        if (!e->captureActive) {
            e->captureWriteIndex = 0;
            e->captureReadIndex = 0;
            e->captureDropped = 0;
        }
        e->captureStartTime = nowTicks;
        e->captureTickRate = tickRate > 0 ? tickRate : 1;
        writeShared(&e->captureActive, 1);
        break;
    case CAPTURE_STOP:
        writeShared(&e->captureActive, 0);
        break;
    case CAPTURE_CLEAR:
        for (int k = 0; k < CAPTURE_RING_SLOTS; k++)
            e->captureRing[k].recordLength = 0;
        e->captureWriteIndex = 0;
        e->captureReadIndex = 0;
        e->captureDropped = 0;
        break;
    default:
        return request;
    }
    return 0;
}

void captureTraffic(PortEntry* e, int rx, const uint8_t* data, size_t length, int64_t nowTicks)
{
    if (!readShared(&e->captureActive))
        return;
    while (length > 0) {
        size_t n = length < (size_t)CAPTURE_DATA_BYTES ? length : (size_t)CAPTURE_DATA_BYTES;
        int slot = ringSlot(e->captureWriteIndex);
        int next = (slot + 1) % (int)CAPTURE_RING_SLOTS;
        // A full ring keeps what the Monitor has not read yet: the newest
        // record goes, and is counted, rather than a lap that would make the
        // whole ring look empty.
        if (next == ringSlot(__atomic_load_n(&e->captureReadIndex, __ATOMIC_ACQUIRE))) {
            writeShared(&e->captureDropped, readShared(&e->captureDropped) + 1);
        } else {
            CaptureRecord* r = &e->captureRing[slot];
            r->recordTime = nowTicks;
            r->recordDirection = rx ? 1 : 0;
            memcpy(r->recordData, data, n);
            r->recordLength = (uint32_t)n;
            // The index moves only after the record is complete.
            __atomic_store_n(&e->captureWriteIndex, (int32_t)next, __ATOMIC_RELEASE);
        }
        data += n;
        length -= n;
    }
}

void countBytes(int64_t* counter, int64_t* own, int64_t n)
{
    int64_t seen = __atomic_load_n(counter, __ATOMIC_RELAXED);
    for (;;) {
        // One swap of the whole word: a clear that lands meanwhile makes it
        // fail, and we look again rather than write over the clear. A count
        // taken over from the table may be anything: one that cannot grow
        // by n any more starts again, as after a clear.
        int64_t next = seen == *own && seen <= INT64_MAX - n ? seen + n : n;
        if (__atomic_compare_exchange_n(counter, &seen, next, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
            *own = next;
            return;
        }
    }
}

void recordTraffic(PortEntry* e, HostCounts* own, int rx, const uint8_t* data, size_t length, int64_t nowTicks)
{
    if (length == 0)
        return;
    if (rx)
        countBytes(&e->rxBytes, &own->rx, (int64_t)length);
    else
        countBytes(&e->txBytes, &own->tx, (int64_t)length);
    captureTraffic(e, rx, data, length, nowTicks);
}

void publishPairInfo(PortEntry* e, const VspdPairInfo* info)
{
    int known = info && info->exists && info->daemon;
    int valid = known && info->dataBits >= 5 && info->dataBits <= 8 && info->parity <= 4 && info->stopBits <= 2;
    if (!valid) {
        e->comOpen = 0;
        writeShared(&e->comBaudRate, 0u);
        e->comDataBits = 0;
        e->comParity = 0;
        e->comStopBits = 0;
        return;
    }
    writeShared(&e->comBaudRate, info->baudRate);
    e->comDataBits = info->dataBits;
    e->comParity = info->parity;
    e->comStopBits = info->stopBits;
    // Last, so the manager never shows an open port with old settings.
    e->comOpen = info->open ? 1 : 0;
}

int hostPortNumber(const PortEntry* e)
{
    char name[sizeof e->portName];
    copyField(name, sizeof name, e->portName, sizeof e->portName);
    static const char prefix[] = PORT_NAME_PREFIX "COM";
    if (strncmp(name, prefix, sizeof prefix - 1) != 0)
        return 0;
    const char* digits = name + sizeof prefix - 1;
    if (digits[0] < '1' || digits[0] > '9')
        return 0;
    int value = 0;
    for (int i = 0; digits[i]; i++) {
        if (i >= 3 || digits[i] < '0' || digits[i] > '9')
            return 0;
        value = value * 10 + (digits[i] - '0');
    }
    return value <= 256 ? value : 0;
}
