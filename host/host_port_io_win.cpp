// One port's data path: the pair's far end, the network link and the relay
// between them, all overlapped I/O reporting to the host's completion port.
#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <cstring>

#include "host/host_eventlog_win.h"
#include "host/host_io_win.h"
#include "host/host_logic.h"
#include "host/link_logic.h"
#include "host/host_ports_win.h"
#include "host/relay_logic.h"
#include "ports/port_table.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

enum {
    SERIAL_CHUNK = 4096,          // one serial read: about what a serial driver buffers
    NET_CHUNK = 16384,            // one network receive
    UDP_DATAGRAM_MAX = 1472,      // one Ethernet frame, never fragmented
    SERIAL_OPEN_RETRY_MS = 500,   // a pair not there yet
    SERIAL_REOPEN_MS = 1000,      // a pair that went away
    HOST_OP_CONNECT = RELAY_OPS,
    HOST_OPS = RELAY_OPS + 1,
    PUMP_ROUNDS = 32,             // transfers finished at once before other ports get a turn
};

// How a transfer start went.
enum { START_PENDING = 0, START_DONE = 1, START_FAILED = -1 };

struct HostOp {
    OVERLAPPED overlapped;
    int port;
    int kind;                     // RelayOp or HOST_OP_CONNECT
    uint32_t generation;          // of the handle or socket it was started on
    int busy;
};

struct HostPort {
    HANDLE serial;
    uint32_t serialGeneration;
    int64_t reopenAt;             // a lost serial side is tried again then (0: not lost)
    int running;                  // the link is meant to be up
    int serialInline;             // the serial handle's immediate completions are not queued
    int sockInline;               // nor the socket's
    int openWanted;               // a socket waits for the last one's transfers to end
    SOCKET sock;
    uint32_t sockGeneration;
    uint32_t resolveGeneration;
    LinkMachine link;
    LinkSettings settings;
    sockaddr_in remote;
    sockaddr_in from;
    int fromLength;
    RelayState relay;
    HostCounts counts;
    DWORD commEvents;             // what the receive wait reports
    HostOp ops[HOST_OPS];
    uint8_t toNet[RELAY_SLOTS][SERIAL_CHUNK];
    uint8_t toSerial[RELAY_SLOTS][NET_CHUNK];
};

static HostPort ports[PORT_TABLE_ENTRIES];
static LPFN_CONNECTEX connectEx;
static int serialWaitMode = SERIAL_WAIT_EVENT;

// Windows answers a {MAXDWORD,0,0} read of an empty port at once, so there
// the port waits on a receive event and reads only what has arrived. Wine
// keeps such a read pending until bytes come, which is the cheapest wait
// it has; its event waits are polled. PARLO_SERIAL_WAIT=event|read picks
// one explicitly (tests run both under Wine).
static int chooseSerialWait()
{
    char forced[16];
    DWORD n = GetEnvironmentVariableA("PARLO_SERIAL_WAIT", forced, sizeof forced);
    if (n > 0 && n < sizeof forced) {
        if (lstrcmpiA(forced, "event") == 0)
            return SERIAL_WAIT_EVENT;
        if (lstrcmpiA(forced, "read") == 0)
            return SERIAL_WAIT_READ;
    }
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    int wine = ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    return wine ? SERIAL_WAIT_READ : SERIAL_WAIT_EVENT;
}

static PortEntry* entryOf(int index)
{
    return &portTable->entries[index];
}

static void publishLink(int index)
{
    HostPort* p = &ports[index];
    PortEntry* e = entryOf(index);
    writeShared(&e->linkState, p->link.state);
    writeShared(&e->linkDetail, p->link.detail);
    hostEventLink(hostEvents(), index, e, p->link.state, p->link.detail, hostNowMs());
}

// The far end's open, or why it failed, for the port's events.
static void tellFarEnd(int index, int opened, DWORD error)
{
    char text[160] = "";
    if (!opened) {
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
            text[--n] = '\0';
    }
    hostEventFarEnd(hostEvents(), index, entryOf(index), opened, error, text, hostNowMs());
}

static HostOp* startOp(HostPort* p, int index, int kind, uint32_t generation)
{
    HostOp* op = &p->ops[kind];
    memset(&op->overlapped, 0, sizeof op->overlapped);
    op->port = index;
    op->kind = kind;
    op->generation = generation;
    return op;
}

// ---- the serial side ----

// Transfers that finish at once are then handled where they were started,
// sparing a trip through the completion port (the dearest part of a transfer
// under Wine). Returns 1 when the handle takes the mode.
static int skipQueuedSuccess(HANDLE h)
{
    return SetFileCompletionNotificationModes(h, FILE_SKIP_COMPLETION_PORT_ON_SUCCESS | FILE_SKIP_SET_EVENT_ON_HANDLE)
               ? 1
               : 0;
}

static int serialIdle(const HostPort* p)
{
    return !p->ops[RELAY_READ_SERIAL].busy && !p->ops[RELAY_WRITE_SERIAL].busy && !p->ops[RELAY_WAIT_SERIAL].busy;
}

static int openSerial(int index)
{
    HostPort* p = &ports[index];
    if (!serialIdle(p))
        return 0;   // the last handle's transfers have not reported back yet
    if (!hostPortNumber(entryOf(index)))
        return 0;   // not one of the pairs' far ends: never opened
    char name[sizeof entryOf(index)->portName];
    copyField(name, sizeof name, entryOf(index)->portName, sizeof entryOf(index)->portName);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        tellFarEnd(index, 0, GetLastError());
        return 0;
    }
    // A read takes whatever has arrived (see chooseSerialWait for how an
    // empty port is waited on); writes never time out.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    if (!SetCommTimeouts(h, &timeouts) || !SetCommMask(h, EV_RXCHAR) ||
        !CreateIoCompletionPort(h, hostCompletionPort(), HOST_KEY_IO, 0)) {
        tellFarEnd(index, 0, GetLastError());
        CloseHandle(h);
        return 0;
    }
    tellFarEnd(index, 1, 0);
    p->serial = h;
    p->serialGeneration++;
    p->serialInline = skipQueuedSuccess(h);
    relaySerialOpened(&p->relay, serialWaitMode);
    return 1;
}

static void closeSerial(HostPort* p)
{
    if (p->serial == INVALID_HANDLE_VALUE || !p->serial)
        return;
    // Cancelled transfers still report to the port, which frees their buffers;
    // an empty event mask ends a pending receive wait.
    SetCommMask(p->serial, 0);
    CancelIoEx(p->serial, nullptr);
    CloseHandle(p->serial);
    p->serial = INVALID_HANDLE_VALUE;
    relaySerialGone(&p->relay);
}

// ---- the network side ----

static void closeSocket(HostPort* p)
{
    if (p->sock == INVALID_SOCKET)
        return;
    if (!p->settings.udp) {
        // Abortive: no TIME_WAIT left to block a quick reconnect from the same local port.
        LINGER linger = {1, 0};
        setsockopt(p->sock, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger), sizeof linger);
    }
    CancelIoEx(reinterpret_cast<HANDLE>(p->sock), nullptr);
    closesocket(p->sock);
    p->sock = INVALID_SOCKET;
    p->sockGeneration++;
    relayLinkDown(&p->relay);
}

static uint32_t detailOfError(DWORD error)
{
    switch (error) {
    case ERROR_CONNECTION_REFUSED:
    case WSAECONNREFUSED:
        return LINK_DETAIL_REFUSED;
    case ERROR_SEM_TIMEOUT:
    case WSAETIMEDOUT:
        return LINK_DETAIL_TIMEOUT;
    case ERROR_NETNAME_DELETED:
    case ERROR_CONNECTION_ABORTED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return LINK_DETAIL_PEER_CLOSED;
    }
    return LINK_DETAIL_NETWORK;
}

static void act(int index, int actions);
static void finishOp(int index, HostOp* op, DWORD bytes, DWORD error);

// A failure while up is the link dropping; before, a failed attempt.
static void failLink(int index, uint32_t detail)
{
    act(index, linkFailed(&ports[index].link, detail, hostNowMs()));
}

static LPFN_CONNECTEX findConnectEx(SOCKET s)
{
    if (connectEx)
        return connectEx;
    GUID id = WSAID_CONNECTEX;
    DWORD bytes = 0;
    LPFN_CONNECTEX found = nullptr;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &found, sizeof found, &bytes, nullptr,
                 nullptr) == 0)
        connectEx = found;
    return connectEx;
}

static int netIdle(const HostPort* p)
{
    return !p->ops[RELAY_RECV_NET].busy && !p->ops[RELAY_SEND_NET].busy && !p->ops[HOST_OP_CONNECT].busy;
}

static void openSocket(int index)
{
    HostPort* p = &ports[index];
    int udp = p->settings.udp;
    p->openWanted = 0;
    if (p->link.phase != LINK_PHASE_OPENING)
        return;   // stopped, or timed out, while it waited
    if (!netIdle(p)) {
        // The last socket's transfers have not reported back yet: open once they have.
        p->openWanted = 1;
        return;
    }
    SOCKET s = WSASocketW(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, udp ? IPPROTO_UDP : IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        failLink(index, LINK_DETAIL_NETWORK);
        return;
    }
    sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(p->settings.localPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        closesocket(s);
        failLink(index, LINK_DETAIL_BIND);
        return;
    }
    if (!CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), hostCompletionPort(), HOST_KEY_IO, 0)) {
        closesocket(s);
        failLink(index, LINK_DETAIL_NETWORK);
        return;
    }
    p->sock = s;
    p->sockGeneration++;
    p->sockInline = skipQueuedSuccess(reinterpret_cast<HANDLE>(s));
    if (udp) {
        // An ICMP "port unreachable" must not end the receive of a UDP port.
        BOOL off = FALSE;
        DWORD bytes = 0;
        WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &bytes, nullptr, nullptr);
        act(index, linkOpened(&p->link));
        return;
    }
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    LPFN_CONNECTEX connectFn = findConnectEx(s);
    if (!connectFn) {
        failLink(index, LINK_DETAIL_NETWORK);
        return;
    }
    HostOp* op = startOp(p, index, HOST_OP_CONNECT, p->sockGeneration);
    BOOL done = connectFn(s, reinterpret_cast<sockaddr*>(&p->remote), sizeof p->remote, nullptr, 0, nullptr,
                          &op->overlapped);
    if (!done && WSAGetLastError() != ERROR_IO_PENDING) {
        failLink(index, detailOfError((DWORD)WSAGetLastError()));
        return;
    }
    op->busy = 1;
    if (done && p->sockInline)
        finishOp(index, op, 0, 0);
}

static void resolve(int index)
{
    HostPort* p = &ports[index];
    p->resolveGeneration++;
    memset(&p->remote, 0, sizeof p->remote);
    p->remote.sin_family = AF_INET;
    p->remote.sin_port = htons(p->settings.remotePort);
    if (inet_pton(AF_INET, p->settings.host, &p->remote.sin_addr) == 1) {
        act(index, linkResolved(&p->link, 1, hostNowMs()));
        return;
    }
    requestResolve(index, p->resolveGeneration, p->settings.host);
}

// ---- the relay ----

static void lostSerial(int index)
{
    HostPort* p = &ports[index];
    closeSerial(p);
    p->reopenAt = hostNowMs() + SERIAL_REOPEN_MS;
    act(index, linkHalt(&p->link, LINK_DETAIL_SERIAL_LOST));
}

// After a transfer was started: a start that failed at once ends the side it
// belongs to; one that finished at once is handled here when its completion
// will not be queued; anything else reports through the completion port.
static int settleStart(int index, HostOp* op, BOOL done, DWORD error, int inlineDone)
{
    HostPort* p = &ports[index];
    int serial = op->kind == RELAY_READ_SERIAL || op->kind == RELAY_WRITE_SERIAL || op->kind == RELAY_WAIT_SERIAL;
    if (!done && error != ERROR_IO_PENDING) {
        if (op->kind == RELAY_WAIT_SERIAL) {
            // A platform that cannot wait on receive events: pending reads instead.
            relaySerialWaitFailed(&p->relay);
            return START_DONE;
        }
        if (serial)
            lostSerial(index);
        else
            failLink(index, detailOfError(error));
        return START_FAILED;
    }
    op->busy = 1;
    relayStarted(&p->relay, op->kind);
    if (!done || !inlineDone)
        return START_PENDING;
    DWORD bytes = 0;
    if (serial) {
        GetOverlappedResult(p->serial, &op->overlapped, &bytes, FALSE);
    } else {
        DWORD flags = 0;
        WSAGetOverlappedResult(p->sock, &op->overlapped, &bytes, FALSE, &flags);
    }
    finishOp(index, op, bytes, 0);
    return START_DONE;
}

static int startSerialRead(int index)
{
    HostPort* p = &ports[index];
    DWORD size = p->settings.udp && p->relay.linkUp ? UDP_DATAGRAM_MAX : SERIAL_CHUNK;
    if (p->relay.serialWait == SERIAL_WAIT_EVENT) {
        // Read only what is there, so the read never waits; an empty port
        // is waited on with the receive event instead.
        COMSTAT status;
        DWORD errors = 0;
        if (!ClearCommError(p->serial, &errors, &status)) {
            lostSerial(index);
            return START_FAILED;
        }
        if (status.cbInQue == 0) {
            relaySerialEmpty(&p->relay);
            return START_DONE;
        }
        if (status.cbInQue < size)
            size = status.cbInQue;
    }
    HostOp* op = startOp(p, index, RELAY_READ_SERIAL, p->serialGeneration);
    BOOL done = ReadFile(p->serial, p->toNet[relayReadSlot(&p->relay.toNet)], size, nullptr, &op->overlapped);
    return settleStart(index, op, done, done ? 0 : GetLastError(), p->serialInline);
}

static int startSerialWait(int index)
{
    HostPort* p = &ports[index];
    HostOp* op = startOp(p, index, RELAY_WAIT_SERIAL, p->serialGeneration);
    p->commEvents = 0;
    BOOL done = WaitCommEvent(p->serial, &p->commEvents, &op->overlapped);
    return settleStart(index, op, done, done ? 0 : GetLastError(), p->serialInline);
}

static int startSerialWrite(int index)
{
    HostPort* p = &ports[index];
    const RelayQueue* q = &p->relay.toSerial;
    int slot = relayWriteSlot(q);
    HostOp* op = startOp(p, index, RELAY_WRITE_SERIAL, p->serialGeneration);
    BOOL done = WriteFile(p->serial, p->toSerial[slot] + q->slot[slot].offset,
                          q->slot[slot].length - q->slot[slot].offset, nullptr, &op->overlapped);
    return settleStart(index, op, done, done ? 0 : GetLastError(), p->serialInline);
}

static int startReceive(int index)
{
    HostPort* p = &ports[index];
    HostOp* op = startOp(p, index, RELAY_RECV_NET, p->sockGeneration);
    WSABUF buf = {NET_CHUNK, reinterpret_cast<char*>(p->toSerial[relayReadSlot(&p->relay.toSerial)])};
    DWORD flags = 0;
    int r;
    if (p->settings.udp) {
        p->fromLength = sizeof p->from;
        r = WSARecvFrom(p->sock, &buf, 1, nullptr, &flags, reinterpret_cast<sockaddr*>(&p->from), &p->fromLength,
                        &op->overlapped, nullptr);
    } else {
        r = WSARecv(p->sock, &buf, 1, nullptr, &flags, &op->overlapped, nullptr);
    }
    return settleStart(index, op, r == 0, r == 0 ? 0 : (DWORD)WSAGetLastError(), p->sockInline);
}

// A TCP send gathers every chunk that waits; a UDP send is one chunk, one datagram.
static int startSend(int index)
{
    HostPort* p = &ports[index];
    const RelayQueue* q = &p->relay.toNet;
    HostOp* op = startOp(p, index, RELAY_SEND_NET, p->sockGeneration);
    WSABUF bufs[RELAY_SLOTS];
    int count = p->settings.udp ? 1 : relayFilledSlots(q);
    for (int k = 0; k < count; k++) {
        int slot = (relayWriteSlot(q) + k) % RELAY_SLOTS;
        bufs[k].buf = reinterpret_cast<char*>(p->toNet[slot] + q->slot[slot].offset);
        bufs[k].len = q->slot[slot].length - q->slot[slot].offset;
    }
    int r;
    if (p->settings.udp)
        r = WSASendTo(p->sock, bufs, 1, nullptr, 0, reinterpret_cast<sockaddr*>(&p->remote), sizeof p->remote,
                      &op->overlapped, nullptr);
    else
        r = WSASend(p->sock, bufs, (DWORD)count, nullptr, 0, &op->overlapped, nullptr);
    return settleStart(index, op, r == 0, r == 0 ? 0 : (DWORD)WSAGetLastError(), p->sockInline);
}

// Starts every transfer the relay allows, writes before reads, and looks
// again while transfers finish at once. Nothing that fails is retried in a
// loop here, and a port that keeps moving hands over to the other ports
// after PUMP_ROUNDS and carries on from the completion port.
static void pump(int index)
{
    static const int order[] = {RELAY_SEND_NET, RELAY_WRITE_SERIAL, RELAY_RECV_NET, RELAY_READ_SERIAL,
                                RELAY_WAIT_SERIAL};
    HostPort* p = &ports[index];
    for (int round = 0; round < PUMP_ROUNDS; round++) {
        int ops = relayNextOps(&p->relay);
        int r = START_PENDING;
        for (int k = 0; k < (int)(sizeof order / sizeof order[0]) && r == START_PENDING; k++) {
            if (!(ops & (1 << order[k])))
                continue;
            switch (order[k]) {
            case RELAY_SEND_NET: r = startSend(index); break;
            case RELAY_WRITE_SERIAL: r = startSerialWrite(index); break;
            case RELAY_RECV_NET: r = startReceive(index); break;
            case RELAY_READ_SERIAL: r = startSerialRead(index); break;
            case RELAY_WAIT_SERIAL: r = startSerialWait(index); break;
            }
        }
        // Finished at once: what may start has changed, look again.
        if (r != START_DONE)
            return;
    }
    continueLater(index);
}

// Carries out what the link machine asked for, publishes, and moves data.
static void act(int index, int actions)
{
    HostPort* p = &ports[index];
    if (actions & LINK_DO_CLOSE)
        closeSocket(p);
    p->relay.linkUp = linkIsUp(&p->link) && p->sock != INVALID_SOCKET;
    publishLink(index);
    if (actions & LINK_DO_RESOLVE)
        resolve(index);
    if (actions & LINK_DO_OPEN)
        openSocket(index);
    pump(index);
}

static void serialDone(int index, HostOp* op, DWORD bytes, DWORD error)
{
    HostPort* p = &ports[index];
    int current = op->generation == p->serialGeneration && p->serial != INVALID_HANDLE_VALUE;
    if (current && error && op->kind == RELAY_WAIT_SERIAL) {
        // Wine, for one, cannot wait on a pty-backed port: it fails (or
        // cancels) the wait. Only closing the handle cancels it here.
        relaySerialWaitFailed(&p->relay);
        return;
    }
    if (!current || error == ERROR_OPERATION_ABORTED) {
        relayAbandoned(&p->relay, op->kind);
        return;
    }
    if (error) {
        relayAbandoned(&p->relay, op->kind);
        lostSerial(index);
        return;
    }
    if (op->kind == RELAY_WAIT_SERIAL && !(p->commEvents & EV_RXCHAR))
        relaySerialWaitFailed(&p->relay);
    else if (op->kind == RELAY_WAIT_SERIAL)
        relaySerialWaited(&p->relay);
    else if (op->kind == RELAY_WRITE_SERIAL)
        relaySerialWritten(&p->relay, bytes);
    else
        relaySerialRead(&p->relay, bytes);
}

// Captures what a send carried: it may span several chunks.
static void recordSent(int index, DWORD bytes)
{
    HostPort* p = &ports[index];
    const RelayQueue* q = &p->relay.toNet;
    for (int k = 0; k < relayFilledSlots(q) && bytes > 0; k++) {
        int slot = (relayWriteSlot(q) + k) % RELAY_SLOTS;
        DWORD left = q->slot[slot].length - q->slot[slot].offset;
        DWORD n = bytes < left ? bytes : left;
        recordTraffic(entryOf(index), &p->counts, 0, p->toNet[slot] + q->slot[slot].offset, n, hostNowTicks());
        bytes -= n;
    }
}

static void netDone(int index, HostOp* op, DWORD bytes, DWORD error)
{
    HostPort* p = &ports[index];
    int current = op->generation == p->sockGeneration && p->sock != INVALID_SOCKET;
    if (op->kind == HOST_OP_CONNECT) {
        if (!current)
            return;
        if (error)
            return failLink(index, detailOfError(error));
        setsockopt(p->sock, SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0);
        act(index, linkOpened(&p->link));
        return;
    }
    if (!current || error == ERROR_OPERATION_ABORTED) {
        relayAbandoned(&p->relay, op->kind);
        return;
    }
    if (op->kind == RELAY_RECV_NET && p->settings.udp) {
        // A datagram too big for the buffer, or from someone else, is dropped.
        int foreign = p->fromLength < (int)sizeof(sockaddr_in) ||
                      p->from.sin_addr.s_addr != p->remote.sin_addr.s_addr;
        if (error == WSAEMSGSIZE || error == ERROR_MORE_DATA || error == WSAECONNRESET ||
            error == ERROR_PORT_UNREACHABLE || (!error && foreign)) {
            relayNetDiscarded(&p->relay);
            return;
        }
    }
    if (error) {
        relayAbandoned(&p->relay, op->kind);
        return failLink(index, detailOfError(error));
    }
    if (op->kind == RELAY_RECV_NET) {
        if (bytes == 0 && !p->settings.udp) {
            relayAbandoned(&p->relay, op->kind);
            return failLink(index, LINK_DETAIL_PEER_CLOSED);
        }
        const uint8_t* data = p->toSerial[relayReadSlot(&p->relay.toSerial)];
        recordTraffic(entryOf(index), &p->counts, 1, data, bytes, hostNowTicks());
        relayNetReceived(&p->relay, bytes);
        return;
    }
    recordSent(index, bytes);
    relayNetSent(&p->relay, bytes);
}

// One transfer's end, whether it came through the completion port or at once.
static void finishOp(int index, HostOp* op, DWORD bytes, DWORD error)
{
    op->busy = 0;
    if (op->kind == RELAY_READ_SERIAL || op->kind == RELAY_WRITE_SERIAL || op->kind == RELAY_WAIT_SERIAL)
        serialDone(index, op, bytes, error);
    else
        netDone(index, op, bytes, error);
    HostPort* p = &ports[index];
    if (p->openWanted && netIdle(p))
        openSocket(index);
}

void portCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error)
{
    HostOp* op = CONTAINING_RECORD(overlapped, HostOp, overlapped);
    int index = op->port;
    if (index < 0 || index >= PORT_TABLE_ENTRIES || op != &ports[index].ops[op->kind])
        return;
    finishOp(index, op, bytes, error);
    pump(index);
}

void portContinue(int index)
{
    if (index >= 0 && index < PORT_TABLE_ENTRIES)
        pump(index);
}

void portResolved(int index)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return;
    HostPort* p = &ports[index];
    in_addr address;
    int found = takeResolved(index, p->resolveGeneration, &address);
    if (found < 0)
        return;
    if (found)
        p->remote.sin_addr = address;
    act(index, linkResolved(&p->link, found, hostNowMs()));
}

// ---- what the table pass asks for ----

const char* serialWaitName()
{
    return serialWaitMode == SERIAL_WAIT_EVENT ? "event" : "read";
}

void initPorts()
{
    serialWaitMode = chooseSerialWait();
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        ports[i].serial = INVALID_HANDLE_VALUE;
        ports[i].sock = INVALID_SOCKET;
    }
}

int portIdle(int index)
{
    for (int k = 0; k < HOST_OPS; k++) {
        if (ports[index].ops[k].busy)
            return 0;
    }
    return 1;
}

// Takes the entry up even when its pair cannot be opened yet: the port is
// listed (and can be deleted) with a failed link that says why, and the
// pair is tried again until it opens.
int portOpen(int index)
{
    HostPort* p = &ports[index];
    if (!portIdle(index))
        return 0;
    hostEventTakenUp(hostEvents(), index, entryOf(index), hostNowMs());
    memset(&p->relay, 0, sizeof p->relay);
    // Counting goes on from what the entry shows: a port taken over from an
    // earlier host keeps its counters, a new one is zeroed after this and
    // countBytes starts it again from its first bytes.
    p->counts.rx = entryOf(index)->rxBytes;
    p->counts.tx = entryOf(index)->txBytes;
    p->reopenAt = 0;
    p->running = 0;
    memset(&p->settings, 0, sizeof p->settings);
    linkStop(&p->link);
    if (!openSerial(index) && hostPortNumber(entryOf(index)))
        p->reopenAt = hostNowMs() + SERIAL_OPEN_RETRY_MS;
    return 1;
}

void portClose(int index)
{
    HostPort* p = &ports[index];
    p->running = 0;
    p->resolveGeneration++;
    linkStop(&p->link);
    closeSocket(p);
    closeSerial(p);
    p->reopenAt = 0;
}

void portStartLink(int index)
{
    HostPort* p = &ports[index];
    p->running = 1;
    p->resolveGeneration++;
    if (p->serial == INVALID_HANDLE_VALUE) {
        act(index, linkHalt(&p->link, LINK_DETAIL_SERIAL_LOST));
        return;
    }
    int usable = readLinkSettings(entryOf(index), &p->settings);
    act(index, linkStart(&p->link, p->settings.udp, usable, hostNowMs()));
}

void portStopLink(int index)
{
    HostPort* p = &ports[index];
    p->running = 0;
    p->resolveGeneration++;
    act(index, linkStop(&p->link));
}

void portPass(int index)
{
    HostPort* p = &ports[index];
    int64_t now = hostNowMs();
    if (p->serial == INVALID_HANDLE_VALUE && p->reopenAt && now >= p->reopenAt) {
        if (openSerial(index)) {
            p->reopenAt = 0;
            if (p->running)
                portStartLink(index);
        } else {
            p->reopenAt = now + SERIAL_REOPEN_MS;
        }
    }
    act(index, linkTick(&p->link, now));
    portPublishPair(index);
}

void portPublishPair(int index)
{
    VspdPairInfo info;
    currentPairInfo(hostPortNumber(entryOf(index)), &info);
    publishPairInfo(entryOf(index), &info);
}
