// Texts of the port list's cells that are built from the host's serial and counter fields.
#include "app/cell_text.h"

#include <cstdio>

const char* parityLetter(unsigned code)
{
    switch (code & 0xFF) {
    case 0: return "N";
    case 1: return "O";
    case 2: return "E";
    default: return " ";  // mark and space have no letter here
    }
}

const char* stopBitsText(unsigned code)
{
    switch (code & 0xFF) {
    case 0: return "1";
    case 1: return "1.5";
    case 2: return "2";
    default: return " ";
    }
}

// snprintf's result, kept within the buffer's bounds.
static int builtLength(int wanted, int outSize)
{
    if (wanted < 0)
        return 0;
    return wanted < outSize ? wanted : outSize - 1;
}

int openStateText(char* out, int outSize, unsigned comOpen, uint32_t baudRate, unsigned dataBits,
                  unsigned parity, unsigned stopBits)
{
    if (!out || outSize < 1)
        return 0;
    if (comOpen == 0)
        return builtLength(snprintf(out, (size_t)outSize, " "), outSize);
    return builtLength(snprintf(out, (size_t)outSize, "%d,%d%s%s", (int)baudRate, (int)dataBits,
                                parityLetter(parity), stopBitsText(stopBits)),
                       outSize);
}

int openStateText(const PortEntry* entry, char* out, int outSize)
{
    return openStateText(out, outSize, entry->comOpen, readShared(&entry->comBaudRate),
                         entry->comDataBits, entry->comParity, entry->comStopBits);
}

int counterText(int64_t count, char* out, int outSize)
{
    if (!out || outSize < 1)
        return 0;
    return builtLength(snprintf(out, (size_t)outSize, "%lld", (long long)count), outSize);
}
