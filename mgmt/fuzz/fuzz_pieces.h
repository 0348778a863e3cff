// The fuzz input handed to a receive loop as datagrams: each starts with a
// byte whose value times 8 is its length, so the input chooses the split.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

struct Pieces {
    const uint8_t* data;
    size_t size;
    size_t at;
    // A receive function for the loops: -1 once the input is used up or a
    // piece is larger than the buffer (that piece is then passed over).
    static int receive(void* c, uint8_t* buffer, int capacity)
    {
        Pieces* p = (Pieces*)c;
        if (p->at >= p->size)
            return -1;
        size_t n = p->data[p->at++] * 8u;
        if (n > p->size - p->at)
            n = p->size - p->at;
        if ((int)n > capacity) {
            p->at += n;
            return -1;
        }
        memcpy(buffer, p->data + p->at, n);
        p->at += n;
        return (int)n;
    }
};
