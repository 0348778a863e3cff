// Picking a device's reply out of received datagrams: classification and the receive loops.
#pragma once

#include <cstdint>

#include "mgmt/device_records.h"

// Receive outcomes, shown to the user by number.
enum {
    MGMT_SKIP = -1,               // not a reply we wait for: wait for the next datagram
    MGMT_OUTCOME_OK = 0,
    MGMT_OUTCOME_NO_REPLY = 1,    // timed out or the receive failed
    MGMT_OUTCOME_CORRUPT = 2,     // bad CRC, or the reply is cut short
    MGMT_OUTCOME_OTHER_DEVICE = 3,
    MGMT_OUTCOME_BAD_LIST = 4,    // malformed serial port list
};

// Bounds the wait for one reply against a flood of unrelated datagrams, each
// of which restarts the 1000 ms wait.
enum { MGMT_MAX_SKIPPED = 1024 };

// Waits (up to 1000 ms) for one datagram and copies at most `capacity` bytes
// of it into `buffer`. Returns the byte count, or -1 on time-out, on failure
// and for a datagram longer than `capacity`.
typedef int (*MgmtReceiveFn)(void* context, uint8_t* buffer, int capacity);

// Classifies one datagram of `received` bytes while waiting for a status
// reply from the device with `serialNumber`: MGMT_SKIP or an outcome 0-4.
// Nothing beyond `received` bytes is read. On 0, *status holds the status.
int classifyStatusReply(const uint8_t* datagram, int received, const uint8_t serialNumber[12],
                        uint32_t* status);

// As classifyStatusReply, also accepting a serial port list. On 0 from a
// list, configs[0..*count-1] hold its records (at most `capacity` are ever
// stored; a longer list is outcome 4) and *status is left as it was.
int classifyConfigReply(const uint8_t* datagram, int received, const uint8_t serialNumber[12],
                        uint32_t* status, SerialPortConfig* configs, int capacity, int* count);

// The receive loops: wait, skip what is not ours, classify the first
// datagram with an accepted code. Return an outcome 0-4.
int receiveStatusReplyFrom(MgmtReceiveFn receive, void* context, const uint8_t serialNumber[12],
                           uint32_t* status);
int receiveConfigReplyFrom(MgmtReceiveFn receive, void* context, const uint8_t serialNumber[12],
                           uint32_t* status, SerialPortConfig* configs, int capacity, int* count);
