// The network link of one port as a state machine: when to resolve, connect,
// give up, wait and retry, and which linkState to publish. Portable: the
// service feeds it events and the time, and carries out the actions it returns.
#pragma once
#include <cstdint>

#include "ports/port_table.h"

enum {
    LINK_CONNECT_TIMEOUT_MS = 5000,
    LINK_RETRY_FIRST_MS = 500,    // first wait after a failure or a dropped link
    LINK_RETRY_MAX_MS = 8000,     // the wait doubles up to this
    LINK_HOST_MAX = 127,          // remoteAddress text
};

// linkDetail: why the link is not up (0 while it is, or while it connects).
enum {
    LINK_DETAIL_NONE = 0,
    LINK_DETAIL_BAD_SETTINGS = 1,  // remote port missing or not 1-65535, local port not 0-65535
    LINK_DETAIL_NO_ADDRESS = 2,    // the remote address does not resolve
    LINK_DETAIL_BIND = 3,          // the local port cannot be bound
    LINK_DETAIL_REFUSED = 4,       // the peer refused the connection
    LINK_DETAIL_TIMEOUT = 5,       // no answer to the connection attempt in time
    LINK_DETAIL_PEER_CLOSED = 6,   // the peer closed an established connection
    LINK_DETAIL_NETWORK = 7,       // any other socket failure
    LINK_DETAIL_SERIAL_LOST = 8,   // the port's serial side went away
};

// What the service must do after an event.
enum {
    LINK_DO_NOTHING = 0,
    LINK_DO_RESOLVE = 1,   // look the remote address up, then report linkResolved
    LINK_DO_OPEN = 2,      // open the socket (bind, connect); report connected or failed
    LINK_DO_CLOSE = 4,     // drop the socket and anything in flight
};

enum LinkPhase {
    LINK_PHASE_IDLE = 0,      // stopped, or halted on bad settings or a lost serial side
    LINK_PHASE_RESOLVING,
    LINK_PHASE_OPENING,
    LINK_PHASE_UP,
    LINK_PHASE_WAITING,       // until retryAt
};

struct LinkSettings {
    int udp;                  // protocol "udp"; anything else is a TCP client
    uint16_t remotePort;
    uint16_t localPort;       // 0: any
    char host[LINK_HOST_MAX + 1];
};

struct LinkMachine {
    int phase;
    uint32_t state;           // linkState to publish
    uint32_t detail;          // linkDetail to publish
    int failures;             // attempts failed in a row
    int64_t retryAt;          // ms, in LINK_PHASE_WAITING
    int64_t deadline;         // ms, in LINK_PHASE_OPENING (TCP)
    int udp;
};

// A port number text: decimal digits only, at most 5, value within range.
// allowZero accepts 0 (a local port of 0 means any). Returns 1 when valid.
int parsePortNumber(const char* text, int allowZero, uint16_t* out);

// Reads the entry's link settings (fixed-width fields, never past them).
// Returns 1 when usable, 0 when a port number is invalid or the address empty.
int readLinkSettings(const PortEntry* entry, LinkSettings* out);

// The wait before retry number `failures` (1 for the first retry).
int retryDelayMs(int failures);

// Events. Each returns the LINK_DO_* actions to carry out, in the order
// close, resolve, open.
int linkStart(LinkMachine* m, int udp, int settingsUsable, int64_t nowMs);
int linkStop(LinkMachine* m);
int linkHalt(LinkMachine* m, uint32_t detail);     // lost serial side: failed until restarted
int linkResolved(LinkMachine* m, int found, int64_t nowMs);
int linkOpened(LinkMachine* m);                    // connected (TCP) or bound (UDP)
int linkFailed(LinkMachine* m, uint32_t detail, int64_t nowMs);
int linkPeerClosed(LinkMachine* m, int64_t nowMs);
int linkTick(LinkMachine* m, int64_t nowMs);       // time-outs and retries

// The next time linkTick has something to do, or -1.
int64_t linkNextDeadline(const LinkMachine* m);

// Whether data is carried now.
inline int linkIsUp(const LinkMachine* m) { return m->phase == LINK_PHASE_UP; }
