// Winsock transport of the management protocol.
#include "mgmt/mgmt_socket_win.h"

#include <ws2tcpip.h>

#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"
#include "mgmt/mgmt_receive.h"

namespace {

SOCKET failOpen(SOCKET s)
{
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

SOCKET openMgmtSocket()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;

    int reuse = 1;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&reuse, sizeof reuse) != 0)
        return failOpen(s);

    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (bind(s, (const sockaddr*)&local, sizeof local) != 0)
        return failOpen(s);

    ip_mreq membership = {};
    membership.imr_multiaddr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, (const char*)&membership, sizeof membership) != 0)
        return failOpen(s);

    DWORD timeout = 1000;
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout) != 0)
        return failOpen(s);
    return s;
}

void sendMgmtDatagram(SOCKET s, const uint8_t* datagram, int length)
{
    sockaddr_in group = {};
    group.sin_family = AF_INET;
    group.sin_addr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
    group.sin_port = htons(MGMT_PORT);
    sendto(s, (const char*)datagram, length, 0, (const sockaddr*)&group, sizeof group);
}

void sendDiscoveryProbe(SOCKET s)
{
    uint8_t probe[MGMT_HEADER_SIZE + MGMT_DISCOVER_LENGTH];
    int length = buildDiscoveryProbe(probe, (int)sizeof probe);
    sendMgmtDatagram(s, probe, length);
}

int receiveMgmtDatagram(void* context, uint8_t* buffer, int capacity)
{
    SOCKET s = *(SOCKET*)context;
    int received = recv(s, (char*)buffer, capacity, 0);
    // SOCKET_ERROR covers the time-out and WSAEMSGSIZE for an oversized datagram.
    if (received == SOCKET_ERROR || received > capacity)
        return -1;
    return received;
}
