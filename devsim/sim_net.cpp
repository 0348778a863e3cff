// Event loop of the simulator: management datagrams, timed replies, control clients, reboots.
#include "devsim/sim_net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mgmt/mgmt_packet.h"

namespace {

enum { MGMT_RECEIVE_BUFFER = 2048, CONTROL_WRITE_TIMEOUT_MS = 5000, MAX_SEND_ATTEMPTS = 50 };

void formatEndpoint(const sockaddr_in* a, char* out, int outSize)
{
    char ip[16];
    inet_ntop(AF_INET, &a->sin_addr, ip, sizeof ip);
    snprintf(out, (size_t)outSize, "%s:%u", ip, ntohs(a->sin_port));
}

int openMgmtSocketOn(SimNet* net)
{
    const SimOptions* o = &net->options;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = o->mgmtBind;
    local.sin_port = htons((uint16_t)o->mgmtPort);
    if (bind(fd, (sockaddr*)&local, sizeof local) != 0) {
        fprintf(stderr, "devsim: cannot bind the management socket to port %d: %s\n", o->mgmtPort, strerror(errno));
        close(fd);
        return -1;
    }
    if (o->multicast) {
        ip_mreq m = {};
        m.imr_multiaddr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
        m.imr_interface.s_addr = o->multicastInterface;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0) {
            fprintf(stderr, "devsim: cannot join %s: %s\n", MGMT_GROUP_ADDRESS, strerror(errno));
            close(fd);
            return -1;
        }
    }
    socklen_t len = sizeof local;
    getsockname(fd, (sockaddr*)&local, &len);
    net->mgmtPort = ntohs(local.sin_port);
    return fd;
}

int openControlSocket(const char* path)
{
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof a.sun_path) {
        fprintf(stderr, "devsim: control socket path too long\n");
        return -1;
    }
    strcpy(a.sun_path, path);
    struct stat st;
    // A stale socket from an earlier run is replaced; any other file is not.
    if (lstat(path, &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            fprintf(stderr, "devsim: %s exists and is not a socket\n", path);
            return -1;
        }
        unlink(path);
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, (sockaddr*)&a, sizeof a) != 0 || listen(fd, 8) != 0) {
        fprintf(stderr, "devsim: cannot listen on %s: %s\n", path, strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

void epollAdd(SimNet* net, int fd, uint32_t events, uint64_t tag)
{
    epoll_event ev = {};
    ev.events = events;
    ev.data.u64 = tag;
    epoll_ctl(net->epollFd, EPOLL_CTL_ADD, fd, &ev);
}

void queueSend(SimNet* net, uint32_t source, const sockaddr_in* to, const uint8_t* data, int length, int64_t dueUs)
{
    if (net->pending.size() >= SIM_MAX_PENDING) {
        net->dropped++;
        return;
    }
    PendingSend p;
    p.dueUs = dueUs;
    p.sequence = net->pendingSequence++;
    p.source = source;
    p.destination = *to;
    p.attempts = 0;
    p.data.assign(data, data + length);
    net->pending.push(std::move(p));
}

// Sends from the device's own address when the system has it, else from
// whatever address the route gives. -1 with EAGAIN asks for a retry.
ssize_t sendFrom(int fd, uint32_t source, const sockaddr_in* to, const uint8_t* data, size_t length)
{
    iovec iov = {(void*)data, length};
    msghdr msg = {};
    msg.msg_name = (void*)to;
    msg.msg_namelen = sizeof *to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info = {};
    info.ipi_spec_dst.s_addr = source;
    memcpy(CMSG_DATA(c), &info, sizeof info);
    ssize_t n = sendmsg(fd, &msg, 0);
    if (n < 0 && (errno == EINVAL || errno == EADDRNOTAVAIL)) {
        msg.msg_control = nullptr;
        msg.msg_controllen = 0;
        n = sendmsg(fd, &msg, 0);
    }
    return n;
}

void sendDue(SimNet* net)
{
    int64_t now = monotonicUs();
    // Bounded per turn so control and data keep being served.
    for (int i = 0; i < 4096 && !net->pending.empty(); i++) {
        if (net->pending.top().dueUs > now)
            return;
        PendingSend p = net->pending.top();
        net->pending.pop();
        ssize_t n = sendFrom(net->mgmtFd, p.source, &p.destination, p.data.data(), p.data.size());
        if (n >= 0)
            net->lastSentMs = wallClockMs();
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) &&
            ++p.attempts < MAX_SEND_ATTEMPTS) {
            p.dueUs = now + 1000;
            net->pending.push(std::move(p));
            return;
        }
        if (n < 0 && net->options.verbose)
            fprintf(stderr, "devsim: reply not sent: %s\n", strerror(errno));
    }
}

void handleEffects(SimNet* net, int device, const RequestEffects* fx)
{
    SimDevice* d = &net->world->devices[device];
    if (fx->reboot) {
        closeDeviceData(net, device);
        rebootSimDevice(d, wallClockMs());
        if (d->rebootMs == 0)
            openDeviceData(net, device);
        return;
    }
    for (int p = 0; p < SIM_MAX_PORTS; p++)
        if (fx->portsChanged & (1u << p))
            reopenPortData(net, device, p);
}

void receiveMgmtDatagrams(SimNet* net)
{
    // Bounded per wake-up: a flood cannot starve the rest of the loop.
    for (int round = 0; round < 64; round++) {
        uint8_t buffer[MGMT_RECEIVE_BUFFER];
        sockaddr_in from = {};
        iovec iov = {buffer, sizeof buffer};
        alignas(cmsghdr) char control[256];
        msghdr msg = {};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = recvmsg(net->mgmtFd, &msg, 0);
        if (n < 0)
            return;
        if (msg.msg_flags & MSG_TRUNC)
            continue;
        uint32_t destination = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                memcpy(&info, CMSG_DATA(c), sizeof info);
                destination = info.ipi_addr.s_addr;
            }
        if (!destinationAllowed(&net->options, from.sin_addr.s_addr)) {
            if (net->options.verbose)
                fprintf(stderr, "devsim: ignoring a datagram from a sender outside the allowed networks\n");
            continue;
        }
        char fromText[24];
        formatEndpoint(&from, fromText, sizeof fromText);

        // Sent to one device's own address: only it hears. Otherwise (the
        // group, or the management address in loopback tests) all do.
        SimWorld* w = net->world;
        int only = findDeviceByAddress(w, destination);
        int64_t nowMs = wallClockMs();
        int64_t nowUs = monotonicUs();
        int answering = 0;
        for (int i = 0; i < w->deviceCount; i++) {
            if (only >= 0 && i != only)
                continue;
            SimDevice* d = &w->devices[i];
            uint32_t source = d->record.network.ipAddress;
            net->batch->count = 0;
            RequestEffects fx = {};
            if (!handleMgmtDatagram(d, buffer, (int)n, fromText, nowMs, net->batch, &fx))
                continue;
            int64_t stagger = (int64_t)answering * net->options.discoverSpacingUs;
            if (net->batch->count > 0)
                answering++;
            for (int k = 0; k < net->batch->count; k++) {
                const OutDatagram* o = &net->batch->items[k];
                queueSend(net, source, &from, o->data, o->length, nowUs + stagger + (int64_t)o->delayMs * 1000);
            }
            handleEffects(net, i, &fx);
        }
    }
}

void closeClient(SimControlClient* c)
{
    close(c->fd);
    c->fd = -1;
    c->inLength = 0;
}

// Writes the whole response, waiting for the client at most a few seconds.
int writeAll(int fd, const char* text, int length)
{
    int64_t deadline = monotonicUs() + CONTROL_WRITE_TIMEOUT_MS * 1000LL;
    int done = 0;
    while (done < length) {
        ssize_t n = send(fd, text + done, (size_t)(length - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += (int)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return 0;
        int64_t left = (deadline - monotonicUs()) / 1000;
        if (left <= 0)
            return 0;
        pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, (int)left);
    }
    return 1;
}

void applyControlEffects(SimNet* net, const ControlEffects* fx)
{
    SimWorld* w = net->world;
    for (int i = 0; i < w->deviceCount; i++) {
        if (fx->reboot[i]) {
            RequestEffects r = {};
            r.reboot = 1;
            handleEffects(net, i, &r);
        } else if (fx->refresh[i]) {
            closeDeviceData(net, i);
            openDeviceData(net, i);
        }
    }
    if (fx->injectDevice >= 0)
        injectData(net, fx->injectDevice, fx->injectPort, fx->injectData, fx->injectLength);
    if (fx->quit)
        net->quit = 1;
}

void runClientLine(SimNet* net, SimControlClient* c, const char* line)
{
    ControlView view = {net->mgmtPort, describePortData, net, wallClockMs(), net->lastSentMs};
    resetControlEffects(net->controlEffects);
    runControlCommand(net->world, &view, line, net->controlOutput, net->controlEffects);
    applyControlEffects(net, net->controlEffects);
    if (!writeAll(c->fd, net->controlOutput->text, net->controlOutput->length))
        closeClient(c);
}

void handleClient(SimNet* net, int index)
{
    SimControlClient* c = &net->clients[index];
    int space = (int)sizeof c->in - 1 - c->inLength;
    ssize_t n = recv(c->fd, c->in + c->inLength, (size_t)space, 0);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            closeClient(c);
        return;
    }
    c->inLength += (int)n;
    c->in[c->inLength] = '\0';
    for (int lines = 0; c->fd >= 0 && lines < 64; lines++) {
        char* newline = strchr(c->in, '\n');
        if (!newline)
            break;
        *newline = '\0';
        char line[sizeof c->in];
        strcpy(line, c->in);
        int rest = c->inLength - (int)(newline + 1 - c->in);
        memmove(c->in, newline + 1, (size_t)rest + 1);
        c->inLength = rest;
        runClientLine(net, c, line);
    }
    if (c->fd >= 0 && c->inLength >= (int)sizeof c->in - 1) {
        static const char tooLong[] = "ERR line too long\n";
        writeAll(c->fd, tooLong, (int)sizeof tooLong - 1);
        closeClient(c);
    }
}

void acceptClient(SimNet* net)
{
    int fd = accept4(net->controlFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    for (int i = 0; i < SIM_MAX_CONTROL_CLIENTS; i++) {
        if (net->clients[i].fd >= 0)
            continue;
        net->clients[i].fd = fd;
        net->clients[i].inLength = 0;
        epollAdd(net, fd, EPOLLIN, makeTag(TAG_CLIENT, 0, 0, i));
        return;
    }
    static const char busy[] = "ERR too many control clients\n";
    writeAll(fd, busy, (int)sizeof busy - 1);
    close(fd);
}

void finishReboots(SimNet* net)
{
    int64_t now = wallClockMs();
    for (int i = 0; i < net->world->deviceCount; i++)
        if (!net->data[i].open && now >= net->world->devices[i].rebootingUntilMs &&
            net->world->devices[i].rebootCount > 0)
            openDeviceData(net, i);
}

int anyRebooting(const SimNet* net, int64_t now)
{
    for (int i = 0; i < net->world->deviceCount; i++)
        if (now < net->world->devices[i].rebootingUntilMs)
            return 1;
    return 0;
}

int waitTimeoutMs(SimNet* net)
{
    int timeout = 1000;
    if (!net->pending.empty()) {
        int64_t wait = (net->pending.top().dueUs - monotonicUs() + 999) / 1000;
        if (wait < timeout)
            timeout = wait < 0 ? 0 : (int)wait;
    }
    if (timeout > 20 && anyRebooting(net, wallClockMs()))
        timeout = 20;
    return timeout;
}

}  // namespace

uint64_t makeTag(int kind, int device, int port, int conn)
{
    return ((uint64_t)kind << 48) | ((uint64_t)device << 24) | ((uint64_t)port << 8) | (uint64_t)conn;
}

int64_t monotonicUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int64_t wallClockMs()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

void defaultSimOptions(SimOptions* o)
{
    memset(o, 0, sizeof *o);
    o->mgmtBind = htonl(INADDR_ANY);
    o->mgmtPort = MGMT_PORT;
    o->multicast = 1;
    o->multicastInterface = htonl(INADDR_ANY);
    o->discoverSpacingUs = 1000;
    allowNetwork(o, "127.0.0.0/8");
}

int hasLocalAddressIn(uint32_t network, uint32_t mask)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    int found = 0;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET) {
            uint32_t a = ntohl(((sockaddr_in*)i->ifa_addr)->sin_addr.s_addr);
            found = (a & mask) == (network & mask);
        }
    freeifaddrs(list);
    return found;
}

int allowNetwork(SimOptions* o, const char* cidr)
{
    char text[32];
    if (strlen(cidr) >= sizeof text || o->allowedCount >= SIM_MAX_ALLOWED)
        return 0;
    strcpy(text, cidr);
    char* slash = strchr(text, '/');
    int bits = 32;
    if (slash) {
        *slash = '\0';
        char* end;
        long b = strtol(slash + 1, &end, 10);
        if (*end || end == slash + 1 || b < 0 || b > 32)
            return 0;
        bits = (int)b;
    }
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1)
        return 0;
    uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
    o->allowedMask[o->allowedCount] = mask;
    o->allowedNet[o->allowedCount] = ntohl(a.s_addr) & mask;
    o->allowedCount++;
    return 1;
}

int destinationAllowed(const SimOptions* o, uint32_t address)
{
    uint32_t host = ntohl(address);
    for (int i = 0; i < o->allowedCount; i++)
        if ((host & o->allowedMask[i]) == o->allowedNet[i])
            return 1;
    return 0;
}

int startSimNet(SimNet* net, SimWorld* world, const SimOptions* options)
{
    net->options = *options;
    net->world = world;
    net->data = new SimDeviceData[SIM_MAX_DEVICES];
    memset(net->data, 0, sizeof(SimDeviceData) * SIM_MAX_DEVICES);
    for (int d = 0; d < SIM_MAX_DEVICES; d++)
        for (int p = 0; p < SIM_MAX_PORTS; p++) {
            SimPortData* pd = &net->data[d].ports[p];
            pd->listenFd = pd->udpFd = -1;
            for (int c = 0; c < SIM_MAX_CONNS; c++)
                pd->conns[c].fd = -1;
        }
    for (int i = 0; i < SIM_MAX_CONTROL_CLIENTS; i++)
        net->clients[i].fd = -1;
    net->controlOutput = new ControlOutput;
    net->controlEffects = new ControlEffects;
    net->batch = new ReplyBatch;
    net->pendingSequence = 0;
    net->dropped = 0;
    net->lastSentMs = 0;
    net->quit = 0;
    net->controlFd = -1;
    net->epollFd = epoll_create1(EPOLL_CLOEXEC);
    net->mgmtFd = openMgmtSocketOn(net);
    if (net->epollFd < 0 || net->mgmtFd < 0)
        return 0;
    epollAdd(net, net->mgmtFd, EPOLLIN, makeTag(TAG_MGMT, 0, 0, 0));
    if (options->controlPath) {
        net->controlFd = openControlSocket(options->controlPath);
        if (net->controlFd < 0)
            return 0;
        epollAdd(net, net->controlFd, EPOLLIN, makeTag(TAG_CONTROL, 0, 0, 0));
    }
    for (int i = 0; i < world->deviceCount; i++)
        openDeviceData(net, i);
    return 1;
}

void runSimNet(SimNet* net, volatile int* stopFlag)
{
    epoll_event events[256];
    while (!net->quit && !*stopFlag) {
        int n = epoll_wait(net->epollFd, events, 256, waitTimeoutMs(net));
        for (int i = 0; i < n; i++) {
            uint64_t tag = events[i].data.u64;
            int kind = (int)(tag >> 48);
            int device = (int)((tag >> 24) & 0xFFFFFF);
            int port = (int)((tag >> 8) & 0xFFFF);
            int conn = (int)(tag & 0xFF);
            if (kind == TAG_MGMT)
                receiveMgmtDatagrams(net);
            else if (kind == TAG_CONTROL)
                acceptClient(net);
            else if (kind == TAG_CLIENT)
                handleClient(net, conn);
            else
                handleDataEvent(net, kind, device, port, conn, events[i].events);
        }
        sendDue(net);
        finishReboots(net);
    }
}

void stopSimNet(SimNet* net)
{
    for (int i = 0; i < net->world->deviceCount; i++)
        closeDeviceData(net, i);
    for (int i = 0; i < SIM_MAX_CONTROL_CLIENTS; i++)
        if (net->clients[i].fd >= 0)
            closeClient(&net->clients[i]);
    if (net->controlFd >= 0) {
        close(net->controlFd);
        unlink(net->options.controlPath);
    }
    if (net->mgmtFd >= 0)
        close(net->mgmtFd);
    if (net->epollFd >= 0)
        close(net->epollFd);
    delete[] net->data;
    delete net->controlOutput;
    delete net->controlEffects;
    delete net->batch;
}
