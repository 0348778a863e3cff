// Code-to-text and text-to-code tables of device serial port settings.
#include "devcfg/device_texts.h"

#include <cstdio>
#include <cstring>

const char* const baudRateTable[BAUD_RATE_CHOICES] = {"1200",  "2400",  "4800",   "9600",   "19200", "38400",
                                                      "57600", "115200", "230400", "460800", "921600"};
const char* const dataBitsTable[DATA_BITS_CHOICES] = {"5", "6", "7", "8"};
const char* const parityTable[PARITY_CHOICES] = {"None", "Even", "Odd"};
const char* const stopBitsTable[STOP_BITS_CHOICES] = {"0.5", "1", "1.5", "2"};

const char* interfaceName(unsigned code)
{
    switch (code) {
    case 1: return "RS-232";
    case 2: return "RS-485";
    case 4: return "TTL";
    }
    return " ";
}

const char* dataBitsName(unsigned code) { return code < DATA_BITS_CHOICES ? dataBitsTable[code] : " "; }
const char* parityName(unsigned code) { return code < PARITY_CHOICES ? parityTable[code] : " "; }
const char* stopBitsName(unsigned code) { return code < STOP_BITS_CHOICES ? stopBitsTable[code] : " "; }

static int indexOf(const char* const* table, int count, const char* text)
{
    for (int i = 0; i < count; i++)
        if (strcmp(table[i], text) == 0)
            return i;
    return -1;
}

unsigned dataBitsCode(const char* text)
{
    int i = indexOf(dataBitsTable, DATA_BITS_CHOICES, text);
    return i < 0 ? 3 : (unsigned)i;
}

unsigned parityCode(const char* text)
{
    int i = indexOf(parityTable, PARITY_CHOICES, text);
    return i < 0 ? 0 : (unsigned)i;
}

unsigned stopBitsCode(const char* text)
{
    int i = indexOf(stopBitsTable, STOP_BITS_CHOICES, text);
    return i < 0 ? 1 : (unsigned)i;
}

int interfaceCode(const char* text)
{
    if (strcmp(text, "RS-232") == 0)
        return 1;
    if (strcmp(text, "RS-485") == 0)
        return 2;
    if (strcmp(text, "TTL") == 0)
        return 4;
    return -1;
}

uint32_t leadingNumber(const char* text, uint32_t limit)
{
    uint32_t n = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        if (n > limit)
            continue;
        n = n * 10 + (uint32_t)(*text - '0');
    }
    return n;
}

void addressText(uint32_t address, char* out, int outSize)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    snprintf(out, outSize, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}
