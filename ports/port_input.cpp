// Typed-text rules of the port dialogs and the search for a free local port.
#include "ports/port_input.h"

#include <cstring>

int leadingNumber(const char* text)
{
    int n = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; p++) {
        if (n >= PORT_NUMBER_CAP)
            break;
        n = n * 10 + (*p - '0');
    }
    return n;
}

const char* protocolWordFor(const char* connectionText)
{
    return strcmp(connectionText, "UDP") == 0 ? "udp" : "tcpc";
}

int hasSpace(const char* text)
{
    return strchr(text, ' ') != nullptr;
}

int largestLocalPort(const PortTable* table)
{
    if (!table)
        return 0;
    int largest = 0;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &table->entries[i];
        if (!e->present)
            continue;
        char text[sizeof e->localPort + 1];
        copyField(text, sizeof text, e->localPort, sizeof e->localPort);
        int n = leadingNumber(text);
        if (n > largest)
            largest = n;
    }
    return largest;
}

int findFreeLocalPort(const PortTable* table, int (*udpFree)(int port), int (*tcpFree)(int port))
{
    int largest = largestLocalPort(table);
    int candidate = largest == 0 ? FIRST_LOCAL_PORT : largest + 1;
    for (; candidate < LAST_LOCAL_PORT; candidate++)
        if (udpFree(candidate) && tcpFree(candidate))
            return candidate;
    return 0;
}
