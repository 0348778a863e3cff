// Request handling of a simulated device server: discovery, authenticated commands, misbehaviour.
#include "devsim/sim_request.h"

#include <cstring>

#include "mgmt/credentials.h"
#include "mgmt/crc32.h"
#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"

namespace {

enum { REPLY_BUFFER = MGMT_HEADER_SIZE + MGMT_SERIAL_SIZE + SIM_MAX_PORTS * (int)sizeof(SerialPortConfig) };

OutDatagram* nextOut(ReplyBatch* out)
{
    if (out->count >= SIM_MAX_OUT)
        return nullptr;
    OutDatagram* d = &out->items[out->count++];
    memset(d, 0, sizeof *d);
    return d;
}

void pushCopy(ReplyBatch* out, const uint8_t* data, int length, int delayMs)
{
    if (length > SIM_MAX_DATAGRAM)
        return;
    OutDatagram* d = nextOut(out);
    if (!d)
        return;
    memcpy(d->data, data, (size_t)length);
    d->length = length;
    d->delayMs = delayMs;
}

// Datagrams that a manager waiting for `isDiscovery` replies must skip.
void pushJunk(ReplyBatch* out, const SimDevice* device, int index, int isDiscovery, int delayMs)
{
    uint8_t d[MGMT_HEADER_SIZE + MGMT_DISCOVER_REPLY_LENGTH] = {};
    int length;
    if (index % 2 == 0) {
        // Looks like a status reply "done", but code 511.
        memcpy(d + 8, device->record.serialNumber, 12);
        length = finishMgmtPacket(d, sizeof d, MGMT_STATUS_REPLY, MGMT_STATUS_REPLY_LENGTH);
        d[1] = 0x01;
    } else if (!isDiscovery) {
        DeviceRecord phantom = device->record;
        memcpy(phantom.serialNumber, "JUNK00000000", 12);
        memcpy(d + 8, &phantom, sizeof phantom);
        length = finishMgmtPacket(d, sizeof d, MGMT_DISCOVER_REPLY, MGMT_DISCOVER_REPLY_LENGTH);
    } else {
        d[8] = 0xAA, d[9] = 0xBB, d[10] = 0xCC, d[11] = 0xDD;
        length = finishMgmtPacket(d, sizeof d, MGMT_DISCOVER, MGMT_DISCOVER_LENGTH);
    }
    pushCopy(out, d, length, delayMs);
}

void pushOversize(ReplyBatch* out, const SimDevice* device, int delayMs)
{
    // A whole, valid status reply "done" padded past 1024 bytes: a manager
    // that quietly truncated it would take it as success.
    uint8_t d[SIM_OVERSIZE_BYTES] = {};
    memcpy(d + 8, device->record.serialNumber, 12);
    putLe16(d, MGMT_STATUS_REPLY);
    putLe16(d + 2, SIM_OVERSIZE_BYTES - MGMT_HEADER_SIZE);
    putLe32(d + 4, crc32(d + 8, SIM_OVERSIZE_BYTES - MGMT_HEADER_SIZE));
    pushCopy(out, d, SIM_OVERSIZE_BYTES, delayMs);
}

int misbehaviourApplies(const Misbehaviour* m, int isDiscovery)
{
    if (!m->active)
        return 0;
    if (m->scope == SCOPE_DISCOVER)
        return isDiscovery;
    if (m->scope == SCOPE_COMMAND)
        return !isDiscovery;
    return 1;
}

void emitMisbehaving(SimDevice* device, int isDiscovery, uint8_t* reply, int length, ReplyBatch* out)
{
    const Misbehaviour* m = &device->misbehaviour;
    int delay = m->delayMs;
    for (int i = 0; i < m->junk; i++)
        pushJunk(out, device, i, isDiscovery, delay);
    if (m->oversize)
        pushOversize(out, device, delay);
    int payloadLength = length - MGMT_HEADER_SIZE;
    if (m->foreignFirst) {
        uint8_t foreign[REPLY_BUFFER];
        memcpy(foreign, reply, (size_t)length);
        memcpy(foreign + 8, m->otherSerial, 12);
        putLe32(foreign + 4, crc32(foreign + 8, (size_t)payloadLength));
        pushCopy(out, foreign, length, delay);
    }
    if (m->wrongSerial) {
        memcpy(reply + 8, m->otherSerial, 12);
        putLe32(reply + 4, crc32(reply + 8, (size_t)payloadLength));
    }
    if (m->badCrc)
        reply[4] ^= 0x5A;
    for (int i = 0; i <= m->duplicates; i++)
        pushCopy(out, reply, length, delay);
}

// Sends `reply` (a whole datagram with the device's serial number at
// payload offset 0) as the device's misbehaviour dictates.
void emitReply(SimDevice* device, int isDiscovery, uint8_t* reply, int length, ReplyBatch* out)
{
    Misbehaviour* m = &device->misbehaviour;
    if (!misbehaviourApplies(m, isDiscovery)) {
        pushCopy(out, reply, length, 0);
        return;
    }
    if (!m->silent)
        emitMisbehaving(device, isDiscovery, reply, length, out);
    if (m->remaining > 0 && --m->remaining == 0)
        clearMisbehaviour(m);
}

void logRequest(SimDevice* device, const uint8_t* datagram, int payloadLength, int crcOk, const char* from,
                int64_t nowMs, int withPrefix, LogEntry** entry)
{
    LogEntry* e = appendLogEntry(device);
    e->timeMs = nowMs;
    strncpy(e->from, from ? from : "", sizeof e->from - 1);
    e->code = getLe16(datagram);
    e->length = payloadLength;
    e->crcOk = crcOk;
    const uint8_t* payload = datagram + MGMT_HEADER_SIZE;
    int skip = 0;
    if (withPrefix) {
        e->hasPrefix = 1;
        memcpy(e->serial, payload, 12);
        memcpy(e->digest, payload + 12, 16);
        skip = MGMT_AUTH_PREFIX_SIZE;
    }
    int rest = payloadLength - skip;
    if (rest > SIM_LOG_PAYLOAD)
        rest = SIM_LOG_PAYLOAD;
    if (rest > 0)
        memcpy(e->payload, payload + skip, (size_t)rest);
    e->payloadLength = rest > 0 ? rest : 0;
    *entry = e;
}

void replyStatus(SimDevice* device, uint32_t status, ReplyBatch* out, LogEntry* e)
{
    uint8_t d[MGMT_HEADER_SIZE + MGMT_STATUS_REPLY_LENGTH];
    memcpy(d + 8, device->record.serialNumber, 12);
    putLe32(d + 20, status);
    int length = finishMgmtPacket(d, sizeof d, MGMT_STATUS_REPLY, MGMT_STATUS_REPLY_LENGTH);
    e->replyCode = MGMT_STATUS_REPLY;
    e->replyStatus = status;
    emitReply(device, 0, d, length, out);
}

void replyPortList(SimDevice* device, ReplyBatch* out, LogEntry* e)
{
    uint8_t d[REPLY_BUFFER];
    memcpy(d + 8, device->record.serialNumber, 12);
    int n = device->portCount;
    for (int i = 0; i < n; i++)
        memcpy(d + 20 + i * sizeof(SerialPortConfig), &device->ports[i].config, sizeof(SerialPortConfig));
    int payloadLength = 12 + n * (int)sizeof(SerialPortConfig);
    // More ports than one datagram holds: header by hand, as the device would.
    putLe16(d, MGMT_SERIAL_CONFIG_REPLY);
    putLe16(d + 2, (uint16_t)payloadLength);
    putLe32(d + 4, crc32(d + 8, (size_t)payloadLength));
    e->replyCode = MGMT_SERIAL_CONFIG_REPLY;
    e->replyCount = n;
    emitReply(device, 0, d, payloadLength + MGMT_HEADER_SIZE, out);
}

int authorised(const SimDevice* device, const uint8_t* digest, uint32_t* refusal)
{
    if (device->auth == AUTH_REFUSE) {
        *refusal = device->refuseStatus;
        return 0;
    }
    if (device->auth == AUTH_ANY)
        return 1;
    char user[17] = {}, password[17] = {};
    memcpy(user, device->userName, 16);
    memcpy(password, device->password, 16);
    uint8_t expected[16];
    digestCredentials(user, password, expected);
    *refusal = MGMT_STATUS_AUTH_REQUIRED;
    return memcmp(expected, digest, 16) == 0;
}

void carryOut(SimDevice* device, uint16_t code, const uint8_t* payload, int payloadLength, ReplyBatch* out,
              RequestEffects* effects, LogEntry* e)
{
    const uint8_t* command = payload + MGMT_AUTH_PREFIX_SIZE;
    switch (code) {
    case MGMT_REBOOT:
        if (payloadLength != MGMT_REBOOT_LENGTH)
            break;
        replyStatus(device, MGMT_STATUS_DONE, out, e);
        effects->reboot = 1;
        return;
    case MGMT_SET_NETWORK:
        if (payloadLength != MGMT_SET_NETWORK_LENGTH)
            break;
        memcpy(&device->pendingNetwork, command, sizeof(NetworkConfig));
        device->networkPending = 1;
        replyStatus(device, MGMT_STATUS_DONE, out, e);
        return;
    case MGMT_GET_SERIAL_CONFIG:
        if (payloadLength != MGMT_GET_SERIAL_CONFIG_LENGTH)
            break;
        replyPortList(device, out, e);
        return;
    case MGMT_SET_SERIAL_CONFIG: {
        if (payloadLength != MGMT_SET_SERIAL_CONFIG_LENGTH)
            break;
        int port = command[0];
        if (port < 1 || port > device->portCount)
            break;
        memcpy(&device->ports[port - 1].config, command + 1, sizeof(SerialPortConfig));
        effects->portsChanged |= 1u << (port - 1);
        replyStatus(device, MGMT_STATUS_DONE, out, e);
        return;
    }
    }
    replyStatus(device, MGMT_STATUS_FAILED, out, e);
}

int handleDiscover(SimDevice* device, const uint8_t* datagram, int payloadLength, const char* from, int64_t nowMs,
                   ReplyBatch* out)
{
    static const uint8_t magic[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    if (payloadLength != MGMT_DISCOVER_LENGTH || memcmp(datagram + 8, magic, 4) != 0)
        return 0;
    LogEntry* e;
    logRequest(device, datagram, payloadLength, 1, from, nowMs, 0, &e);
    uint8_t d[MGMT_HEADER_SIZE + MGMT_DISCOVER_REPLY_LENGTH];
    memcpy(d + 8, &device->record, sizeof device->record);
    int length = finishMgmtPacket(d, sizeof d, MGMT_DISCOVER_REPLY, MGMT_DISCOVER_REPLY_LENGTH);
    e->replyCode = MGMT_DISCOVER_REPLY;
    emitReply(device, 1, d, length, out);
    return 1;
}

}  // namespace

void clearMisbehaviour(Misbehaviour* m)
{
    memset(m, 0, sizeof *m);
    m->remaining = -1;
}

void rebootSimDevice(SimDevice* device, int64_t nowMs)
{
    if (device->networkPending)
        device->record.network = device->pendingNetwork;
    device->networkPending = 0;
    device->rebootCount++;
    device->rebootingUntilMs = nowMs + device->rebootMs;
}

int handleMgmtDatagram(SimDevice* device, const uint8_t* datagram, int length, const char* from, int64_t nowMs,
                       ReplyBatch* out, RequestEffects* effects)
{
    if (!device->inUse || nowMs < device->rebootingUntilMs)
        return 0;
    if (length < MGMT_HEADER_SIZE || length > MGMT_MAX_DATAGRAM)
        return 0;
    uint16_t code = getLe16(datagram);
    int payloadLength = getLe16(datagram + 2);
    if (payloadLength > length - MGMT_HEADER_SIZE)
        return 0;
    const uint8_t* payload = datagram + MGMT_HEADER_SIZE;
    int crcOk = crc32(payload, (size_t)payloadLength) == getLe32(datagram + 4);

    if (code == MGMT_DISCOVER)
        return crcOk ? handleDiscover(device, datagram, payloadLength, from, nowMs, out) : 0;
    if (code != MGMT_REBOOT && code != MGMT_SET_NETWORK && code != MGMT_GET_SERIAL_CONFIG &&
        code != MGMT_SET_SERIAL_CONFIG)
        return 0;
    if (payloadLength < MGMT_AUTH_PREFIX_SIZE || memcmp(payload, device->record.serialNumber, 12) != 0)
        return 0;

    LogEntry* e;
    logRequest(device, datagram, payloadLength, crcOk, from, nowMs, 1, &e);
    if (!crcOk)
        return 1;  // a corrupt request gets no answer
    uint32_t refusal = 0;
    if (!authorised(device, payload + MGMT_SERIAL_SIZE, &refusal)) {
        replyStatus(device, refusal, out, e);
        return 1;
    }
    carryOut(device, code, payload, payloadLength, out, effects, e);
    return 1;
}
