// Fuzz target: taking device records out of discovery replies, singly and in the gathering loop.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mgmt/discovery_reply.h"
#include "mgmt/fuzz/fuzz_pieces.h"

namespace {

int count(void* c, const DeviceRecord* record)
{
    // Touch every byte so a partly uninitialised record would show.
    unsigned sum = 0;
    for (size_t i = 0; i < sizeof *record; i++)
        sum += ((const uint8_t*)record)[i];
    *(unsigned*)c += sum | 1;
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> datagram(data, data + size);
    DeviceRecord record;
    int received = (int)(size > 2048 ? 2048 : size);
    if (takeDiscoveryReply(datagram.data(), received, &record)) {
        // Bytes beyond what arrived must read as zero.
        size_t arrived = (size_t)received - 8;
        for (size_t i = arrived; i < sizeof record; i++)
            if (((const uint8_t*)&record)[i] != 0)
                __builtin_trap();
    }
    Pieces pieces = {data, size, 0};
    unsigned sum = 0;
    collectDiscoveryReplies(Pieces::receive, &pieces, count, &sum);
    return 0;
}
