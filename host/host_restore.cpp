// Putting the entries read from parlo.ini back into an empty table.
#include "host/host_restore.h"

#include <cstdio>

int tableInUse(const PortTable* table)
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        if (readShared(&table->entries[i].inUse))
            return 1;
    return 0;
}

int restoreEntries(PortTable* table, const ConfigEntry* entries, int count, PairCreator createPair,
                   void* context)
{
    if (!table || tableInUse(table))
        return 0;
    if (count > PORT_TABLE_ENTRIES)
        count = PORT_TABLE_ENTRIES;
    int written = 0;
    for (int i = 0; i < count; i++) {
        const ConfigEntry* c = &entries[i];
        char nullName[COM_NAME_MAX + 8];
        char portName[COM_NAME_MAX + COM_NAME_PREFIX_LEN + 1];
        snprintf(nullName, sizeof nullName, "NULL_%s", c->comName);
        snprintf(portName, sizeof portName, PORT_NAME_PREFIX "%s", c->comName);
        if (createPair)
            createPair(context, c->comName, nullName);
        written += writePortEntry(table, i, portName, c->remoteAddress, c->remotePort, c->stateWord,
                                  c->protocol, c->localPort);
    }
    return written;
}
