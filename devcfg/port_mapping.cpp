// The search for the port table entry bound to a device serial port.
#include "devcfg/port_mapping.h"

#include <cstdio>
#include <cstring>

#include "devcfg/device_texts.h"

int findPortMappingIn(const PortTable* table, uint32_t deviceAddress, uint16_t devicePort)
{
    if (!table)
        return -1;
    char address[16], port[8];
    addressText(deviceAddress, address, sizeof address);
    snprintf(port, sizeof port, "%u", devicePort);
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &table->entries[i];
        if (!e->present)
            continue;
        char remoteAddress[128], remotePort[32];
        copyField(remoteAddress, sizeof remoteAddress, e->remoteAddress, sizeof e->remoteAddress);
        copyField(remotePort, sizeof remotePort, e->remotePort, sizeof e->remotePort);
        if (strcmp(remoteAddress, address) == 0 && strcmp(remotePort, port) == 0)
            return i;
    }
    return -1;
}
