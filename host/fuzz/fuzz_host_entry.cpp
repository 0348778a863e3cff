// Fuzz target: the host's handling of table entries, driven pass by pass as
// the service drives it. Any local process can write any byte of an entry at
// any time, so the input is a script of such writes, service passes, traffic
// and the completions of the port's transfers. The service's Win32 side is
// played by a model that follows host_port_io_win.cpp and checks what the
// portable code asks of it.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_logic.h"
#include "host/link_logic.h"
#include "host/relay_logic.h"
#include "ports/port_table.h"

#define CHECK(c)                                                                   \
    do {                                                                           \
        if (!(c)) {                                                                \
            fprintf(stderr, "fuzz_host_entry: %s (line %d)\n", #c, __LINE__);      \
            abort();                                                               \
        }                                                                          \
    } while (0)

namespace {

// As in host_port_io_win.cpp.
enum {
    SERIAL_CHUNK = 4096,
    NET_CHUNK = 16384,
    UDP_DATAGRAM_MAX = 1472,
    SERIAL_OPEN_RETRY_MS = 500,
    SERIAL_REOPEN_MS = 1000,
    HOST_OP_CONNECT = RELAY_OPS,
    HOST_OPS = RELAY_OPS + 1,
    PUMP_ROUNDS = 32,
    MAX_ENTRIES = 2,
    MAX_STEPS = 256,
    HEADER = offsetof(PortEntry, captureRing),
};

// Errors a completion may carry, as the glue tells them apart.
enum { ERR_NONE, ERR_ABORTED, ERR_RESET, ERR_REFUSED, ERR_TIMEOUT, ERR_MSGSIZE, ERR_OTHER, ERR_KINDS };

struct Transfer {
    int busy;
    uint32_t generation;
    int slot;          // the buffer slot the transfer was posted with
    uint32_t length;   // bytes it may carry at most
};

struct Port {
    int held;          // what serviceHostEntry has told the ops
    int running;
    int serial;
    uint32_t serialGeneration;
    int64_t reopenAt;
    int sock;
    uint32_t sockGeneration;
    int openWanted;
    uint32_t resolveGeneration;
    int resolvePending;
    uint32_t resolveAsked;
    LinkMachine link;
    LinkSettings settings;
    RelayState relay;
    HostCounts counts;
    Transfer ops[HOST_OPS];
    VspdPairInfo pair;
};

struct World {
    FuzzedDataProvider* in;
    PortTable* table;
    int entries;
    int waitMode;
    int64_t nowMs;
    int64_t tickRate;
    int inCallback;
    int wroteDuringCallback;
    HostPortState states[MAX_ENTRIES];
    Port ports[MAX_ENTRIES];
};

World w;

// FUZZ_TRACE=1 prints the script as it runs, to read a crash input.
int tracing = -1;
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void trace(const char* format, ...)
{
    if (tracing < 0)
        tracing = getenv("FUZZ_TRACE") != nullptr;
    if (!tracing)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

// Exact-size allocations, kept from run to run: an entry that ends its
// allocation, and the transfer buffers of the glue.
PortEntry* oneEntry;
PortEntry* twoEntries;
uint8_t* toNet[MAX_ENTRIES][RELAY_SLOTS];
uint8_t* toSerial[MAX_ENTRIES][RELAY_SLOTS];
// Probes for the readers of text fields: the entry's bytes up to the end of
// the last field a reader may look at, everything else poisoned.
unsigned char* nameProbe;   // up to the end of portName
unsigned char* linkProbe;   // up to the end of protocol

void setUp()
{
    if (oneEntry)
        return;
    oneEntry = static_cast<PortEntry*>(calloc(1, sizeof(PortEntry)));
    twoEntries = static_cast<PortEntry*>(calloc(2, sizeof(PortEntry)));
    for (int i = 0; i < MAX_ENTRIES; i++)
        for (int k = 0; k < RELAY_SLOTS; k++) {
            toNet[i][k] = static_cast<uint8_t*>(calloc(1, SERIAL_CHUNK));
            toSerial[i][k] = static_cast<uint8_t*>(calloc(1, NET_CHUNK));
        }
    size_t nameEnd = offsetof(PortEntry, portName) + sizeof(PortEntry{}.portName);
    size_t linkEnd = offsetof(PortEntry, protocol) + sizeof(PortEntry{}.protocol);
    nameProbe = static_cast<unsigned char*>(calloc(1, nameEnd));
    linkProbe = static_cast<unsigned char*>(calloc(1, linkEnd));
    ASAN_POISON_MEMORY_REGION(nameProbe, offsetof(PortEntry, portName));
    ASAN_POISON_MEMORY_REGION(linkProbe, offsetof(PortEntry, remoteAddress));
}

PortEntry* entryOf(int i) { return &w.table->entries[i]; }

// ---- the manager, or any other local process, writing into an entry ----

struct Field {
    size_t offset;
    size_t size;
    int text;
};

#define FIELD(name, text) {offsetof(PortEntry, name), sizeof(PortEntry{}.name), text}
const Field fields[] = {
    FIELD(inUse, 0),          FIELD(present, 0),         FIELD(portName, 1),        FIELD(remoteAddress, 1),
    FIELD(remotePort, 1),     FIELD(localPort, 1),       FIELD(protocol, 1),        FIELD(command, 0),
    FIELD(linkState, 0),      FIELD(linkDetail, 0),      FIELD(comBaudRate, 0),     FIELD(comStopBits, 0),
    FIELD(comParity, 0),      FIELD(comDataBits, 0),     FIELD(comOpen, 0),         FIELD(captureDropped, 0),
    FIELD(rxBytes, 0),        FIELD(txBytes, 0),         FIELD(captureWriteIndex, 0), FIELD(captureReadIndex, 0),
    FIELD(captureStartTime, 0), FIELD(captureTickRate, 0), FIELD(captureCommand, 0), FIELD(captureActive, 0),
};
#undef FIELD
const int fieldCount = (int)(sizeof fields / sizeof fields[0]);

// Numbers that mean something somewhere, and any other.
int64_t pickNumber()
{
    static const int64_t notable[] = {0, 1, 2, 3, 4, 5, -1, 1023, 1024, 1025, INT32_MAX, INT32_MIN,
                                      (int64_t)0x1000000, (int64_t)0x1000004, INT64_MAX, INT64_MIN};
    if (w.in->ConsumeBool())
        return notable[w.in->ConsumeIntegralInRange<size_t>(0, sizeof notable / sizeof notable[0] - 1)];
    return w.in->ConsumeIntegral<int64_t>();
}

// A port name the host may open now and then, else anything.
void pickName(char* out, size_t size)
{
    memset(out, 0, size);
    switch (w.in->ConsumeIntegralInRange<int>(0, 2)) {
    case 0: {
        int n = w.in->ConsumeIntegralInRange<int>(0, 300);
        snprintf(out, size, "\\\\.\\NULL_COM%d", n);
        break;
    }
    case 1:
        w.in->ConsumeData(out, w.in->ConsumeIntegralInRange<size_t>(0, size));
        break;
    default:
        // Full width, no terminator.
        memset(out, 'x', size);
        w.in->ConsumeData(out, size);
        break;
    }
}

void writeSomething(int index)
{
    unsigned char* base = reinterpret_cast<unsigned char*>(entryOf(index));
    if (w.inCallback)
        w.wroteDuringCallback = 1;
    if (w.in->ConsumeIntegralInRange<int>(0, 7) == 0) {
        // Raw bytes anywhere in the entry, the ring included.
        size_t at = w.in->ConsumeIntegralInRange<size_t>(0, sizeof(PortEntry) - 1);
        uint8_t bytes[16];
        size_t got = w.in->ConsumeData(bytes, w.in->ConsumeIntegralInRange<size_t>(1, sizeof bytes));
        memcpy(base + at, bytes, got < sizeof(PortEntry) - at ? got : sizeof(PortEntry) - at);
        return;
    }
    const Field& f = fields[w.in->ConsumeIntegralInRange<int>(0, fieldCount - 1)];
    if (f.offset == offsetof(PortEntry, portName)) {
        pickName(reinterpret_cast<char*>(base + f.offset), f.size);
    } else if (f.text) {
        char text[sizeof(PortEntry{}.remoteAddress)];   // the widest
        size_t got = w.in->ConsumeData(text, w.in->ConsumeIntegralInRange<size_t>(0, f.size));
        if (got < f.size && w.in->ConsumeBool())
            text[got++] = '\0';
        memcpy(base + f.offset, text, got);
    } else {
        int64_t v = pickNumber();
        memcpy(base + f.offset, &v, f.size);   // little-endian: the low bytes
    }
}

// Whatever the manager writes while the host is inside a pass.
void maybeWriteMeanwhile(int index)
{
    if (w.in->remaining_bytes() && w.in->ConsumeIntegralInRange<int>(0, 3) == 0)
        writeSomething(index);
}

// ---- checks on what the portable code reads ----

// The device the host may open, told independently: exactly
// "\\.\NULL_COM<n>", n 1-256 without a leading zero, within the field.
int expectedPortNumber(const PortEntry* e)
{
    std::string name(e->portName, strnlen(e->portName, sizeof e->portName));
    const std::string prefix = "\\\\.\\NULL_COM";
    if (name.size() == sizeof e->portName || name.compare(0, prefix.size(), prefix) != 0)
        return 0;
    std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 3 || digits[0] == '0')
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    int n = std::stoi(digits);
    return n <= 256 ? n : 0;
}

// The name readers on a copy where the bytes around portName are poisoned
// or past the allocation: any read outside the field stops the run.
void checkNameReaders(const PortEntry* e)
{
    memcpy(nameProbe + offsetof(PortEntry, portName), e->portName, sizeof e->portName);
    const PortEntry* probe = reinterpret_cast<const PortEntry*>(nameProbe);
    int number = hostPortNumber(probe);
    CHECK(number == hostPortNumber(e));
    CHECK(number == expectedPortNumber(e));
    char name[COM_NAME_MAX + 1];
    size_t n = comName(probe, name, sizeof name);
    CHECK(n <= COM_NAME_MAX && strlen(name) == n);
    int com = comNumber(probe);
    CHECK(com >= 0);
    if (number)
        CHECK(com == number);
}

void checkLinkSettings(const PortEntry* e, const LinkSettings* used, int usable)
{
    size_t from = offsetof(PortEntry, remoteAddress);
    size_t to = offsetof(PortEntry, protocol) + sizeof e->protocol;
    memcpy(linkProbe + from, reinterpret_cast<const unsigned char*>(e) + from, to - from);
    LinkSettings probed;
    int probedUsable = readLinkSettings(reinterpret_cast<const PortEntry*>(linkProbe), &probed);
    CHECK(probedUsable == usable);
    CHECK(memcmp(&probed, used, sizeof probed) == 0);
    // The host name comes from remoteAddress alone.
    size_t hostLength = strnlen(used->host, sizeof used->host);
    CHECK(hostLength < sizeof used->host);
    CHECK(memcmp(used->host, e->remoteAddress, hostLength) == 0);
    if (usable)
        CHECK(used->remotePort != 0 && hostLength > 0);
}

void checkRelay(const Port* p)
{
    const RelayQueue* queues[2] = {&p->relay.toNet, &p->relay.toSerial};
    const uint32_t chunk[2] = {SERIAL_CHUNK, NET_CHUNK};
    for (int k = 0; k < 2; k++) {
        const RelayQueue* q = queues[k];
        CHECK(q->filled <= RELAY_SLOTS);
        CHECK(q->tail < RELAY_SLOTS);
        for (uint32_t s = 0; s < q->filled; s++) {
            const RelaySlot* slot = &q->slot[(q->tail + s) % RELAY_SLOTS];
            CHECK(slot->offset <= slot->length && slot->length <= chunk[k]);
        }
    }
}

// ---- the service's Win32 side, modelled on host_port_io_win.cpp ----

void act(int index, int actions);
void finishOp(int index, int kind, uint32_t bytes, int error);

int serialIdle(const Port* p)
{
    return !p->ops[RELAY_READ_SERIAL].busy && !p->ops[RELAY_WRITE_SERIAL].busy && !p->ops[RELAY_WAIT_SERIAL].busy;
}

int netIdle(const Port* p)
{
    return !p->ops[RELAY_RECV_NET].busy && !p->ops[RELAY_SEND_NET].busy && !p->ops[HOST_OP_CONNECT].busy;
}

int portIdle(const Port* p)
{
    return serialIdle(p) && netIdle(p);
}

void publishLink(int index)
{
    writeShared(&entryOf(index)->linkState, w.ports[index].link.state);
    writeShared(&entryOf(index)->linkDetail, w.ports[index].link.detail);
}

int openSerial(int index)
{
    Port* p = &w.ports[index];
    if (!serialIdle(p))
        return 0;
    checkNameReaders(entryOf(index));
    if (!hostPortNumber(entryOf(index)))
        return 0;
    // The pair may not be there (yet).
    if (w.in->remaining_bytes() && w.in->ConsumeIntegralInRange<int>(0, 7) == 0)
        return 0;
    CHECK(expectedPortNumber(entryOf(index)) > 0);
    trace("port %d: serial opened\n", index);
    p->serial = 1;
    p->serialGeneration++;
    relaySerialOpened(&p->relay, w.waitMode);
    return 1;
}

void closeSerial(Port* p)
{
    if (!p->serial)
        return;
    trace("serial closed\n");
    p->serial = 0;
    relaySerialGone(&p->relay);
}

void closeSocket(Port* p)
{
    if (!p->sock)
        return;
    p->sock = 0;
    p->sockGeneration++;
    relayLinkDown(&p->relay);
}

uint32_t detailOf(int error)
{
    switch (error) {
    case ERR_REFUSED: return LINK_DETAIL_REFUSED;
    case ERR_TIMEOUT: return LINK_DETAIL_TIMEOUT;
    case ERR_RESET: return LINK_DETAIL_PEER_CLOSED;
    }
    return LINK_DETAIL_NETWORK;
}

void failLink(int index, uint32_t detail)
{
    act(index, linkFailed(&w.ports[index].link, detail, w.nowMs));
}

void lostSerial(int index)
{
    Port* p = &w.ports[index];
    closeSerial(p);
    p->reopenAt = w.nowMs + SERIAL_REOPEN_MS;
    act(index, linkHalt(&p->link, LINK_DETAIL_SERIAL_LOST));
}

void openSocket(int index)
{
    Port* p = &w.ports[index];
    p->openWanted = 0;
    if (p->link.phase != LINK_PHASE_OPENING)
        return;
    if (!netIdle(p)) {
        p->openWanted = 1;
        return;
    }
    int outcome = w.in->remaining_bytes() ? w.in->ConsumeIntegralInRange<int>(0, 15) : 0;
    if (outcome == 1)
        return failLink(index, LINK_DETAIL_BIND);
    p->sock = 1;
    p->sockGeneration++;
    if (p->settings.udp) {
        act(index, linkOpened(&p->link));
        return;
    }
    if (outcome == 2)
        return failLink(index, LINK_DETAIL_REFUSED);
    Transfer* op = &p->ops[HOST_OP_CONNECT];
    op->busy = 1;
    op->generation = p->sockGeneration;
    op->slot = -1;
    op->length = 0;
}

void resolve(int index)
{
    Port* p = &w.ports[index];
    p->resolveGeneration++;
    in_addr a;
    if (inet_pton(AF_INET, p->settings.host, &a) == 1) {
        act(index, linkResolved(&p->link, 1, w.nowMs));
        return;
    }
    p->resolvePending = 1;
    p->resolveAsked = p->resolveGeneration;
}

// How a transfer start went: 0 pending, 1 done at once, -1 failed.
int settleStart(int index, int kind, uint32_t generation, int slot, uint32_t length)
{
    Port* p = &w.ports[index];
    int serial = kind == RELAY_READ_SERIAL || kind == RELAY_WRITE_SERIAL || kind == RELAY_WAIT_SERIAL;
    if (w.in->remaining_bytes() && w.in->ConsumeIntegralInRange<int>(0, 15) == 0) {
        if (kind == RELAY_WAIT_SERIAL) {
            relaySerialWaitFailed(&p->relay);
            return 1;
        }
        if (serial)
            lostSerial(index);
        else
            failLink(index, LINK_DETAIL_NETWORK);
        return -1;
    }
    Transfer* op = &p->ops[kind];
    CHECK(!op->busy);
    trace("port %d: transfer %d posted, slot %d, %u bytes\n", index, kind, slot, length);
    op->busy = 1;
    op->generation = generation;
    op->slot = slot;
    op->length = length;
    relayStarted(&p->relay, kind);
    return 0;
}

int startTransfer(int index, int kind)
{
    Port* p = &w.ports[index];
    CHECK(!p->ops[kind].busy);
    switch (kind) {
    case RELAY_READ_SERIAL: {
        CHECK(p->serial);
        uint32_t size = p->settings.udp && p->relay.linkUp ? UDP_DATAGRAM_MAX : SERIAL_CHUNK;
        if (p->relay.serialWait == SERIAL_WAIT_EVENT) {
            uint32_t queued = w.in->remaining_bytes() ? w.in->ConsumeIntegralInRange<uint32_t>(0, 9000) : 0;
            if (queued == 0) {
                relaySerialEmpty(&p->relay);
                return 1;
            }
            if (queued < size)
                size = queued;
        }
        int slot = relayReadSlot(&p->relay.toNet);
        CHECK(slot >= 0 && slot < RELAY_SLOTS);
        return settleStart(index, kind, p->serialGeneration, slot, size);
    }
    case RELAY_WAIT_SERIAL:
        CHECK(p->serial);
        return settleStart(index, kind, p->serialGeneration, -1, 0);
    case RELAY_WRITE_SERIAL: {
        CHECK(p->serial);
        const RelayQueue* q = &p->relay.toSerial;
        int slot = relayWriteSlot(q);
        CHECK(slot >= 0 && slot < RELAY_SLOTS);
        CHECK(q->slot[slot].offset < q->slot[slot].length && q->slot[slot].length <= NET_CHUNK);
        return settleStart(index, kind, p->serialGeneration, slot, q->slot[slot].length - q->slot[slot].offset);
    }
    case RELAY_RECV_NET: {
        CHECK(p->sock);
        int slot = relayReadSlot(&p->relay.toSerial);
        CHECK(slot >= 0 && slot < RELAY_SLOTS);
        return settleStart(index, kind, p->sockGeneration, slot, NET_CHUNK);
    }
    case RELAY_SEND_NET: {
        CHECK(p->sock);
        const RelayQueue* q = &p->relay.toNet;
        int count = p->settings.udp ? 1 : relayFilledSlots(q);
        CHECK(count >= 1 && count <= RELAY_SLOTS);
        uint32_t total = 0;
        for (int k = 0; k < count; k++) {
            int slot = (relayWriteSlot(q) + k) % RELAY_SLOTS;
            CHECK(q->slot[slot].offset < q->slot[slot].length && q->slot[slot].length <= SERIAL_CHUNK);
            total += q->slot[slot].length - q->slot[slot].offset;
        }
        return settleStart(index, kind, p->sockGeneration, relayWriteSlot(q), total);
    }
    }
    return 0;
}

void pump(int index)
{
    static const int order[] = {RELAY_SEND_NET, RELAY_WRITE_SERIAL, RELAY_RECV_NET, RELAY_READ_SERIAL,
                                RELAY_WAIT_SERIAL};
    Port* p = &w.ports[index];
    for (int round = 0; round < PUMP_ROUNDS; round++) {
        int ops = relayNextOps(&p->relay);
        int r = 0;
        for (int k = 0; k < 5 && r == 0; k++)
            if (ops & (1 << order[k]))
                r = startTransfer(index, order[k]);
        if (r != 1)
            return;
    }
}

void act(int index, int actions)
{
    Port* p = &w.ports[index];
    trace("port %d: link actions %d, phase %d\n", index, actions, p->link.phase);
    if (actions & LINK_DO_CLOSE)
        closeSocket(p);
    p->relay.linkUp = linkIsUp(&p->link) && p->sock;
    publishLink(index);
    if (actions & LINK_DO_RESOLVE)
        resolve(index);
    if (actions & LINK_DO_OPEN)
        openSocket(index);
    pump(index);
}

// The relay must queue an accepted read in the slot its buffer was posted with.
void checkQueuedWhereRead(const RelayQueue* q, const Transfer* op, uint32_t kept)
{
    if (!kept)
        return;
    CHECK(q->filled > 0);
    CHECK((int)((q->tail + q->filled - 1) % RELAY_SLOTS) == op->slot);
}

void serialDone(int index, Transfer* op, int kind, uint32_t bytes, int error)
{
    Port* p = &w.ports[index];
    int current = op->generation == p->serialGeneration && p->serial;
    if (current && error && kind == RELAY_WAIT_SERIAL) {
        relaySerialWaitFailed(&p->relay);
        return;
    }
    if (!current || error == ERR_ABORTED) {
        relayAbandoned(&p->relay, kind);
        return;
    }
    if (error) {
        relayAbandoned(&p->relay, kind);
        lostSerial(index);
        return;
    }
    if (kind == RELAY_WAIT_SERIAL) {
        if (w.in->ConsumeBool())
            relaySerialWaitFailed(&p->relay);   // woken with no receive event
        else
            relaySerialWaited(&p->relay);
    } else if (kind == RELAY_WRITE_SERIAL) {
        relaySerialWritten(&p->relay, bytes);
    } else {
        checkQueuedWhereRead(&p->relay.toNet, op, relaySerialRead(&p->relay, bytes));
    }
}

void recordSent(int index, uint32_t bytes)
{
    Port* p = &w.ports[index];
    const RelayQueue* q = &p->relay.toNet;
    for (int k = 0; k < relayFilledSlots(q) && bytes > 0; k++) {
        int slot = (relayWriteSlot(q) + k) % RELAY_SLOTS;
        uint32_t left = q->slot[slot].length - q->slot[slot].offset;
        uint32_t n = bytes < left ? bytes : left;
        recordTraffic(entryOf(index), &p->counts, 0, toNet[index][slot] + q->slot[slot].offset, n, w.nowMs * 10);
        bytes -= n;
    }
}

void netDone(int index, Transfer* op, int kind, uint32_t bytes, int error)
{
    Port* p = &w.ports[index];
    int current = op->generation == p->sockGeneration && p->sock;
    if (kind == HOST_OP_CONNECT) {
        if (!current)
            return;
        if (error)
            return failLink(index, detailOf(error));
        act(index, linkOpened(&p->link));
        return;
    }
    if (!current || error == ERR_ABORTED) {
        relayAbandoned(&p->relay, kind);
        return;
    }
    if (kind == RELAY_RECV_NET && p->settings.udp) {
        int foreign = w.in->ConsumeIntegralInRange<int>(0, 7) == 0;
        if (error == ERR_MSGSIZE || error == ERR_RESET || (!error && foreign)) {
            relayNetDiscarded(&p->relay);
            return;
        }
    }
    if (error) {
        relayAbandoned(&p->relay, kind);
        return failLink(index, detailOf(error));
    }
    if (kind == RELAY_RECV_NET) {
        if (bytes == 0 && !p->settings.udp) {
            relayAbandoned(&p->relay, kind);
            return failLink(index, LINK_DETAIL_PEER_CLOSED);
        }
        // What is captured must be what the receive brought.
        int slot = relayReadSlot(&p->relay.toSerial);
        CHECK(slot == op->slot);
        recordTraffic(entryOf(index), &p->counts, 1, toSerial[index][slot], bytes, w.nowMs * 10);
        checkQueuedWhereRead(&p->relay.toSerial, op, relayNetReceived(&p->relay, bytes));
        return;
    }
    CHECK(kind == RELAY_SEND_NET);
    CHECK(p->relay.toNet.writing);
    recordSent(index, bytes);
    relayNetSent(&p->relay, bytes);
}

void finishOp(int index, int kind, uint32_t bytes, int error)
{
    Port* p = &w.ports[index];
    Transfer* op = &p->ops[kind];
    trace("port %d: transfer %d done, %u bytes, error %d\n", index, kind, bytes, error);
    op->busy = 0;
    if (kind == RELAY_READ_SERIAL || kind == RELAY_WRITE_SERIAL || kind == RELAY_WAIT_SERIAL)
        serialDone(index, op, kind, bytes, error);
    else
        netDone(index, op, kind, bytes, error);
    if (p->openWanted && netIdle(p))
        openSocket(index);
}

// HostPortOps, as host_ports_win.cpp hands them to serviceHostEntry.
int opsOpen(void*, int index)
{
    Port* p = &w.ports[index];
    CHECK(index >= 0 && index < w.entries);
    CHECK(!p->held && !w.states[index].held);
    maybeWriteMeanwhile(index);
    if (!portIdle(p))
        return 0;
    memset(&p->relay, 0, sizeof p->relay);
    // Counting goes on from what the entry shows, as the glue does.
    p->counts.rx = entryOf(index)->rxBytes;
    p->counts.tx = entryOf(index)->txBytes;
    p->reopenAt = 0;
    p->running = 0;
    memset(&p->settings, 0, sizeof p->settings);
    linkStop(&p->link);
    if (!openSerial(index) && hostPortNumber(entryOf(index)))
        p->reopenAt = w.nowMs + SERIAL_OPEN_RETRY_MS;
    p->held = 1;
    return 1;
}

void opsClose(void*, int index)
{
    Port* p = &w.ports[index];
    CHECK(index >= 0 && index < w.entries);
    CHECK(p->held && !p->running);
    maybeWriteMeanwhile(index);
    p->running = 0;
    p->resolveGeneration++;
    linkStop(&p->link);
    closeSocket(p);
    closeSerial(p);
    p->reopenAt = 0;
    p->held = 0;
}

void portStartLink(int index)
{
    Port* p = &w.ports[index];
    p->running = 1;
    p->resolveGeneration++;
    if (!p->serial) {
        act(index, linkHalt(&p->link, LINK_DETAIL_SERIAL_LOST));
        return;
    }
    int usable = readLinkSettings(entryOf(index), &p->settings);
    checkLinkSettings(entryOf(index), &p->settings, usable);
    act(index, linkStart(&p->link, p->settings.udp, usable, w.nowMs));
}

void opsStart(void*, int index)
{
    Port* p = &w.ports[index];
    CHECK(index >= 0 && index < w.entries);
    CHECK(p->held && !p->running);   // a restart stops first
    maybeWriteMeanwhile(index);
    portStartLink(index);
}

void opsStop(void*, int index)
{
    Port* p = &w.ports[index];
    CHECK(index >= 0 && index < w.entries);
    CHECK(p->held && p->running);
    maybeWriteMeanwhile(index);
    p->running = 0;
    p->resolveGeneration++;
    act(index, linkStop(&p->link));
}

const HostPortOps hostOps = {nullptr, opsOpen, opsClose, opsStart, opsStop};

void portPass(int index)
{
    Port* p = &w.ports[index];
    if (!p->serial && p->reopenAt && w.nowMs >= p->reopenAt) {
        if (openSerial(index)) {
            p->reopenAt = 0;
            if (p->running)
                portStartLink(index);
        } else {
            p->reopenAt = w.nowMs + SERIAL_REOPEN_MS;
        }
    }
    act(index, linkTick(&p->link, w.nowMs));
    VspdPairInfo info;
    memset(&info, 0, sizeof info);
    if (hostPortNumber(entryOf(index)))
        info = p->pair;
    publishPairInfo(entryOf(index), &info);
    PortEntry* e = entryOf(index);
    if (e->comOpen)
        CHECK(e->comDataBits >= 5 && e->comDataBits <= 8 && e->comParity <= 4 && e->comStopBits <= 2);
}

// One pass of serviceAllPorts.
void servicePass()
{
    for (int i = 0; i < w.entries; i++) {
        HostPortState* s = &w.states[i];
        PortEntry* e = entryOf(i);
        int wasHeld = s->held;
        int adopting = s->adopt;
        int64_t rxBefore = e->rxBytes, txBefore = e->txBytes;
        w.inCallback = 1;
        w.wroteDuringCallback = 0;
        serviceHostEntry(w.table, i, s, &hostOps);
        w.inCallback = 0;
        CHECK(s->held == w.ports[i].held);
        CHECK(s->running == w.ports[i].running);
        // What a take-up publishes (unless overwritten meanwhile), and what
        // a delete leaves: nothing of the port, and no pending request.
        // A port taken over from an earlier host keeps its counters.
        if (!wasHeld && s->held && !w.wroteDuringCallback)
            CHECK(e->present == 1u && e->rxBytes == (adopting ? rxBefore : 0) &&
                  e->txBytes == (adopting ? txBefore : 0));
        if (s->held)
            CHECK(!s->adopt);
        if (wasHeld && !s->held)
            CHECK(e->present == 0u && e->command != PORT_DELETE && e->linkState == 0 && e->comOpen == 0 &&
                  e->captureActive == 0);
        if (!s->held)
            continue;
        serviceCaptureCommand(e, w.nowMs * 10, w.tickRate);
        CHECK(e->captureCommand == 0);
        portPass(i);
    }
}

// The host stops and another starts on the same table, as a service restart
// does while the manager keeps the table: what the stopping host leaves, then
// what the new one takes over as it is.
void restartHost()
{
    for (int i = 0; i < w.entries; i++) {
        PortEntry* e = entryOf(i);
        if (w.states[i].held) {
            releaseHostEntry(e);
            CHECK(e->comOpen == 0 && e->linkDetail == 0);
            CHECK(e->linkState == LINK_STOPPED || e->linkState == LINK_DISCONNECTED);
        }
        memset(&w.states[i], 0, sizeof w.states[i]);
        memset(&w.ports[i], 0, sizeof w.ports[i]);
        linkStop(&w.ports[i].link);
    }
    for (int i = 0; i < w.entries; i++)
        w.states[i].adopt = isLiveEntry(entryOf(i));
}

// Traffic handed straight to recordTraffic, with what it must leave behind.
void directTraffic(int index)
{
    PortEntry* e = entryOf(index);
    Port* p = &w.ports[index];
    int rx = w.in->ConsumeBool();
    size_t length = w.in->ConsumeIntegralInRange<size_t>(0, 3 * CAPTURE_DATA_BYTES + 7);
    if (w.in->ConsumeIntegralInRange<int>(0, 15) == 0)
        length = w.in->ConsumeIntegralInRange<size_t>(0, 20000);
    // An exact-size copy, so a read past the data is caught.
    std::vector<uint8_t> data(length);
    if (length)
        w.in->ConsumeData(data.data(), length);

    int32_t active = e->captureActive;
    int32_t writeBefore = e->captureWriteIndex;
    uint32_t droppedBefore = e->captureDropped;
    int64_t counterBefore = rx ? e->rxBytes : e->txBytes;
    int64_t ownBefore = rx ? p->counts.rx : p->counts.tx;
    recordTraffic(e, &p->counts, rx, data.data(), length, w.nowMs * 10);

    int64_t counter = rx ? e->rxBytes : e->txBytes;
    if (length) {
        // Counting goes on from our own figure, or starts again after a clear
        // or when it cannot grow any more.
        const bool goesOn = counterBefore == ownBefore && counterBefore <= INT64_MAX - (int64_t)length;
        CHECK(counter == (goesOn ? counterBefore + (int64_t)length : (int64_t)length));
        CHECK(counter == (rx ? p->counts.rx : p->counts.tx));
    }
    if (!active || !length) {
        CHECK(e->captureWriteIndex == writeBefore && e->captureDropped == droppedBefore);
        return;
    }
    // Every chunk of 512 is either a record in the next slot or counted as dropped.
    size_t chunks = (length + CAPTURE_DATA_BYTES - 1) / CAPTURE_DATA_BYTES;
    size_t written = 0;
    if (e->captureWriteIndex != writeBefore) {
        CHECK(e->captureWriteIndex >= 0 && e->captureWriteIndex < CAPTURE_RING_SLOTS);
        written = (size_t)((e->captureWriteIndex - ringSlot(writeBefore) + CAPTURE_RING_SLOTS) % CAPTURE_RING_SLOTS);
    }
    CHECK(written + (e->captureDropped - droppedBefore) == chunks);
    // The records written are the first chunks, in order; what did not fit is dropped.
    for (size_t k = 0; k < written; k++) {
        const CaptureRecord* r = &e->captureRing[(ringSlot(writeBefore) + k) % CAPTURE_RING_SLOTS];
        size_t from = k * CAPTURE_DATA_BYTES;
        size_t n = length - from < (size_t)CAPTURE_DATA_BYTES ? length - from : (size_t)CAPTURE_DATA_BYTES;
        CHECK(r->recordLength == n);
        CHECK(r->recordDirection == (rx ? 1u : 0u));
        CHECK(r->recordTime == w.nowMs * 10);
        CHECK(memcmp(r->recordData, data.data() + from, n) == 0);
    }
}

// A transfer of the port reports back.
void completeTransfer(int index)
{
    Port* p = &w.ports[index];
    int kind = w.in->ConsumeIntegralInRange<int>(0, HOST_OPS - 1);
    Transfer* op = &p->ops[kind];
    if (!op->busy)
        return;
    uint32_t bytes = w.in->ConsumeIntegralInRange<uint32_t>(0, op->length);
    int error = w.in->ConsumeIntegralInRange<int>(0, 3) ? ERR_NONE : w.in->ConsumeIntegralInRange<int>(1, ERR_KINDS - 1);
    if (kind == RELAY_WAIT_SERIAL || kind == HOST_OP_CONNECT)
        bytes = 0;
    finishOp(index, kind, bytes, error);
    pump(index);
}

void resolved(int index)
{
    Port* p = &w.ports[index];
    if (!p->resolvePending || p->resolveAsked != p->resolveGeneration)
        return;   // a stale answer is dropped by takeResolved
    p->resolvePending = 0;
    act(index, linkResolved(&p->link, w.in->ConsumeBool(), w.nowMs));
}

void pairChanged(int index)
{
    VspdPairInfo* info = &w.ports[index].pair;
    memset(info, 0, sizeof *info);
    w.in->ConsumeData(info, sizeof *info);
    info->size = sizeof *info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setUp();
    FuzzedDataProvider in(data, size);
    memset(&w, 0, sizeof w);
    w.in = &in;
    for (int i = 0; i < MAX_ENTRIES; i++)
        linkStop(&w.ports[i].link);
    w.entries = in.ConsumeBool() ? 2 : 1;
    // The last entry ends its allocation.
    w.table = reinterpret_cast<PortTable*>(w.entries == 2 ? twoEntries : oneEntry);
    w.waitMode = in.ConsumeBool() ? SERIAL_WAIT_EVENT : SERIAL_WAIT_READ;
    w.tickRate = in.ConsumeBool() ? 10000000 : pickNumber();
    w.nowMs = in.ConsumeIntegralInRange<int64_t>(0, INT64_C(1) << 40);
    // Every field of each entry from the input; the ring keeps whatever it
    // held, which the host only ever writes.
    for (int i = 0; i < w.entries; i++) {
        unsigned char* base = reinterpret_cast<unsigned char*>(entryOf(i));
        memset(base, 0, HEADER);
        in.ConsumeData(base, in.ConsumeIntegralInRange<size_t>(0, HEADER));
    }


    for (int step = 0; step < MAX_STEPS && in.remaining_bytes(); step++) {
        int index = w.entries == 2 ? in.ConsumeIntegralInRange<int>(0, 1) : 0;
        switch (in.ConsumeIntegralInRange<int>(0, 10)) {
        case 0:
        case 1: writeSomething(index); break;
        case 2:
        case 3: trace("pass\n"); servicePass(); break;
        case 4: directTraffic(index); break;
        case 5:
        case 6: completeTransfer(index); break;
        case 7: w.nowMs += in.ConsumeIntegralInRange<int64_t>(0, 10000); break;
        case 8: resolved(index); break;
        case 9: pairChanged(index); break;
        case 10: trace("restart\n"); restartHost(); break;
        }
        for (int i = 0; i < w.entries; i++) {
            checkRelay(&w.ports[i]);
            CHECK(w.states[i].held == w.ports[i].held);
        }
    }
    return 0;
}
