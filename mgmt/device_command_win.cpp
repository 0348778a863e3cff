// Runs an authenticated device command over a Winsock management socket.
#include "mgmt/device_command_win.h"

#include "mgmt/mgmt_socket_win.h"

namespace {

int openTransport(void* context)
{
    SOCKET* s = (SOCKET*)context;
    *s = openMgmtSocket();
    return *s != INVALID_SOCKET;
}

void sendTransport(void* context, const uint8_t* datagram, int length)
{
    sendMgmtDatagram(*(SOCKET*)context, datagram, length);
}

void closeTransport(void* context)
{
    SOCKET* s = (SOCKET*)context;
    closesocket(*s);
    *s = INVALID_SOCKET;
}

}  // namespace

int runMgmtCommand(const MgmtCommand* command, MgmtAuthenticateFn authenticate, void* authContext,
                   MgmtCommandResult* result)
{
    SOCKET s = INVALID_SOCKET;
    MgmtTransport transport = {&s, openTransport, sendTransport, receiveMgmtDatagram, closeTransport};
    return runDeviceCommand(&transport, command, authenticate, authContext, result);
}
