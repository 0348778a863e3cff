// The host's pass over the table: take-up, requests and capture for every
// entry, and the timers of the ports it holds.
#include "host/host_eventlog_win.h"
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

int adoptHostPorts()
{
    return adoptLiveEntries(portTable, portStates);
}

int heldPorts()
{
    int n = 0;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        n += portStates[i].held;
    return n;
}

void serviceAllPorts()
{
    int64_t now = hostNowMs();
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        PortEntry* e = &portTable->entries[i];
        serviceHostEntry(portTable, i, &portStates[i], &portOps);
        hostEventCommand(hostEvents(), i, e, portStates[i].held, now);
        if (!portStates[i].held)
            continue;
        int32_t unknown = serviceCaptureCommand(e, hostNowTicks(), hostTickRate());
        hostEventCapture(hostEvents(), i, e, unknown, now);
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
        if (!portStates[i].held)
            continue;
        portClose(i);
        releaseHostEntry(&portTable->entries[i]);
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
