// MD5 message digest (RFC 1321), incremental and over a list of strings.
#pragma once

#include <cstddef>
#include <cstdint>

struct Md5Context {
    uint32_t state[4];
    uint64_t bitCount;
    uint8_t block[64];
};

void md5Init(Md5Context* ctx);
void md5Update(Md5Context* ctx, const void* data, size_t count);
void md5Final(Md5Context* ctx, uint8_t digest[16]);

// MD5 of the concatenation of NUL-terminated strings, each without its
// terminator. The list ends with a null entry: md5OfStrings(d, a, b, (const char*)0).
void md5OfStrings(uint8_t digest[16], ...);
