// Classification of status and serial-port-list replies, and the loops that wait for them.
#include "mgmt/mgmt_receive.h"

#include <cstring>

#include "mgmt/crc32.h"
#include "mgmt/mgmt_packet.h"

namespace {

enum { SERIAL_CONFIG_SIZE = (int)sizeof(SerialPortConfig) };

// Code as a zero-cleared receive buffer would show it, from what arrived.
uint16_t receivedCode(const uint8_t* datagram, int received)
{
    uint8_t low = received > 0 ? datagram[0] : 0;
    uint8_t high = received > 1 ? datagram[1] : 0;
    return (uint16_t)(low | (high << 8));
}

// Header and payload present and the CRC right: 0, else the outcome.
int checkIntegrity(const uint8_t* datagram, int received, int* length)
{
    if (received < MGMT_HEADER_SIZE)
        return MGMT_OUTCOME_CORRUPT;
    *length = getLe16(datagram + 2);
    if (*length > received - MGMT_HEADER_SIZE)
        return MGMT_OUTCOME_CORRUPT;
    if (crc32(datagram + MGMT_HEADER_SIZE, (size_t)*length) != getLe32(datagram + 4))
        return MGMT_OUTCOME_CORRUPT;
    return MGMT_OUTCOME_OK;
}

int sameDevice(const uint8_t* payload, const uint8_t serialNumber[12])
{
    return memcmp(payload, serialNumber, MGMT_SERIAL_SIZE) == 0;
}

// A status reply that passed its integrity check.
int takeStatus(const uint8_t* payload, int length, const uint8_t serialNumber[12], uint32_t* status)
{
    // Shorter than serial number and status: reading on would take bytes
    // that never arrived as the device's answer.
    if (length < MGMT_STATUS_REPLY_LENGTH)
        return MGMT_OUTCOME_CORRUPT;
    if (!sameDevice(payload, serialNumber))
        return MGMT_OUTCOME_OTHER_DEVICE;
    *status = getLe32(payload + MGMT_SERIAL_SIZE);
    return MGMT_OUTCOME_OK;
}

}  // namespace

int classifyStatusReply(const uint8_t* datagram, int received, const uint8_t serialNumber[12],
                        uint32_t* status)
{
    if (received < 0 || received > MGMT_MAX_DATAGRAM)
        return MGMT_OUTCOME_NO_REPLY;
    if (receivedCode(datagram, received) != MGMT_STATUS_REPLY)
        return MGMT_SKIP;
    int length = 0;
    int integrity = checkIntegrity(datagram, received, &length);
    if (integrity != MGMT_OUTCOME_OK)
        return integrity;
    return takeStatus(datagram + MGMT_HEADER_SIZE, length, serialNumber, status);
}

int classifyConfigReply(const uint8_t* datagram, int received, const uint8_t serialNumber[12],
                        uint32_t* status, SerialPortConfig* configs, int capacity, int* count)
{
    if (received < 0 || received > MGMT_MAX_DATAGRAM)
        return MGMT_OUTCOME_NO_REPLY;
    uint16_t code = receivedCode(datagram, received);
    if (code != MGMT_STATUS_REPLY && code != MGMT_SERIAL_CONFIG_REPLY)
        return MGMT_SKIP;
    int length = 0;
    int integrity = checkIntegrity(datagram, received, &length);
    if (integrity != MGMT_OUTCOME_OK)
        return integrity;
    const uint8_t* payload = datagram + MGMT_HEADER_SIZE;
    if (code == MGMT_STATUS_REPLY)
        return takeStatus(payload, length, serialNumber, status);

    // Without a whole serial number the list is malformed before any
    // device can be told from another.
    if (length < MGMT_SERIAL_SIZE)
        return MGMT_OUTCOME_BAD_LIST;
    if (!sameDevice(payload, serialNumber))
        return MGMT_OUTCOME_OTHER_DEVICE;
    int listBytes = length - MGMT_SERIAL_SIZE;
    if (listBytes % SERIAL_CONFIG_SIZE != 0)
        return MGMT_OUTCOME_BAD_LIST;
    int n = listBytes / SERIAL_CONFIG_SIZE;
    if (n > capacity)
        return MGMT_OUTCOME_BAD_LIST;
    if (n > 0)
        memcpy(configs, payload + MGMT_SERIAL_SIZE, (size_t)listBytes);
    *count = n;
    return MGMT_OUTCOME_OK;
}

int receiveStatusReplyFrom(MgmtReceiveFn receive, void* context, const uint8_t serialNumber[12],
                           uint32_t* status)
{
    uint8_t buffer[MGMT_MAX_DATAGRAM];
    for (int skipped = 0; skipped <= MGMT_MAX_SKIPPED; skipped++) {
        memset(buffer, 0, sizeof buffer);
        int received = receive(context, buffer, (int)sizeof buffer);
        if (received < 0)
            return MGMT_OUTCOME_NO_REPLY;
        int outcome = classifyStatusReply(buffer, received, serialNumber, status);
        if (outcome != MGMT_SKIP)
            return outcome;
    }
    return MGMT_OUTCOME_NO_REPLY;
}

int receiveConfigReplyFrom(MgmtReceiveFn receive, void* context, const uint8_t serialNumber[12],
                           uint32_t* status, SerialPortConfig* configs, int capacity, int* count)
{
    uint8_t buffer[MGMT_MAX_DATAGRAM];
    for (int skipped = 0; skipped <= MGMT_MAX_SKIPPED; skipped++) {
        memset(buffer, 0, sizeof buffer);
        int received = receive(context, buffer, (int)sizeof buffer);
        if (received < 0)
            return MGMT_OUTCOME_NO_REPLY;
        int outcome = classifyConfigReply(buffer, received, serialNumber, status, configs, capacity, count);
        if (outcome != MGMT_SKIP)
            return outcome;
    }
    return MGMT_OUTCOME_NO_REPLY;
}
