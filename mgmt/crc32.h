// Standard CRC-32 (reflected polynomial 0xEDB88320) over a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t crc32(const void* data, size_t count);
