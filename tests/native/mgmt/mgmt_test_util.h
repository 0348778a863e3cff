// Helpers shared by the management protocol tests: datagram builders and a scripted receiver.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"

typedef std::vector<uint8_t> Bytes;

inline Bytes datagram(uint16_t code, const Bytes& payload)
{
    Bytes out(MGMT_HEADER_SIZE + payload.size());
    std::copy(payload.begin(), payload.end(), out.begin() + MGMT_HEADER_SIZE);
    finishMgmtPacket(out.data(), (int)out.size(), code, (int)payload.size());
    return out;
}

inline Bytes serialBytes(const char* text)
{
    Bytes s(MGMT_SERIAL_SIZE, 0);
    memcpy(s.data(), text, strnlen(text, MGMT_SERIAL_SIZE));
    return s;
}

inline Bytes statusPayload(const char* serial, uint32_t status)
{
    Bytes p = serialBytes(serial);
    for (int i = 0; i < 4; i++)
        p.push_back((uint8_t)(status >> (8 * i)));
    return p;
}

inline Bytes listPayload(const char* serial, int records)
{
    Bytes p = serialBytes(serial);
    for (int r = 0; r < records; r++)
        for (int i = 0; i < 68; i++)
            p.push_back((uint8_t)(r * 68 + i));
    return p;
}

inline std::string hex(const uint8_t* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// Hands out queued datagrams one per receive, then times out. An entry
// longer than the caller's buffer fails the receive, as Winsock does.
struct ScriptedReceiver {
    std::vector<Bytes> queue;
    size_t next = 0;
    int calls = 0;

    static int receive(void* context, uint8_t* buffer, int capacity)
    {
        ScriptedReceiver* self = (ScriptedReceiver*)context;
        self->calls++;
        if (self->next >= self->queue.size())
            return -1;
        const Bytes& d = self->queue[self->next++];
        if ((int)d.size() > capacity)
            return -1;
        if (!d.empty())
            memcpy(buffer, d.data(), d.size());
        return (int)d.size();
    }
};
