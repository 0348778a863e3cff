// Which transfers a port starts next, given what is in flight and what waits.
// One buffer per direction: bytes read from the serial side wait in toNet
// until sent, bytes received wait in toSerial until written, and nothing is
// read into a buffer that is still in use. Portable, so the rules are tested
// without sockets or serial handles.
#pragma once
#include <cstdint>

enum RelayOp {
    RELAY_READ_SERIAL = 0,
    RELAY_WRITE_SERIAL = 1,
    RELAY_RECV_NET = 2,
    RELAY_SEND_NET = 3,
    RELAY_OPS = 4,
};

// How serial reads wait. First they take whatever has arrived and wait only
// while nothing has; a platform that answers an empty port at once shows it
// with an empty read, and the port then waits for the first byte and the
// pause after it instead.
enum { SERIAL_READ_AVAILABLE = 0, SERIAL_READ_INTERVAL = 1 };

struct RelayState {
    int serialOpen;           // the serial side can be read and written
    int serialReadMode;       // SERIAL_READ_*
    int linkUp;               // the network side carries data
    int busy[RELAY_OPS];      // a transfer of that kind is in flight
    uint32_t toNet;           // bytes read from the serial side, not yet sent
    uint32_t toSerial;        // bytes received, not yet written to the serial side
};

// Bit (1 << RelayOp) for every transfer that may start now.
int relayNextOps(const RelayState* r);

// Completions. Each clears the busy flag of its kind and returns the number of
// bytes to carry on with (for reads) or still waiting (for writes).
// A read that lands while the other side cannot take it is dropped: a port
// with no link carries nothing, and neither does a link with no serial side.
uint32_t relaySerialRead(RelayState* r, uint32_t bytes);
uint32_t relayNetReceived(RelayState* r, uint32_t bytes);
uint32_t relayNetSent(RelayState* r, uint32_t bytes);
uint32_t relaySerialWritten(RelayState* r, uint32_t bytes);
// A transfer that failed or belongs to a socket or handle closed since.
void relayAbandoned(RelayState* r, int op);

// A serial handle was opened: reads start by taking what has arrived.
void relaySerialOpened(RelayState* r);
// A serial read ended with nothing. Returns 1 when the port has just switched
// to SERIAL_READ_INTERVAL (set the timeouts, read again at once), 0 when the
// next read should wait for the next pass, so that a port that keeps
// answering empty is not read in a tight loop.
int relayEmptySerialRead(RelayState* r);

// The link went down: bytes for the network are dropped.
void relayLinkDown(RelayState* r);
// The serial side went away: bytes for it are dropped.
void relaySerialGone(RelayState* r);
