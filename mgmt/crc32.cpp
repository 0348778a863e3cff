// Table-driven CRC-32, the checksum of every management datagram's payload.
#include "mgmt/crc32.h"

namespace {

struct CrcTable {
    uint32_t entry[256];
};

constexpr CrcTable makeCrcTable()
{
    CrcTable table{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; bit++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entry[i] = c;
    }
    return table;
}

constexpr CrcTable crcTable = makeCrcTable();

}  // namespace

uint32_t crc32(const void* data, size_t count)
{
    const uint8_t* p = (const uint8_t*)data;
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; i++)
        c = crcTable.entry[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
