// serialprog: an ordinary serial application for the e2e scenarios and the
// data-path benchmark. It opens COM ports the documented Win32 way (overlapped
// handles, SetCommState, COMMTIMEOUTS that wait for the first byte and end at
// the first pause) and talks through them.
//
//   serialprog exchange COM BAUD TEXT EXPECT TIMEOUT_MS [HOLD_MS]
//       Opens COM at BAUD 8N1, writes TEXT (escapes \r \n \t \\ \xHH), reads
//       until EXPECT bytes came back or TIMEOUT_MS passed, prints
//       "got N <escaped bytes>" and "ms <elapsed>", then keeps the port open
//       HOLD_MS more (so its open state can be looked at). Exit 0 when EXPECT
//       bytes came back.
//   serialprog listen COM BAUD MS
//       Prints "got N <escaped bytes>" for whatever arrives within MS.
//   serialprog bench FIRST COUNT SECONDS MODE [RATE]
//       COUNT ports COM<FIRST>.. at 921600 8N1 at once, for SECONDS, written
//       as a program after throughput would be: reads take whatever has
//       arrived (waiting only while nothing has) and transfers that finish at
//       once are handled where they start.
//       MODE "throughput": each port streams RATE bytes/s (0: as fast as it
//       can) in writes of up to 4096 bytes with at most 16384 unanswered, and
//       checks that its echo comes back byte for byte; prints bytes per second
//       per port and overall, and the mean bytes a read and a write carried.
//       MODE "latency": each port sends a 16-byte message, waits for its
//       echo, and again; prints round trips and their median, 99th
//       percentile and maximum in ms. A line "running" marks the start of
//       the traffic.
//   serialprog openstate COM BAUD ROUNDS
//       Opens and closes COM ROUNDS times, setting BAUD 8N1 on each open, and
//       times how long the host's table takes to show it: the port open with
//       BAUD, then closed. Prints "open_ms median M max X" and "close_ms
//       median M max X"; exit 0 when every change showed within 2 s.
#include <windows.h>

#include "ports/port_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double nowMs()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)freq.QuadPart;
}

std::string unescape(const char* s)
{
    std::string out;
    for (; *s; s++) {
        if (*s != '\\' || !s[1]) {
            out += *s;
            continue;
        }
        s++;
        switch (*s) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'x':
            if (s[1] && s[2]) {
                char hex[3] = {s[1], s[2], 0};
                out += (char)strtol(hex, nullptr, 16);
                s += 2;
            }
            break;
        default: out += *s; break;
        }
    }
    return out;
}

std::string escape(const std::string& s)
{
    std::string out;
    char buf[8];
    for (unsigned char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c >= 0x7F || c == ' ') {
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else out += (char)c;
    }
    return out;
}

HANDLE openPort(const char* com, DWORD baud)
{
    std::string path = std::string("\\\\.\\") + com;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "serialprog: cannot open %s: error %lu\n", com, GetLastError());
        return h;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    COMMTIMEOUTS timeouts = {1, 0, 0, 0, 0};
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts)) {
        fprintf(stderr, "serialprog: cannot set up %s: error %lu\n", com, GetLastError());
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool writeAll(HANDLE h, const std::string& data)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD done = 0;
    BOOL ok = WriteFile(h, data.data(), (DWORD)data.size(), &done, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(h, &ov, &done, TRUE);
    CloseHandle(ov.hEvent);
    return ok && done == data.size();
}

// Reads until `expect` bytes or the deadline; returns what came.
std::string readFor(HANDLE h, size_t expect, double deadline)
{
    std::string got;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buf[4096];
    while (got.size() < expect) {
        double left = deadline - nowMs();
        if (left <= 0)
            break;
        ResetEvent(ov.hEvent);
        DWORD n = 0;
        BOOL ok = ReadFile(h, buf, sizeof buf, &n, &ov);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(ov.hEvent, (DWORD)left + 1) != WAIT_OBJECT_0)
                CancelIoEx(h, &ov);
            ok = GetOverlappedResult(h, &ov, &n, TRUE);
        }
        if (!ok)
            break;
        got.append(buf, n);
    }
    CloseHandle(ov.hEvent);
    return got;
}

int exchange(int argc, char** argv)
{
    if (argc < 7)
        return 2;
    HANDLE h = openPort(argv[2], (DWORD)atol(argv[3]));
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    std::string text = unescape(argv[4]);
    size_t expect = (size_t)atol(argv[5]);
    double start = nowMs();
    if (!writeAll(h, text)) {
        fprintf(stderr, "serialprog: write failed: error %lu\n", GetLastError());
        return 1;
    }
    std::string got = readFor(h, expect, start + atof(argv[6]));
    printf("got %u %s\nms %.1f\n", (unsigned)got.size(), escape(got).c_str(), nowMs() - start);
    fflush(stdout);
    if (argc > 7)
        Sleep((DWORD)atol(argv[7]));
    CloseHandle(h);
    return got.size() >= expect ? 0 : 1;
}

int listen(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    HANDLE h = openPort(argv[2], (DWORD)atol(argv[3]));
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    // With a count, it stops as soon as that many bytes came.
    size_t expect = argc >= 6 ? (size_t)strtoul(argv[5], nullptr, 10) : (size_t)-1;
    std::string got = readFor(h, expect, nowMs() + atof(argv[4]));
    printf("got %u %s\n", (unsigned)got.size(), escape(got).c_str());
    CloseHandle(h);
    return 0;
}

// ---- the benchmark: every port's transfers on one completion port ----

enum { BENCH_CHUNK = 4096, BENCH_WRITE = 4096, BENCH_WINDOW = 16384, LATENCY_MESSAGE = 16, PORT_ROUNDS = 32 };

struct BenchPort {
    HANDLE h;
    OVERLAPPED readOv, writeOv;
    bool reading, writing;
    bool skipOnSuccess;       // transfers that finish at once are handled where they start
    bool intervalReads;       // reads wait for the first byte and the pause after it
    char readBuf[BENCH_CHUNK];
    char writeBuf[BENCH_CHUNK];
    uint64_t sent, received, mismatches;
    uint64_t reads, writes;   // transfers that carried bytes
    double lastSend;
    std::vector<double> rtts;
};

// The byte at stream offset i: a pattern whose repeats are far apart.
inline char patternByte(uint64_t i)
{
    return (char)((i * 7 + (i >> 12)) & 0xFF);
}

struct Bench {
    std::vector<BenchPort> ports;
    bool latency;
    double rate;              // bytes/s per port, 0 unlimited
    double start, end;
};

void readDone(Bench& b, BenchPort& p, DWORD bytes, double now)
{
    p.reading = false;
    if (bytes == 0 && !p.intervalReads) {
        // This platform answers an empty port at once: wait for the first byte instead.
        COMMTIMEOUTS timeouts = {1, 0, 0, 0, 0};
        SetCommTimeouts(p.h, &timeouts);
        p.intervalReads = true;
        return;
    }
    for (DWORD k = 0; k < bytes; k++) {
        if (p.readBuf[k] != patternByte(p.received + k))
            p.mismatches++;
    }
    p.received += bytes;
    if (bytes)
        p.reads++;
    if (b.latency && bytes && p.received == p.sent)
        p.rtts.push_back(now - p.lastSend);
}

// Starts what the port may start; returns 1 when a transfer finished at once
// (so there may be more to start), 0 when all is in flight or waiting, -1 on
// failure.
int startNext(Bench& b, BenchPort& p, double now)
{
    if (!p.reading) {
        memset(&p.readOv, 0, sizeof p.readOv);
        BOOL done = ReadFile(p.h, p.readBuf, sizeof p.readBuf, nullptr, &p.readOv);
        if (!done && GetLastError() != ERROR_IO_PENDING)
            return -1;
        p.reading = true;
        if (done && p.skipOnSuccess) {
            DWORD bytes = 0;
            GetOverlappedResult(p.h, &p.readOv, &bytes, FALSE);
            readDone(b, p, bytes, now);
            return 1;
        }
    }
    if (p.writing || now >= b.end)
        return 0;
    const uint64_t window = b.latency ? LATENCY_MESSAGE : BENCH_WINDOW;
    uint64_t inFlight = p.sent - p.received;
    if (inFlight >= window)
        return 0;
    uint64_t n = std::min<uint64_t>(window - inFlight, b.latency ? LATENCY_MESSAGE : BENCH_WRITE);
    if (b.rate > 0) {
        double allowed = b.rate * (now - b.start) / 1000.0 - (double)p.sent;
        if (allowed < 1)
            return 0;
        n = std::min<uint64_t>(n, (uint64_t)allowed);
    }
    for (uint64_t k = 0; k < n; k++)
        p.writeBuf[k] = patternByte(p.sent + k);
    memset(&p.writeOv, 0, sizeof p.writeOv);
    BOOL done = WriteFile(p.h, p.writeBuf, (DWORD)n, nullptr, &p.writeOv);
    if (!done && GetLastError() != ERROR_IO_PENDING)
        return -1;
    p.writing = true;
    p.writes++;
    p.lastSend = now;
    p.sent += n;
    if (done && p.skipOnSuccess) {
        p.writing = false;
        return 1;
    }
    return 0;
}

bool service(Bench& b, BenchPort& p, double now)
{
    for (int round = 0; round < PORT_ROUNDS; round++) {
        int r = startNext(b, p, now);
        if (r < 0)
            return false;
        if (r == 0)
            return true;
    }
    return true;
}

int bench(int argc, char** argv)
{
    if (argc < 6)
        return 2;
    int first = atoi(argv[2]);
    int count = atoi(argv[3]);
    double seconds = atof(argv[4]);
    Bench b;
    b.latency = strcmp(argv[5], "latency") == 0;
    b.rate = argc > 6 ? atof(argv[6]) : 0;
    if (count <= 0 || count > 256 || seconds <= 0)
        return 2;
    HANDLE iocp = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    b.ports.resize(count);
    for (int i = 0; i < count; i++) {
        char com[16];
        snprintf(com, sizeof com, "COM%d", first + i);
        BenchPort& p = b.ports[i];
        p = BenchPort();
        p.h = openPort(com, 921600);
        if (p.h == INVALID_HANDLE_VALUE || !CreateIoCompletionPort(p.h, iocp, (ULONG_PTR)i, 0))
            return 1;
        // Reads take whatever has arrived, waiting only while nothing has: the
        // fewest transfers for the bytes, which is what costs under Wine.
        COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
        SetCommTimeouts(p.h, &timeouts);
        p.skipOnSuccess = SetFileCompletionNotificationModes(
                              p.h, FILE_SKIP_COMPLETION_PORT_ON_SUCCESS | FILE_SKIP_SET_EVENT_ON_HANDLE) != 0;
    }
    b.start = nowMs();
    b.end = b.start + seconds * 1000.0;
    for (auto& p : b.ports) {
        if (!service(b, p, nowMs()))
            return 1;
    }
    printf("running %d ports\n", count);   // lets an onlooker time its samples
    // Runs until the end, then lets the echoes of what was sent come back.
    double drainEnd = b.end + 5000;
    for (;;) {
        double now = nowMs();
        bool allBack = true;
        for (auto& p : b.ports)
            allBack = allBack && p.received >= p.sent && !p.writing;
        if ((now >= b.end && allBack) || now >= drainEnd)
            break;
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* ov = nullptr;
        BOOL ok = GetQueuedCompletionStatus(iocp, &bytes, &key, &ov, b.rate > 0 ? 1 : 10);
        now = nowMs();
        if (ov && key < (ULONG_PTR)count) {
            BenchPort& p = b.ports[key];
            if (ov == &p.readOv && !ok)
                p.reading = false;
            else if (ov == &p.readOv)
                readDone(b, p, bytes, now);
            else if (ov == &p.writeOv)
                p.writing = false;
            service(b, p, now);
        }
        if (b.rate > 0 || !ov) {
            for (auto& p : b.ports)
                service(b, p, now);
        }
    }
    double elapsed = (std::min(nowMs(), drainEnd) - b.start) / 1000.0;
    uint64_t totalSent = 0, totalReceived = 0, mismatches = 0, slowest = UINT64_MAX, reads = 0, writes = 0;
    std::vector<double> rtts;
    for (auto& p : b.ports) {
        totalSent += p.sent;
        totalReceived += p.received;
        mismatches += p.mismatches;
        reads += p.reads;
        writes += p.writes;
        slowest = std::min(slowest, p.received);
        rtts.insert(rtts.end(), p.rtts.begin(), p.rtts.end());
        CancelIoEx(p.h, nullptr);
        CloseHandle(p.h);
    }
    printf("ports %d seconds %.2f sent %llu received %llu mismatches %llu\n", count, elapsed,
           (unsigned long long)totalSent, (unsigned long long)totalReceived, (unsigned long long)mismatches);
    printf("per_port_Bps %.0f slowest_port_Bps %.0f total_Bps %.0f\n", totalReceived / elapsed / count,
           slowest / elapsed, totalReceived / elapsed);
    printf("bytes_per_read %.0f bytes_per_write %.0f\n", reads ? (double)totalReceived / reads : 0.0,
           writes ? (double)totalSent / writes : 0.0);
    if (b.latency && !rtts.empty()) {
        std::sort(rtts.begin(), rtts.end());
        printf("round_trips %u median_ms %.2f p99_ms %.2f max_ms %.2f\n", (unsigned)rtts.size(),
               rtts[rtts.size() / 2], rtts[std::min(rtts.size() - 1, rtts.size() * 99 / 100)], rtts.back());
    }
    return mismatches == 0 && totalReceived == totalSent ? 0 : 1;
}

// Waits up to 2 s for the entry to show the port open at `baud` (or closed,
// baud 0); returns the milliseconds it took, or -1.
double waitOpenState(const volatile PortEntry* e, DWORD baud, double since)
{
    while (nowMs() - since < 2000) {
        bool open = e->comOpen != 0;
        if (baud ? (open && e->comBaudRate == baud) : !open)
            return nowMs() - since;
        Sleep(0);
    }
    return -1;
}

int openState(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    const char* com = argv[2];
    DWORD baud = (DWORD)strtoul(argv[3], nullptr, 10);
    int rounds = atoi(argv[4]);
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, PORT_TABLE_SECTION_NAME);
    const PortTable* table =
        section ? static_cast<const PortTable*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(PortTable))) : nullptr;
    if (!table) {
        fprintf(stderr, "serialprog: no port table\n");
        return 1;
    }
    std::string portName = std::string("\\\\.\\NULL_") + com;
    const volatile PortEntry* entry = nullptr;
    for (int i = 0; i < PORT_TABLE_ENTRIES && !entry; i++) {
        if (table->entries[i].present && strncmp(table->entries[i].portName, portName.c_str(), sizeof table->entries[i].portName) == 0)
            entry = &table->entries[i];
    }
    if (!entry) {
        fprintf(stderr, "serialprog: %s is not in the table\n", com);
        return 1;
    }
    std::vector<double> opened, closed;
    for (int k = 0; k < rounds; k++) {
        double start = nowMs();
        HANDLE h = openPort(com, baud);
        if (h == INVALID_HANDLE_VALUE)
            return 1;
        opened.push_back(waitOpenState(entry, baud, start));
        Sleep(50);
        start = nowMs();
        CloseHandle(h);
        closed.push_back(waitOpenState(entry, 0, start));
        Sleep(50);
    }
    bool all = true;
    for (auto* v : {&opened, &closed}) {
        all = all && std::find(v->begin(), v->end(), -1.0) == v->end();
        std::sort(v->begin(), v->end());
    }
    printf("open_ms median %.1f max %.1f\n", opened[opened.size() / 2], opened.back());
    printf("close_ms median %.1f max %.1f\n", closed[closed.size() / 2], closed.back());
    return all ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc >= 2 && strcmp(argv[1], "exchange") == 0)
        return exchange(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "listen") == 0)
        return listen(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "bench") == 0)
        return bench(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "openstate") == 0)
        return openState(argc, argv);
    fprintf(stderr, "usage: serialprog exchange COM BAUD TEXT EXPECT TIMEOUT_MS [HOLD_MS]\n"
                    "       serialprog listen COM BAUD MS [COUNT]\n"
                    "       serialprog bench FIRST COUNT SECONDS throughput|latency [RATE]\n"
                    "       serialprog openstate COM BAUD ROUNDS\n");
    return 2;
}
