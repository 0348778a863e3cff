// The host's pass over the table: take-up, requests and capture for every entry.
#include <windows.h>

#include "host/host_logic.h"
#include "host/host_ports_win.h"
#include "host/host_restore.h"
#include "ports/port_table.h"

static HostPortState portStates[PORT_TABLE_ENTRIES];
static int64_t tickRate;

static int64_t nowTicks()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

static int openPort(void*, int) { return 1; }
static void closePort(void*, int) {}

static void startLink(void*, int index)
{
    writeShared(&portTable->entries[index].linkState, LINK_CONNECTING);
}

static void stopLink(void*, int) {}

static const HostPortOps portOps = {nullptr, openPort, closePort, startLink, stopLink};

int startHostPorts()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    tickRate = f.QuadPart;
    restorePortsFromConfigFile();
    return 1;
}

void serviceAllPorts()
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        serviceHostEntry(portTable, i, &portStates[i], &portOps);
        if (portStates[i].held)
            serviceCaptureCommand(&portTable->entries[i], nowTicks(), tickRate);
    }
}

void stopHostPorts()
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        if (portStates[i].held && portStates[i].running)
            stopLink(nullptr, i);
}
