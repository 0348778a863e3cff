// The completion port every serial handle and socket of the host reports to.
#include "host/host_io_win.h"

static HANDLE completionPort;
static LARGE_INTEGER tickRate;
static int socketsStarted;

enum { COMPLETIONS_PER_ROUND = 256, COMPLETIONS_PER_FETCH = 64 };

extern "C" ULONG WINAPI RtlNtStatusToDosError(LONG status);

int startHostIo()
{
    QueryPerformanceFrequency(&tickRate);
    WSADATA data;
    socketsStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    completionPort = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    return socketsStarted && completionPort != nullptr;
}

void stopHostIo()
{
    if (completionPort)
        CloseHandle(completionPort);
    completionPort = nullptr;
    if (socketsStarted)
        WSACleanup();
    socketsStarted = 0;
}

HANDLE hostCompletionPort()
{
    return completionPort;
}

void wakeHostIo()
{
    if (completionPort)
        PostQueuedCompletionStatus(completionPort, 0, HOST_KEY_WAKE, nullptr);
}

void publishPairsSoon()
{
    if (completionPort)
        PostQueuedCompletionStatus(completionPort, 0, HOST_KEY_PAIRS, nullptr);
}

void continueLater(int index)
{
    PostQueuedCompletionStatus(completionPort, (DWORD)index, HOST_KEY_CONTINUE, nullptr);
}

static void dispatch(const OVERLAPPED_ENTRY* entry)
{
    OVERLAPPED* overlapped = entry->lpOverlapped;
    if (!overlapped) {
        if (entry->lpCompletionKey == HOST_KEY_RESOLVED)
            portResolved((int)entry->dwNumberOfBytesTransferred);
        else if (entry->lpCompletionKey == HOST_KEY_CONTINUE)
            portContinue((int)entry->dwNumberOfBytesTransferred);
        else if (entry->lpCompletionKey == HOST_KEY_PAIRS)
            publishAllPairs();
        return;   // else a wake-up
    }
    // The transfer's status stays in its OVERLAPPED, as the kernel left it.
    LONG status = (LONG)overlapped->Internal;
    DWORD error = status == 0 ? 0 : RtlNtStatusToDosError(status);
    portCompletion(overlapped, entry->dwNumberOfBytesTransferred, error);
}

// Completions are fetched many at a time. Every wait in a round runs to the
// same end: under Wine a look at an empty completion port costs as much as
// a wait, and buys nothing.
void runHostIo(DWORD waitMs)
{
    ULONGLONG end = GetTickCount64() + waitMs;
    int handled = 0;
    while (handled < COMPLETIONS_PER_ROUND) {
        ULONGLONG now = GetTickCount64();
        DWORD wait = now < end ? (DWORD)(end - now) : 0;
        OVERLAPPED_ENTRY entries[COMPLETIONS_PER_FETCH];
        ULONG count = 0;
        if (!GetQueuedCompletionStatusEx(completionPort, entries, COMPLETIONS_PER_FETCH, &count, wait, FALSE))
            return;   // time-out, or the port is gone
        for (ULONG k = 0; k < count; k++)
            dispatch(&entries[k]);
        handled += (int)count;
    }
}

int64_t hostNowMs()
{
    return (int64_t)GetTickCount64();
}

int64_t hostNowTicks()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

int64_t hostTickRate()
{
    return tickRate.QuadPart;
}
