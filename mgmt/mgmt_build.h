// Building management datagrams into byte buffers.
#pragma once

#include <cstdint>

#include "mgmt/device_records.h"

// Writes code, length and the payload's CRC into the header of a datagram
// whose payload already sits at offset 8. Returns the datagram length
// (payloadLength + 8), or 0 when it would not fit `capacity` or 1024 bytes.
int finishMgmtPacket(uint8_t* buffer, int capacity, uint16_t code, int payloadLength);

// The 12-byte discovery probe. Returns 12, or 0 when capacity is too small.
int buildDiscoveryProbe(uint8_t* buffer, int capacity);

// An authenticated request to `target`: its serial number, a fresh digest
// of the current credentials, then commandLength command bytes. Returns the
// datagram length, or 0 when it does not fit.
int buildAuthenticatedRequest(uint8_t* buffer, int capacity, uint16_t code, const DeviceRecord* target,
                              const uint8_t* commandBytes, int commandLength);
