// Management datagram layout, codes and the little-endian field helpers.
#pragma once

#include <cstddef>
#include <cstdint>

// Command and reply codes (u16 on the wire; the high byte is always 0).
enum : uint16_t {
    MGMT_REBOOT = 16,
    MGMT_SET_NETWORK = 18,
    MGMT_GET_SERIAL_CONFIG = 19,
    MGMT_SET_SERIAL_CONFIG = 20,
    MGMT_DISCOVER = 128,
    MGMT_DISCOVER_REPLY = 130,
    MGMT_SERIAL_CONFIG_REPLY = 147,
    MGMT_STATUS_REPLY = 255,
};

enum {
    MGMT_HEADER_SIZE = 8,
    MGMT_MAX_DATAGRAM = 1024,      // a reply is received into a buffer this big
    MGMT_MAX_PAYLOAD = MGMT_MAX_DATAGRAM - MGMT_HEADER_SIZE,
    MGMT_SERIAL_SIZE = 12,
    MGMT_DIGEST_SIZE = 16,
    MGMT_AUTH_PREFIX_SIZE = MGMT_SERIAL_SIZE + MGMT_DIGEST_SIZE,
    MGMT_PORT = 8,

    // Payload lengths of the fixed-size datagrams.
    MGMT_DISCOVER_LENGTH = 4,
    MGMT_DISCOVER_REPLY_LENGTH = 112,
    MGMT_REBOOT_LENGTH = MGMT_AUTH_PREFIX_SIZE + 1,
    MGMT_SET_NETWORK_LENGTH = MGMT_AUTH_PREFIX_SIZE + 28,
    MGMT_GET_SERIAL_CONFIG_LENGTH = MGMT_AUTH_PREFIX_SIZE + 1,
    MGMT_SET_SERIAL_CONFIG_LENGTH = MGMT_AUTH_PREFIX_SIZE + 1 + 68,
    MGMT_STATUS_REPLY_LENGTH = MGMT_SERIAL_SIZE + 4,
};

#define MGMT_GROUP_ADDRESS "239.222.222.222"

// Status values of a MGMT_STATUS_REPLY as the manager tells them apart.
enum { MGMT_STATUS_DONE = 0, MGMT_STATUS_AUTH_REQUIRED = 1, MGMT_STATUS_FAILED = 2 };

// Byte buffers from the network are read and written through these, so the
// code never depends on host byte order or on the buffer's alignment.
inline uint16_t getLe16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

inline uint32_t getLe32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

inline void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}
