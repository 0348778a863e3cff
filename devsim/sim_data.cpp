// Data side of the simulated serial ports: TCP server or UDP endpoint, echoing through the serial device.
#include <arpa/inet.h>
#include <errno.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "devsim/sim_echo.h"
#include "devsim/sim_net.h"

namespace {

enum { TCP_READ_CHUNK = 4096, UDP_BUFFER = 8192, UDP_MAX_SEND = 65507 };

uint8_t udpIn[UDP_BUFFER];
uint8_t udpOut[UDP_MAX_SEND];

void epollSet(SimNet* net, int op, int fd, uint32_t events, uint64_t tag)
{
    epoll_event ev = {};
    ev.events = events;
    ev.data.u64 = tag;
    epoll_ctl(net->epollFd, op, fd, &ev);
}

void closeFd(SimNet* net, int* fd)
{
    if (*fd < 0)
        return;
    epoll_ctl(net->epollFd, EPOLL_CTL_DEL, *fd, nullptr);
    close(*fd);
    *fd = -1;
}

void closeConn(SimNet* net, SimConn* c)
{
    closeFd(net, &c->fd);
    delete[] c->out;
    c->out = nullptr;
    c->outLength = 0;
}

void closePort(SimNet* net, SimPortData* pd)
{
    for (int i = 0; i < SIM_MAX_CONNS; i++)
        closeConn(net, &pd->conns[i]);
    closeFd(net, &pd->listenFd);
    closeFd(net, &pd->udpFd);
    pd->mode = 0;
}

int openSocket(int type, uint32_t address, uint16_t port, int* error)
{
    int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(port);
    if (bind(fd, (sockaddr*)&a, sizeof a) != 0 || (type == SOCK_STREAM && listen(fd, 8) != 0)) {
        *error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

void openPort(SimNet* net, int device, int port)
{
    SimDevice* d = &net->world->devices[device];
    SimPortData* pd = &net->data[device].ports[port];
    const SerialPortConfig* c = &d->ports[port].config;
    pd->openError = 0;
    pd->mode = c->workMode;
    pd->boundAddress = d->record.network.ipAddress;
    pd->boundPort = c->devicePort;
    pd->lastSenderAddress = 0;
    pd->lastSenderPort = 0;
    if (c->workMode == WORK_MODE_TCP) {
        pd->listenFd = openSocket(SOCK_STREAM, pd->boundAddress, pd->boundPort, &pd->openError);
        if (pd->listenFd >= 0)
            epollSet(net, EPOLL_CTL_ADD, pd->listenFd, EPOLLIN, makeTag(TAG_LISTEN, device, port, 0));
    } else if (c->workMode == WORK_MODE_UDP) {
        pd->udpFd = openSocket(SOCK_DGRAM, pd->boundAddress, pd->boundPort, &pd->openError);
        if (pd->udpFd >= 0)
            epollSet(net, EPOLL_CTL_ADD, pd->udpFd, EPOLLIN, makeTag(TAG_UDP, device, port, 0));
    }
    if (pd->openError && net->options.verbose) {
        char ip[16];
        inet_ntop(AF_INET, &pd->boundAddress, ip, sizeof ip);
        fprintf(stderr, "devsim: device %d port %d: cannot open %s:%u: %s\n", device + 1, port + 1, ip,
                pd->boundPort, strerror(pd->openError));
    }
}

const char* prefixOf(SimNet* net, int device, int port)
{
    return net->world->devices[device].ports[port].echoPrefix;
}

// Asks epoll for input while there is room to echo into, and for output
// while bytes wait.
void updateConnEvents(SimNet* net, int device, int port, int index)
{
    SimConn* c = &net->data[device].ports[port].conns[index];
    if (c->fd < 0)
        return;
    int prefixLength = (int)strlen(prefixOf(net, device, port));
    uint32_t want = 0;
    if (SIM_CONN_BUFFER - c->outLength >= 1 + prefixLength)
        want |= EPOLLIN;
    if (c->outLength > 0)
        want |= EPOLLOUT;
    if (want == c->events)
        return;
    c->events = want;
    epollSet(net, EPOLL_CTL_MOD, c->fd, want, makeTag(TAG_CONN, device, port, index));
}

void flushConn(SimNet* net, int device, int port, int index)
{
    SimPortData* pd = &net->data[device].ports[port];
    SimConn* c = &pd->conns[index];
    while (c->outLength > 0) {
        ssize_t n = send(c->fd, c->out, (size_t)c->outLength, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            closeConn(net, c);
            return;
        }
        pd->txBytes += (uint64_t)n;
        memmove(c->out, c->out + n, (size_t)(c->outLength - n));
        c->outLength -= (int)n;
    }
    updateConnEvents(net, device, port, index);
}

void acceptConn(SimNet* net, int device, int port)
{
    SimPortData* pd = &net->data[device].ports[port];
    int fd = accept4(pd->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    for (int i = 0; i < SIM_MAX_CONNS; i++) {
        SimConn* c = &pd->conns[i];
        if (c->fd >= 0)
            continue;
        c->fd = fd;
        c->atLineStart = 1;
        c->outLength = 0;
        c->out = new uint8_t[SIM_CONN_BUFFER];
        c->events = EPOLLIN;
        epollSet(net, EPOLL_CTL_ADD, fd, EPOLLIN, makeTag(TAG_CONN, device, port, i));
        return;
    }
    close(fd);  // the port takes no more connections
}

void readConn(SimNet* net, int device, int port, int index)
{
    SimPortData* pd = &net->data[device].ports[port];
    SimConn* c = &pd->conns[index];
    const char* prefix = prefixOf(net, device, port);
    int room = SIM_CONN_BUFFER - c->outLength;
    int chunk = room / (1 + (int)strlen(prefix));
    if (chunk > TCP_READ_CHUNK)
        chunk = TCP_READ_CHUNK;
    if (chunk <= 0) {
        updateConnEvents(net, device, port, index);
        return;
    }
    uint8_t in[TCP_READ_CHUNK];
    ssize_t n = recv(c->fd, in, (size_t)chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        // The client is done sending: what is still due goes out if the
        // socket takes it now, then the connection ends.
        if (n == 0 && c->outLength > 0)
            send(c->fd, c->out, (size_t)c->outLength, MSG_NOSIGNAL | MSG_DONTWAIT);
        closeConn(net, c);
        return;
    }
    if (n < 0)
        return;
    pd->rxBytes += (uint64_t)n;
    int consumed = 0;
    c->outLength += echoTransform(in, (int)n, prefix, &c->atLineStart, c->out + c->outLength, room, &consumed);
    flushConn(net, device, port, index);
}

// Where the port's datagrams go: the configured peer, else the last sender.
int udpDestination(SimNet* net, int device, int port, sockaddr_in* to)
{
    const SerialPortConfig* cfg = &net->world->devices[device].ports[port].config;
    const SimPortData* pd = &net->data[device].ports[port];
    char peer[33];
    memcpy(peer, cfg->peerAddress, 32);
    peer[32] = '\0';
    memset(to, 0, sizeof *to);
    to->sin_family = AF_INET;
    if (peer[0] && cfg->peerPort != 0 && inet_pton(AF_INET, peer, &to->sin_addr) == 1 &&
        to->sin_addr.s_addr != 0) {
        to->sin_port = htons(cfg->peerPort);
    } else if (pd->lastSenderPort != 0) {
        to->sin_addr.s_addr = pd->lastSenderAddress;
        to->sin_port = htons(pd->lastSenderPort);
    } else {
        return 0;
    }
    return destinationAllowed(&net->options, to->sin_addr.s_addr);
}

void sendUdp(SimNet* net, int device, int port, const uint8_t* data, int length, const sockaddr_in* to)
{
    SimPortData* pd = &net->data[device].ports[port];
    ssize_t n = sendto(pd->udpFd, data, (size_t)length, 0, (const sockaddr*)to, sizeof *to);
    if (n > 0)
        pd->txBytes += (uint64_t)n;
}

void readUdp(SimNet* net, int device, int port)
{
    SimPortData* pd = &net->data[device].ports[port];
    for (int round = 0; round < 64; round++) {
        sockaddr_in from = {};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(pd->udpFd, udpIn, sizeof udpIn, 0, (sockaddr*)&from, &fromLength);
        if (n < 0)
            return;
        pd->rxBytes += (uint64_t)n;
        pd->lastSenderAddress = from.sin_addr.s_addr;
        pd->lastSenderPort = ntohs(from.sin_port);
        int atLineStart = 1;
        int consumed = 0;
        int length = echoTransform(udpIn, (int)n, prefixOf(net, device, port), &atLineStart, udpOut, sizeof udpOut,
                                   &consumed);
        sockaddr_in to;
        if (udpDestination(net, device, port, &to))
            sendUdp(net, device, port, udpOut, length, &to);
    }
}

}  // namespace

void openDeviceData(SimNet* net, int device)
{
    SimDevice* d = &net->world->devices[device];
    SimDeviceData* dd = &net->data[device];
    if (dd->open)
        return;
    if (d->dataDown || wallClockMs() < d->rebootingUntilMs)
        return;
    dd->open = 1;
    for (int p = 0; p < d->portCount; p++)
        openPort(net, device, p);
}

void closeDeviceData(SimNet* net, int device)
{
    SimDeviceData* dd = &net->data[device];
    for (int p = 0; p < SIM_MAX_PORTS; p++)
        closePort(net, &dd->ports[p]);
    dd->open = 0;
}

void reopenPortData(SimNet* net, int device, int port)
{
    SimDeviceData* dd = &net->data[device];
    closePort(net, &dd->ports[port]);
    if (dd->open && port < net->world->devices[device].portCount)
        openPort(net, device, port);
}

void handleDataEvent(SimNet* net, int kind, int device, int port, int conn, uint32_t events)
{
    if (device >= net->world->deviceCount || port >= SIM_MAX_PORTS || conn >= SIM_MAX_CONNS)
        return;
    SimPortData* pd = &net->data[device].ports[port];
    if (kind == TAG_LISTEN && pd->listenFd >= 0) {
        acceptConn(net, device, port);
    } else if (kind == TAG_UDP && pd->udpFd >= 0) {
        readUdp(net, device, port);
    } else if (kind == TAG_CONN && pd->conns[conn].fd >= 0) {
        if (events & (EPOLLERR | EPOLLHUP) && !(events & EPOLLIN)) {
            closeConn(net, &pd->conns[conn]);
            return;
        }
        if (events & EPOLLOUT)
            flushConn(net, device, port, conn);
        if ((events & EPOLLIN) && pd->conns[conn].fd >= 0)
            readConn(net, device, port, conn);
    }
}

void injectData(SimNet* net, int device, int port, const uint8_t* bytes, int length)
{
    if (device >= net->world->deviceCount || port >= SIM_MAX_PORTS)
        return;
    SimPortData* pd = &net->data[device].ports[port];
    if (pd->udpFd >= 0) {
        sockaddr_in to;
        if (udpDestination(net, device, port, &to))
            sendUdp(net, device, port, bytes, length, &to);
        return;
    }
    for (int i = 0; i < SIM_MAX_CONNS; i++) {
        SimConn* c = &pd->conns[i];
        if (c->fd < 0)
            continue;
        int take = SIM_CONN_BUFFER - c->outLength;
        if (take > length)
            take = length;
        memcpy(c->out + c->outLength, bytes, (size_t)take);
        c->outLength += take;
        flushConn(net, device, port, i);
    }
}

void describePortData(void* context, int device, int port, char* out, int outSize)
{
    SimNet* net = (SimNet*)context;
    const SimDevice* d = &net->world->devices[device];
    const SimPortData* pd = &net->data[device].ports[port];
    const SerialPortConfig* c = &d->ports[port].config;
    const char* mode = c->workMode == WORK_MODE_TCP ? "tcp" : c->workMode == WORK_MODE_UDP ? "udp" : "other";
    char ip[16];
    inet_ntop(AF_INET, &d->record.network.ipAddress, ip, sizeof ip);
    const char* state;
    if (!net->data[device].open)
        state = d->dataDown ? "down" : "rebooting";
    else if (pd->openError)
        state = "error";
    else if (pd->listenFd >= 0)
        state = "listening";
    else if (pd->udpFd >= 0)
        state = "bound";
    else
        state = "idle";
    int conns = 0;
    for (int i = 0; i < SIM_MAX_CONNS; i++)
        conns += pd->conns[i].fd >= 0;
    snprintf(out, (size_t)outSize, "mode=%s addr=%s:%u state=%s errno=%d conns=%d rx=%llu tx=%llu", mode, ip,
             c->devicePort, state, pd->openError, conns, (unsigned long long)pd->rxBytes,
             (unsigned long long)pd->txBytes);
}
