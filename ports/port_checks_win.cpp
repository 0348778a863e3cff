// COM-name and local-port checks: device opens and bind tests.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ports/port_checks.h"
#include "ports/port_input.h"
#include "ports/port_table.h"

enum { FIRST_FREE_COM_LIMIT = 128 };

// Read-write, unshared, existing devices only, overlapped: how a serial
// application opens a port, so a port in use refuses us.
static HANDLE openDevice(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

int isComNameFree(const char* name)
{
    size_t length = strlen(name);
    if (length == 0 || length > COM_NAME_MAX)
        return 0;
    char path[COM_NAME_MAX + 8];
    snprintf(path, sizeof path, "\\\\.\\%s", name);
    HANDLE device = openDevice(path);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return 0;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

static int localPortFree(int type, int protocol, int port)
{
    SOCKET s = socket(AF_INET, type, protocol);
    if (s == INVALID_SOCKET)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons((u_short)port);
    int bound = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(s);
    return bound;
}

int localPortFreeTcp(int port)
{
    return localPortFree(SOCK_STREAM, IPPROTO_TCP, port);
}

int localPortFreeUdp(int port)
{
    return localPortFree(SOCK_DGRAM, IPPROTO_UDP, port);
}

int nextFreeLocalPort()
{
    return findFreeLocalPort(portTable, localPortFreeUdp, localPortFreeTcp);
}

int firstFreeComNumber()
{
    for (int n = 1; n <= FIRST_FREE_COM_LIMIT; n++) {
        char path[24];
        snprintf(path, sizeof path, "\\\\.\\COM%d", n);
        HANDLE device = openDevice(path);
        if (device == INVALID_HANDLE_VALUE)
            return n - 1;
        CloseHandle(device);
    }
    return -1;
}
