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

void runHostIo(DWORD waitMs)
{
    for (int round = 0; round < COMPLETIONS_PER_ROUND; round++) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        BOOL ok = GetQueuedCompletionStatus(completionPort, &bytes, &key, &overlapped, round ? 0 : waitMs);
        DWORD error = ok ? 0 : GetLastError();
        if (!overlapped) {
            if (!ok)
                return;   // time-out, or the port is gone
            if (key == HOST_KEY_RESOLVED)
                portResolved((int)bytes);
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
