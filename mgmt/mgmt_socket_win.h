// The management protocol's Winsock socket: opening, sending to the group, receiving replies.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "mgmt/device_records.h"

// A UDP socket on a system-chosen port that has joined the management group,
// with a 1000 ms receive time-out; INVALID_SOCKET on failure.
SOCKET openMgmtSocket();

// Sends one datagram to the group, port 8. The result is not examined.
void sendMgmtDatagram(SOCKET s, const uint8_t* datagram, int length);

// Sends the discovery probe to the group.
void sendDiscoveryProbe(SOCKET s);

// Receive callback for the portable loops (context: a SOCKET*). A time-out,
// a failure and a datagram too long for the buffer all give -1.
int receiveMgmtDatagram(void* context, uint8_t* buffer, int capacity);
