// Discovery probe and authenticated request datagrams.
#include "mgmt/mgmt_build.h"

#include <cstring>

#include "mgmt/crc32.h"
#include "mgmt/credentials.h"
#include "mgmt/mgmt_packet.h"

int finishMgmtPacket(uint8_t* buffer, int capacity, uint16_t code, int payloadLength)
{
    if (payloadLength < 0 || payloadLength > MGMT_MAX_PAYLOAD)
        return 0;
    int total = payloadLength + MGMT_HEADER_SIZE;
    if (total > capacity)
        return 0;
    putLe16(buffer, code);
    putLe16(buffer + 2, (uint16_t)payloadLength);
    putLe32(buffer + 4, crc32(buffer + MGMT_HEADER_SIZE, (size_t)payloadLength));
    return total;
}

int buildDiscoveryProbe(uint8_t* buffer, int capacity)
{
    if (capacity < MGMT_HEADER_SIZE + MGMT_DISCOVER_LENGTH)
        return 0;
    static const uint8_t probe[MGMT_DISCOVER_LENGTH] = {0xAA, 0xBB, 0xCC, 0xDD};
    memcpy(buffer + MGMT_HEADER_SIZE, probe, sizeof probe);
    return finishMgmtPacket(buffer, capacity, MGMT_DISCOVER, MGMT_DISCOVER_LENGTH);
}

int buildAuthenticatedRequest(uint8_t* buffer, int capacity, uint16_t code, const DeviceRecord* target,
                              const uint8_t* commandBytes, int commandLength)
{
    if (commandLength < 0 || commandLength > MGMT_MAX_PAYLOAD - MGMT_AUTH_PREFIX_SIZE)
        return 0;
    int payloadLength = MGMT_AUTH_PREFIX_SIZE + commandLength;
    if (payloadLength + MGMT_HEADER_SIZE > capacity)
        return 0;
    uint8_t* payload = buffer + MGMT_HEADER_SIZE;
    memcpy(payload, target->serialNumber, MGMT_SERIAL_SIZE);
    computeAuthDigest(payload + MGMT_SERIAL_SIZE);
    if (commandLength > 0)
        memcpy(payload + MGMT_AUTH_PREFIX_SIZE, commandBytes, (size_t)commandLength);
    return finishMgmtPacket(buffer, capacity, code, payloadLength);
}
