// The relay's bookkeeping: a few chunk slots per direction, read at the head,
// written from the tail.
#include "host/relay_logic.h"

static int hasFreeSlot(const RelayQueue* q)
{
    return q->filled < RELAY_SLOTS;
}

int relayNextOps(const RelayState* r)
{
    int ops = 0;
    const RelayQueue* n = &r->toNet;
    const RelayQueue* s = &r->toSerial;
    int eventMode = r->serialWait == SERIAL_WAIT_EVENT;
    if (r->serialOpen && !n->reading && hasFreeSlot(n) && !(eventMode && (r->serialEmpty || r->waiting)))
        ops |= 1 << RELAY_READ_SERIAL;
    if (r->serialOpen && eventMode && r->serialEmpty && !r->waiting && !n->reading)
        ops |= 1 << RELAY_WAIT_SERIAL;
    if (r->linkUp && !n->writing && !n->dropping && n->filled > 0)
        ops |= 1 << RELAY_SEND_NET;
    if (r->linkUp && !s->reading && hasFreeSlot(s))
        ops |= 1 << RELAY_RECV_NET;
    if (r->serialOpen && !s->writing && !s->dropping && s->filled > 0)
        ops |= 1 << RELAY_WRITE_SERIAL;
    return ops;
}

int relayReadSlot(const RelayQueue* q)
{
    if (q->reading)
        return (int)(q->readAt % RELAY_SLOTS);
    return (int)((q->tail + q->filled) % RELAY_SLOTS);
}

int relayWriteSlot(const RelayQueue* q)
{
    return (int)(q->tail % RELAY_SLOTS);
}

int relayFilledSlots(const RelayQueue* q)
{
    return (int)q->filled;
}

uint32_t relayQueued(const RelayQueue* q)
{
    if (q->dropping)
        return 0;
    uint32_t total = 0;
    for (uint32_t k = 0; k < q->filled; k++) {
        const RelaySlot* slot = &q->slot[(q->tail + k) % RELAY_SLOTS];
        total += slot->length - slot->offset;
    }
    return total;
}

// A read's bytes join the queue when the far side can take them.
static uint32_t readDone(RelayQueue* q, uint32_t bytes, int accept)
{
    uint32_t at = (uint32_t)relayReadSlot(q);
    q->reading = 0;
    if (!bytes || !accept || q->dropping || !hasFreeSlot(q))
        return 0;
    // The bytes are in the slot the read was posted with. A queue emptied
    // while the read was in flight starts again from there; any other queue
    // is still the one the read was posted behind (only reads add to it), and
    // a slot out of that order is dropped rather than queued in the wrong place.
    if (q->filled == 0)
        q->tail = at;
    else if ((q->tail + q->filled) % RELAY_SLOTS != at)
        return 0;
    RelaySlot* slot = &q->slot[at];
    slot->length = bytes;
    slot->offset = 0;
    q->filled++;
    return bytes;
}

static void empty(RelayQueue* q)
{
    // The slot of a write in flight stays taken until that write reports back.
    q->dropping = q->writing && q->filled > 0;
    q->filled = q->dropping ? 1 : 0;
}

static uint32_t writeDone(RelayQueue* q, uint32_t bytes)
{
    q->writing = 0;
    if (q->dropping) {
        q->dropping = 0;
        q->filled = 0;
        return 0;
    }
    while (bytes > 0 && q->filled > 0) {
        RelaySlot* slot = &q->slot[relayWriteSlot(q)];
        uint32_t left = slot->length - slot->offset;
        uint32_t taken = bytes < left ? bytes : left;
        slot->offset += taken;
        bytes -= taken;
        if (slot->offset >= slot->length) {
            q->tail = (q->tail + 1) % RELAY_SLOTS;
            q->filled--;
        }
    }
    return relayQueued(q);
}

void relayStarted(RelayState* r, int op)
{
    switch (op) {
    case RELAY_READ_SERIAL: r->toNet.readAt = (uint32_t)relayReadSlot(&r->toNet); r->toNet.reading = 1; break;
    case RELAY_SEND_NET: r->toNet.writing = 1; break;
    case RELAY_RECV_NET: r->toSerial.readAt = (uint32_t)relayReadSlot(&r->toSerial); r->toSerial.reading = 1; break;
    case RELAY_WRITE_SERIAL: r->toSerial.writing = 1; break;
    case RELAY_WAIT_SERIAL: r->waiting = 1; break;
    }
}

uint32_t relaySerialRead(RelayState* r, uint32_t bytes)
{
    if (bytes == 0) {
        r->toNet.reading = 0;
        relaySerialEmpty(r);
        return 0;
    }
    return readDone(&r->toNet, bytes, r->linkUp);
}

uint32_t relayNetReceived(RelayState* r, uint32_t bytes)
{
    return readDone(&r->toSerial, bytes, r->serialOpen);
}

void relayNetDiscarded(RelayState* r)
{
    r->toSerial.reading = 0;
}

uint32_t relayNetSent(RelayState* r, uint32_t bytes)
{
    return writeDone(&r->toNet, bytes);
}

uint32_t relaySerialWritten(RelayState* r, uint32_t bytes)
{
    return writeDone(&r->toSerial, bytes);
}

void relayAbandoned(RelayState* r, int op)
{
    switch (op) {
    case RELAY_READ_SERIAL: r->toNet.reading = 0; break;
    case RELAY_RECV_NET: r->toSerial.reading = 0; break;
    case RELAY_WAIT_SERIAL: r->waiting = 0; break;
    // A write that failed ends what was queued behind it too.
    case RELAY_SEND_NET: r->toNet.writing = 0; r->toNet.dropping = 0; r->toNet.filled = 0; break;
    case RELAY_WRITE_SERIAL: r->toSerial.writing = 0; r->toSerial.dropping = 0; r->toSerial.filled = 0; break;
    }
}

void relaySerialOpened(RelayState* r, int waitMode)
{
    r->serialOpen = 1;
    r->serialWait = waitMode == SERIAL_WAIT_EVENT ? SERIAL_WAIT_EVENT : SERIAL_WAIT_READ;
    r->serialEmpty = 0;
    r->waiting = 0;
    r->toNet.reading = 0;
    r->toSerial.writing = 0;
    r->toSerial.dropping = 0;
    r->toSerial.filled = 0;
}

void relaySerialEmpty(RelayState* r)
{
    r->serialWait = SERIAL_WAIT_EVENT;
    r->serialEmpty = 1;
}

void relaySerialWaited(RelayState* r)
{
    r->waiting = 0;
    r->serialEmpty = 0;
}

void relaySerialWaitFailed(RelayState* r)
{
    r->waiting = 0;
    r->serialEmpty = 0;
    r->serialWait = SERIAL_WAIT_READ;
}

void relayLinkDown(RelayState* r)
{
    r->linkUp = 0;
    empty(&r->toNet);
}

void relaySerialGone(RelayState* r)
{
    r->serialOpen = 0;
    r->serialEmpty = 0;
    empty(&r->toSerial);
}
