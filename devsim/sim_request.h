// A simulated device's answer to one management datagram: replies and state changes, without sockets.
#pragma once

#include <cstdint>

#include "devsim/sim_model.h"

enum {
    SIM_MAX_OUT = SIM_MAX_JUNK + SIM_MAX_DUPLICATES + 4,
    // A list of 32 ports: longer than the manager's buffer, sent all the same.
    SIM_MAX_DATAGRAM = 8 + 12 + SIM_MAX_PORTS * 68,
};

struct OutDatagram {
    int delayMs;
    int length;
    uint8_t data[SIM_MAX_DATAGRAM];
};

struct ReplyBatch {
    int count;
    OutDatagram items[SIM_MAX_OUT];
};

struct RequestEffects {
    int reboot;              // reboot after the reply went out
    uint32_t portsChanged;   // bit i: serial port i+1 was reconfigured
};

// Handles one datagram as `device` hears it at `nowMs` from `from`
// ("a.b.c.d:port", for the log). Appends what the device sends, in order,
// to `out` and records state changes in `effects`. Returns 1 when the
// device took the datagram as meant for itself (and logged it), else 0.
int handleMgmtDatagram(SimDevice* device, const uint8_t* datagram, int length, const char* from, int64_t nowMs,
                       ReplyBatch* out, RequestEffects* effects);

// Puts pending network settings in effect and starts the device's reboot
// pause (rebootMs) at nowMs.
void rebootSimDevice(SimDevice* device, int64_t nowMs);

// Sets the misbehaviour to nothing.
void clearMisbehaviour(Misbehaviour* m);
