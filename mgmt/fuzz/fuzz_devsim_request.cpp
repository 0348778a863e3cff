// Fuzz target: a simulated device's handling of arbitrary management datagrams.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "devsim/sim_request.h"
#include "mgmt/crc32.h"
#include "mgmt/mgmt_packet.h"

// The last input byte holds flags for the device and the datagram; the
// bytes before it are the datagram.
enum { FLAG_AUTH_ANY = 1, FLAG_MISBEHAVE = 2, FLAG_OWN_SERIAL = 4, FLAG_FIX_CRC = 8 };

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SimDevice* device = new SimDevice;
    static ReplyBatch* batch = new ReplyBatch;
    if (size < 1)
        return 0;
    uint8_t flags = data[size - 1];
    size--;

    initSimDevice(device);
    memcpy(device->record.serialNumber, "FUZZSERIAL01", 12);
    device->portCount = 3;
    device->auth = (flags & FLAG_AUTH_ANY) ? AUTH_ANY : AUTH_CHECK;
    if (flags & FLAG_MISBEHAVE) {
        device->misbehaviour.active = 1;
        device->misbehaviour.junk = SIM_MAX_JUNK;
        device->misbehaviour.duplicates = SIM_MAX_DUPLICATES;
        device->misbehaviour.foreignFirst = 1;
        device->misbehaviour.oversize = 1;
    }

    std::vector<uint8_t> datagram(data, data + size);
    // The device's serial number and a correct CRC on request, so the
    // fuzzer reaches the commands without guessing them.
    if ((flags & FLAG_OWN_SERIAL) && size >= MGMT_HEADER_SIZE + 12)
        memcpy(datagram.data() + MGMT_HEADER_SIZE, "FUZZSERIAL01", 12);
    if ((flags & FLAG_FIX_CRC) && size >= MGMT_HEADER_SIZE) {
        size_t length = getLe16(datagram.data() + 2);
        if (length <= size - MGMT_HEADER_SIZE)
            putLe32(datagram.data() + 4, crc32(datagram.data() + MGMT_HEADER_SIZE, length));
    }
    batch->count = 0;
    RequestEffects effects = {};
    handleMgmtDatagram(device, datagram.data(), (int)(size > 4096 ? 4096 : size), "127.0.0.1:1", 0, batch,
                       &effects);
    if (batch->count > SIM_MAX_OUT)
        __builtin_trap();
    for (int i = 0; i < batch->count; i++)
        if (batch->items[i].length <= 0 || batch->items[i].length > SIM_MAX_DATAGRAM)
            __builtin_trap();
    return 0;
}
