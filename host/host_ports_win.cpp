// The host's pass over the table: take-up, requests and capture for every
// entry, and the timers of the ports it holds.
#include "host/host_io_win.h"
#include "host/host_logic.h"
#include "host/host_ports_win.h"
#include "ports/port_table.h"

static HostPortState portStates[PORT_TABLE_ENTRIES];

static int openPort(void*, int index) { return portOpen(index); }
static void closePort(void*, int index) { portClose(index); }
static void startLink(void*, int index) { portStartLink(index); }
static void stopLink(void*, int index) { portStopLink(index); }

static const HostPortOps portOps = {nullptr, openPort, closePort, startLink, stopLink};

int startHostPorts()
{
    initPorts();
    if (!startHostIo())
        return 0;
    startResolver();
    startPairRefresh();
    return 1;
}

void serviceAllPorts()
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        serviceHostEntry(portTable, i, &portStates[i], &portOps);
        if (!portStates[i].held)
            continue;
        serviceCaptureCommand(&portTable->entries[i], hostNowTicks(), hostTickRate());
        portPass(i);
    }
}

void publishAllPairs()
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        if (portStates[i].held)
            portPublishPair(i);
    }
}

void waitForHostIo(DWORD waitMs)
{
    runHostIo(waitMs);
}

void wakeHost()
{
    wakeHostIo();
}

void stopHostPorts()
{
    stopPairRefresh();
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        if (portStates[i].held)
            portClose(i);
    }
    // Let the cancelled transfers report back before the port goes.
    for (int round = 0; round < 10; round++) {
        int busy = 0;
        for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
            busy |= !portIdle(i);
        if (!busy)
            break;
        runHostIo(20);
    }
    stopResolver();
    stopHostIo();
}
