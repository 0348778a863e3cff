// The pairs' open state and line settings, asked of the driver library a few
// times a second on a thread of its own (a silent daemon costs up to a second
// per request) and handed to the I/O thread as a snapshot.
#include <cstring>

#include "host/host_io_win.h"
#include "host/host_logic.h"
#include "ports/port_table.h"

enum { PAIR_REFRESH_MS = 250, PAIR_COMS = 257 };

static VspdPairInfo snapshot[PAIR_COMS];
static CRITICAL_SECTION snapshotLock;
static HANDLE stopEvent;
static HANDLE thread;
static VspdQueryBusFn queryBus;
static VspdQueryBusAllFn queryBusAll;

// One request for every pair when the library offers it; else one per port
// the host holds.
static void refresh()
{
    static VspdPairInfo fresh[PAIR_COMS];
    memset(fresh, 0, sizeof fresh);
    fresh[0].size = sizeof(VspdPairInfo);
    if (queryBusAll) {
        queryBusAll(fresh, PAIR_COMS);
    } else if (queryBus && portTable) {
        for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
            int com = readShared(&portTable->entries[i].present) ? hostPortNumber(&portTable->entries[i]) : 0;
            if (com <= 0 || com >= PAIR_COMS)
                continue;
            char name[16];
            wsprintfA(name, "COM%d", com);
            fresh[com].size = sizeof(VspdPairInfo);
            queryBus(name, &fresh[com]);
        }
    }
    EnterCriticalSection(&snapshotLock);
    memcpy(snapshot, fresh, sizeof snapshot);
    LeaveCriticalSection(&snapshotLock);
}

static DWORD WINAPI refreshThread(void*)
{
    do
        refresh();
    while (WaitForSingleObject(stopEvent, PAIR_REFRESH_MS) == WAIT_TIMEOUT);
    return 0;
}

int startPairRefresh()
{
    InitializeCriticalSection(&snapshotLock);
    // Next to ParloHost.exe, where the manager's installer puts it.
    HMODULE lib = LoadLibraryA("VSPDCTL.DLL");
    if (lib) {
        queryBus = reinterpret_cast<VspdQueryBusFn>(reinterpret_cast<void*>(GetProcAddress(lib, "QueryBus")));
        queryBusAll = reinterpret_cast<VspdQueryBusAllFn>(reinterpret_cast<void*>(GetProcAddress(lib, "QueryBusAll")));
    }
    if (!queryBus && !queryBusAll)
        return 1;   // no library: every port shows closed
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = stopEvent ? CreateThread(nullptr, 0, refreshThread, nullptr, 0, nullptr) : nullptr;
    return 1;
}

void stopPairRefresh()
{
    if (!thread)
        return;
    SetEvent(stopEvent);
    WaitForSingleObject(thread, 2000);
    CloseHandle(thread);
    thread = nullptr;
}

void currentPairInfo(int com, VspdPairInfo* out)
{
    memset(out, 0, sizeof *out);
    if (com <= 0 || com >= PAIR_COMS)
        return;
    EnterCriticalSection(&snapshotLock);
    *out = snapshot[com];
    LeaveCriticalSection(&snapshotLock);
}
