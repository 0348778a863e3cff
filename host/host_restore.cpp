// Putting the entries read from parlo.ini back into a new table.
#include "host/host_restore.h"

#include <cstdio>

void createEntryPairs(const ConfigEntry* entries, int count, PairCreator createPair, void* context)
{
    if (!createPair)
        return;
    for (int i = 0; i < count && i < PORT_TABLE_ENTRIES; i++) {
        char nullName[COM_NAME_MAX + 8];
        snprintf(nullName, sizeof nullName, "NULL_%s", entries[i].comName);
        createPair(context, entries[i].comName, nullName);
    }
}

// Sets inUse of a slot nobody has written; the manager may be writing into the table already.
static int claimEntry(PortEntry* e)
{
    uint32_t expected = 0;
    return __atomic_compare_exchange_n(&e->inUse, &expected, 1u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

int restoreEntries(PortTable* table, const ConfigEntry* entries, int count)
{
    if (!table)
        return 0;
    int written = 0;
    int slot = 0;
    for (int i = 0; i < count && slot < PORT_TABLE_ENTRIES; i++, slot++) {
        while (slot < PORT_TABLE_ENTRIES && !claimEntry(&table->entries[slot]))
            slot++;
        if (slot == PORT_TABLE_ENTRIES)
            break;
        const ConfigEntry* c = &entries[i];
        char portName[COM_NAME_MAX + COM_NAME_PREFIX_LEN + 1];
        snprintf(portName, sizeof portName, PORT_NAME_PREFIX "%s", c->comName);
        written += writePortEntry(table, slot, portName, c->remoteAddress, c->remotePort, c->stateWord,
                                  c->protocol, c->localPort);
    }
    return written;
}
