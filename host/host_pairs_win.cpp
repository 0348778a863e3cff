// The pairs' open state and line settings, asked of the driver library on a
// thread of its own (a silent daemon costs up to a second per request) and
// handed to the I/O thread as a snapshot. Where the library can wait for a
// change, the thread asks again as soon as an answer comes, so an open, a
// close or new line settings reach the table within milliseconds; else it
// asks a few times a second.
#include <cstring>

#include "host/host_io_win.h"
#include "host/host_logic.h"
#include "ports/port_table.h"

enum { PAIR_REFRESH_MS = 250, PAIR_WAIT_MS = 1000, PAIR_COMS = 257 };

static VspdPairInfo snapshot[PAIR_COMS];
static CRITICAL_SECTION snapshotLock;
static HANDLE stopEvent;
static HANDLE thread;
static VspdQueryBusFn queryBus;
static VspdQueryBusAllFn queryBusAll;
static VspdWaitBusChangeFn waitBusChange;
static unsigned changeSeen = 0xFFFFFFFFu;

// One request for every pair when the library offers it; else one per port
// the host holds. Returns 1 when the answer came from a change wait.
static int refresh()
{
    static VspdPairInfo fresh[PAIR_COMS];
    memset(fresh, 0, sizeof fresh);
    fresh[0].size = sizeof(VspdPairInfo);
    int waited = 0;
    if (waitBusChange) {
        waitBusChange(fresh, PAIR_COMS, &changeSeen, PAIR_WAIT_MS);
        waited = fresh[0].daemon;
    } else if (queryBusAll) {
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
    publishPairsSoon();
    return waited;
}

static DWORD WINAPI refreshThread(void*)
{
    // A change wait is the pause itself; without one (or without a daemon) we pause.
    while (WaitForSingleObject(stopEvent, refresh() ? 0 : PAIR_REFRESH_MS) == WAIT_TIMEOUT) {
    }
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
        waitBusChange =
            reinterpret_cast<VspdWaitBusChangeFn>(reinterpret_cast<void*>(GetProcAddress(lib, "WaitBusChange")));
    }
    if (!queryBus && !queryBusAll && !waitBusChange)
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
