// What the host does with one table entry on each pass: take up new ports,
// act on the manager's requests and run the capture ring. Portable, so the
// handshakes can be tested without Windows.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ports/port_table.h"
#include "vspd/vspdctl.h"

// The platform side of one port, supplied by the service.
struct HostPortOps {
    void* context;
    int (*openPort)(void* context, int index);   // 1 when the pair's far end opened
    void (*closePort)(void* context, int index);
    void (*startLink)(void* context, int index); // connect with the entry's settings
    void (*stopLink)(void* context, int index);
};

struct HostPortState {
    int held;     // we hold the virtual port and have set present
    int running;  // the link is meant to be up
    int adopt;    // an earlier host held it: take it up with its counters and capture as they are
};

// Whether an earlier host held the entry in a table that outlived it
// (present, in use, with a start, stop or restart), so that it is taken up
// as it is.
int isLiveEntry(const PortEntry* entry);

// Marks the ports an earlier host held (isLiveEntry) for taking up as they
// are. Returns how many.
int adoptLiveEntries(const PortTable* table, HostPortState* states);

// One pass over entry index; returns 1 when anything changed.
int serviceHostEntry(PortTable* table, int index, HostPortState* state, const HostPortOps* ops);

// Handles a pending captureCommand (a mailbox: consumed by setting it to 0).
// Returns a request it consumed without knowing it, else 0.
int32_t serviceCaptureCommand(PortEntry* entry, int64_t nowTicks, int64_t tickRate);

// Appends traffic to the capture ring while capture is active, in records of
// at most 512 bytes. rx is non-zero for bytes that came from the network.
// A record that finds the ring full (its slot's successor is the Monitor's
// read slot) is dropped and counted in captureDropped.
void captureTraffic(PortEntry* entry, int rx, const uint8_t* data, size_t length, int64_t nowTicks);

// Clears what the host publishes about a port it no longer holds.
void clearHostFields(PortEntry* entry);

// What a stopping host leaves in an entry it held, for a manager that keeps
// the table: the port stays listed for the next host to take over, shown
// Disconnected (a stopped one Stop) and closed, its counters and capture as
// they were.
void releaseHostEntry(PortEntry* entry);

// Atomic compare-and-swap on a shared word; returns 1 when it swapped.
int swapShared(volatile int32_t* word, int32_t expected, int32_t desired);

// What the host last published in an entry's counters. The manager zeroes a
// counter with two 32-bit stores at any time; a published value that differs
// from ours is such a clear, perhaps half done.
struct HostCounts {
    int64_t rx;
    int64_t tx;
};

// Adds n to a shared counter without ever losing a clear or leaving one of
// its halves behind: after a clear, counting starts again from n.
void countBytes(int64_t* counter, int64_t* own, int64_t n);

// Counts traffic that was carried (rx: bytes from the network, else bytes to
// it) and captures it while capture is active.
void recordTraffic(PortEntry* entry, HostCounts* own, int rx, const uint8_t* data, size_t length,
                   int64_t nowTicks);

// Publishes the pair's open state and line settings from the driver library;
// a missing or unknown pair shows as closed, with no settings.
void publishPairInfo(PortEntry* entry, const VspdPairInfo* info);

// The COM number of an entry whose portName is exactly "\\.\NULL_COM<n>"
// (n 1-256, no leading zero), else 0: the host opens no other device.
int hostPortNumber(const PortEntry* entry);
