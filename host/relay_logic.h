// Which transfers a port starts next, given what is in flight and what waits.
// Each direction is a queue of a few chunk slots: reads fill the slot at the
// head while writes drain the slot at the tail, so the next read is already
// posted while the last chunk is still on its way out. A partial write goes
// on from its offset in the slot; nothing is ever moved. Portable, so the
// rules are tested without sockets or serial handles.
#pragma once
#include <cstdint>

enum RelayOp {
    RELAY_READ_SERIAL = 0,
    RELAY_WRITE_SERIAL = 1,
    RELAY_RECV_NET = 2,
    RELAY_SEND_NET = 3,
    RELAY_WAIT_SERIAL = 4,    // a wait for the first byte (SERIAL_WAIT_EVENT only)
    RELAY_OPS = 5,
};

enum { RELAY_SLOTS = 4 };

// How the serial side waits for data.
// SERIAL_WAIT_READ: a read stays pending until bytes arrive (Wine completes
// a {MAXDWORD,0,0} read that way). SERIAL_WAIT_EVENT: reads take only what
// has arrived; an empty port is waited on with a receive event, so no read
// ever depends on an interval time-out and the system timer's granularity.
enum { SERIAL_WAIT_READ = 0, SERIAL_WAIT_EVENT = 1 };

struct RelaySlot {
    uint32_t length;          // bytes in the slot
    uint32_t offset;          // bytes of it already written
};

// One direction: slots [tail, tail + filled) hold data in arrival order; a
// read is posted into slot (tail + filled) % RELAY_SLOTS and keeps that slot
// (readAt) even if the queue is emptied while it is in flight.
struct RelayQueue {
    uint32_t tail;
    uint32_t filled;
    int reading;
    uint32_t readAt;          // the slot of the read in flight
    int writing;
    int dropping;             // emptied while a write was in flight: discard all once it reports
    RelaySlot slot[RELAY_SLOTS];
};

struct RelayState {
    int serialOpen;           // the serial side can be read and written
    int serialWait;           // SERIAL_WAIT_*
    int serialEmpty;          // event mode: the port had nothing; wait before reading
    int waiting;              // event mode: the receive wait is in flight
    int linkUp;               // the network side carries data
    RelayQueue toNet;         // serial reads, to be sent
    RelayQueue toSerial;      // network receives, to be written
};

// Bit (1 << RelayOp) for every transfer that may start now.
int relayNextOps(const RelayState* r);

// Where the next read of a queue lands (while one is in flight, where that
// one lands), and the oldest data still to write.
int relayReadSlot(const RelayQueue* q);
int relayWriteSlot(const RelayQueue* q);
// Slots from the tail that hold data, up to max: a gathering write takes them.
int relayFilledSlots(const RelayQueue* q);

// A transfer of that kind was posted.
void relayStarted(RelayState* r, int op);

// Completions. A read's bytes are queued (returns the bytes kept); a read
// that lands while the other side cannot take it is dropped: a port with no
// link carries nothing, and neither does a link with no serial side.
uint32_t relaySerialRead(RelayState* r, uint32_t bytes);
uint32_t relayNetReceived(RelayState* r, uint32_t bytes);
// A network receive that is not ours (a foreign datagram): nothing queued.
void relayNetDiscarded(RelayState* r);
// A write of `bytes` (possibly across several slots) finished. Returns the
// bytes still queued in that direction.
uint32_t relayNetSent(RelayState* r, uint32_t bytes);
uint32_t relaySerialWritten(RelayState* r, uint32_t bytes);
// Bytes queued in one direction.
uint32_t relayQueued(const RelayQueue* q);
// A transfer that failed or belongs to a socket or handle closed since.
void relayAbandoned(RelayState* r, int op);

// A serial handle was opened, with the given wait mode.
void relaySerialOpened(RelayState* r, int waitMode);
// A serial read found the port empty (in event mode the next step is the
// wait). In read mode that means the platform answers an empty port at once:
// the port switches to event mode rather than read in a tight loop.
void relaySerialEmpty(RelayState* r);
// Event mode: the wait ended (bytes arrived, or it was woken): read again.
void relaySerialWaited(RelayState* r);
// Event mode: the platform could not wait (the wait failed, or ended with
// no receive event): the port falls back to pending reads.
void relaySerialWaitFailed(RelayState* r);

// The link went down: bytes for the network are dropped.
void relayLinkDown(RelayState* r);
// The serial side went away: bytes for it are dropped.
void relaySerialGone(RelayState* r);
