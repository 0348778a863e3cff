// Host-name lookups on a thread of their own: a name server that does not
// answer must not hold up the data of every other port.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "host/host_io_win.h"
#include "host/link_logic.h"
#include "ports/port_table.h"

struct ResolveSlot {
    int pending;              // a lookup is wanted
    int answered;             // found/address hold the answer for generation
    uint32_t generation;
    int found;
    in_addr address;
    char host[LINK_HOST_MAX + 1];
};

static ResolveSlot slots[PORT_TABLE_ENTRIES];
static CRITICAL_SECTION slotsLock;
static HANDLE wakeEvent;
static HANDLE thread;
static volatile LONG stopping;

static int lookUp(const char* host, in_addr* out)
{
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
        return 0;
    int found = 0;
    for (addrinfo* a = result; a && !found; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            *out = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr;
            found = 1;
        }
    }
    freeaddrinfo(result);
    return found;
}

static DWORD WINAPI resolverThread(void*)
{
    while (!stopping) {
        WaitForSingleObject(wakeEvent, INFINITE);
        for (int i = 0; i < PORT_TABLE_ENTRIES && !stopping; i++) {
            char host[LINK_HOST_MAX + 1];
            EnterCriticalSection(&slotsLock);
            int wanted = slots[i].pending;
            uint32_t generation = slots[i].generation;
            memcpy(host, slots[i].host, sizeof host);
            slots[i].pending = 0;
            LeaveCriticalSection(&slotsLock);
            if (!wanted)
                continue;
            in_addr address;
            memset(&address, 0, sizeof address);
            int found = lookUp(host, &address);
            EnterCriticalSection(&slotsLock);
            int current = slots[i].generation == generation;
            if (current) {
                slots[i].answered = 1;
                slots[i].found = found;
                slots[i].address = address;
            }
            LeaveCriticalSection(&slotsLock);
            if (current)
                PostQueuedCompletionStatus(hostCompletionPort(), (DWORD)i, HOST_KEY_RESOLVED, nullptr);
        }
    }
    return 0;
}

int startResolver()
{
    InitializeCriticalSection(&slotsLock);
    wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!wakeEvent)
        return 0;
    thread = CreateThread(nullptr, 0, resolverThread, nullptr, 0, nullptr);
    return thread != nullptr;
}

void stopResolver()
{
    InterlockedExchange(&stopping, 1);
    if (wakeEvent)
        SetEvent(wakeEvent);
    // A lookup may hang in the name server's time-out: do not wait for it long.
    if (thread && WaitForSingleObject(thread, 200) == WAIT_OBJECT_0)
        CloseHandle(thread);
}

void requestResolve(int index, uint32_t generation, const char* host)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return;
    EnterCriticalSection(&slotsLock);
    ResolveSlot* s = &slots[index];
    s->pending = 1;
    s->answered = 0;
    s->generation = generation;
    strncpy(s->host, host, sizeof s->host - 1);
    s->host[sizeof s->host - 1] = 0;
    LeaveCriticalSection(&slotsLock);
    SetEvent(wakeEvent);
}

int takeResolved(int index, uint32_t generation, in_addr* out)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return -1;
    EnterCriticalSection(&slotsLock);
    ResolveSlot* s = &slots[index];
    int result = -1;
    if (s->answered && s->generation == generation) {
        result = s->found;
        *out = s->address;
        s->answered = 0;
    }
    LeaveCriticalSection(&slotsLock);
    return result;
}
