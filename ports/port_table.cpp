// Entry operations on the shared port table.
#include "ports/port_table.h"

#include <cstring>

PortTable* portTable = nullptr;

size_t copyField(char* out, size_t outSize, const char* field, size_t fieldSize)
{
    if (outSize == 0)
        return 0;
    size_t n = 0;
    while (n < fieldSize && n + 1 < outSize && field[n] != '\0') {
        out[n] = field[n];
        n++;
    }
    out[n] = '\0';
    return n;
}

int storeField(char* field, size_t fieldSize, const char* text)
{
    size_t n = strlen(text);
    int whole = 1;
    if (n >= fieldSize) {
        n = fieldSize - 1;
        whole = 0;
    }
    memcpy(field, text, n);
    field[n] = '\0';
    return whole;
}

static void zeroAndStore(char* field, size_t fieldSize, const char* text)
{
    memset(field, 0, fieldSize);
    storeField(field, fieldSize, text);
}

size_t comName(const PortEntry* entry, char* out, size_t outSize)
{
    return copyField(out, outSize, entry->portName + COM_NAME_PREFIX_LEN,
                     sizeof entry->portName - COM_NAME_PREFIX_LEN);
}

int comNumber(const PortEntry* entry)
{
    char name[COM_NAME_MAX + 1];
    comName(entry, name, sizeof name);
    if (strncmp(name, "COM", 3) != 0)
        return 0;
    int n = 0;
    for (const char* p = name + 3; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (*p - '0');
        if (n > 1000000)
            break;
    }
    return n;
}

static bool validIndex(int index) { return index >= 0 && index < PORT_TABLE_ENTRIES; }

int writePortEntry(PortTable* table, int index, const char* portName, const char* remoteAddress,
                   const char* remotePort, const char* stateWord, const char* protocolWord,
                   const char* localPort)
{
    if (!table || !validIndex(index))
        return 0;
    PortEntry* e = &table->entries[index];
    // Texts go in with their terminator; the rest of each field keeps its old bytes.
    storeField(e->portName, sizeof e->portName, portName);
    storeField(e->remoteAddress, sizeof e->remoteAddress, remoteAddress);
    storeField(e->remotePort, sizeof e->remotePort, remotePort);
    writeShared(&e->command, strcmp(stateWord, "enable") == 0 ? PORT_START : PORT_STOP);
    storeField(e->protocol, sizeof e->protocol, strcmp(protocolWord, "udp") == 0 ? "udp" : "tcpc");
    storeField(e->localPort, sizeof e->localPort, localPort[0] ? localPort : "0");
    // inUse last: the entry is complete before anyone selects it by this word.
    publishShared(&e->inUse, 1u);
    return 1;
}

int retargetPortEntry(PortTable* table, int index, const char* remotePort, const char* localPort,
                      const char* protocolWord, const char* remoteAddress)
{
    if (!table || !validIndex(index))
        return 0;
    PortEntry* e = &table->entries[index];
    zeroAndStore(e->remotePort, sizeof e->remotePort, remotePort);
    zeroAndStore(e->localPort, sizeof e->localPort, localPort[0] ? localPort : "0");
    zeroAndStore(e->protocol, sizeof e->protocol, protocolWord);
    zeroAndStore(e->remoteAddress, sizeof e->remoteAddress, remoteAddress);
    // A stopped port stays stopped and takes the new target when started.
    if (readShared(&e->command) != PORT_STOP)
        publishShared(&e->command, PORT_RESTART);
    return 1;
}

void restartPort(PortTable* table, int index)
{
    if (!table)
        return;
    if (index >= 0) {
        if (validIndex(index))
            writeShared(&table->entries[index].command, PORT_RESTART);
        return;
    }
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        if (readShared(&table->entries[i].present))
            writeShared(&table->entries[i].command, PORT_RESTART);
}

int findFreeEntry(const PortTable* table)
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        if (!acquireShared(&table->entries[i].present))
            return i;
    return -1;
}

int findEntryByComName(const PortTable* table, const char* name)
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &table->entries[i];
        if (!acquireShared(&e->present))
            continue;
        char own[COM_NAME_MAX + 1];
        comName(e, own, sizeof own);
        if (strcmp(own, name) == 0)
            return i;
    }
    return -1;
}

const char* linkStateText(uint32_t linkState)
{
    switch (linkState) {
    case 0: return " ";
    case LINK_FAILED: return "Connection failed.";
    case LINK_CONNECTING: return "Connecting...";
    case LINK_CONNECTED: return "Connected";
    case LINK_DISCONNECTED: return "Disconnected";
    case LINK_STOPPED: return "Stop";
    default: return "";
    }
}
