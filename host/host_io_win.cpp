// The completion port every serial handle and socket of the host reports to.
#include "host/host_io_win.h"

static HANDLE completionPort;
static LARGE_INTEGER tickRate;
static int socketsStarted;

enum { COMPLETIONS_PER_ROUND = 256 };

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

void continueLater(int index)
{
    PostQueuedCompletionStatus(completionPort, (DWORD)index, HOST_KEY_CONTINUE, nullptr);
}

// Every wait in a round runs to the same end: under Wine a look at an empty
// completion port costs as much as a wait, and buys nothing.
void runHostIo(DWORD waitMs)
{
    ULONGLONG end = GetTickCount64() + waitMs;
    for (int round = 0; round < COMPLETIONS_PER_ROUND; round++) {
        ULONGLONG now = GetTickCount64();
        DWORD wait = now < end ? (DWORD)(end - now) : 0;
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        BOOL ok = GetQueuedCompletionStatus(completionPort, &bytes, &key, &overlapped, wait);
        DWORD error = ok ? 0 : GetLastError();
        if (!overlapped) {
            if (!ok)
                return;   // time-out, or the port is gone
            if (key == HOST_KEY_RESOLVED)
                portResolved((int)bytes);
            else if (key == HOST_KEY_CONTINUE)
                portContinue((int)bytes);
            continue;     // a wake-up
        }
        portCompletion(overlapped, bytes, error);
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
