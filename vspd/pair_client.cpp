// Client side of the pair daemon's control channel: one short TCP exchange per call.
#include "vspd/pair_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET PairSocket;
#define PAIR_NO_SOCKET INVALID_SOCKET
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
typedef int PairSocket;
#define PAIR_NO_SOCKET (-1)
#endif

enum { REPLY_MAX = PAIR_REPLY_MAX };

static int upperChar(int c)
{
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

static int startsWithNoCase(const char* text, const char* prefix)
{
    for (; *prefix; text++, prefix++) {
        if (upperChar((unsigned char)*text) != *prefix)
            return 0;
    }
    return 1;
}

int pairComNumber(const char* name)
{
    if (!name || !startsWithNoCase(name, "COM"))
        return 0;
    const char* digits = name + 3;
    if (digits[0] < '1' || digits[0] > '9')
        return 0;
    int value = 0;
    int count = 0;
    for (; digits[count]; count++) {
        if (count >= 3 || digits[count] < '0' || digits[count] > '9')
            return 0;
        value = value * 10 + (digits[count] - '0');
    }
    return value <= PAIR_MAX_COM ? value : 0;
}

int pairNullComNumber(const char* name)
{
    if (!name || !startsWithNoCase(name, "NULL_"))
        return 0;
    return pairComNumber(name + 5);
}

int pairControlPort()
{
#ifdef _WIN32
    // The process's own environment, not a C runtime's copy made at start-up.
    char buffer[16];
    DWORD n = GetEnvironmentVariableA("PARLO_PAIRD_PORT", buffer, sizeof buffer);
    const char* text = n > 0 && n < sizeof buffer ? buffer : nullptr;
#else
    const char* text = getenv("PARLO_PAIRD_PORT");
#endif
    if (!text || !*text)
        return PAIRD_DEFAULT_PORT;
    long value = 0;
    for (int i = 0; text[i]; i++) {
        if (i >= 5 || text[i] < '0' || text[i] > '9')
            return PAIRD_DEFAULT_PORT;
        value = value * 10 + (text[i] - '0');
    }
    return (value >= 1 && value <= 65535) ? (int)value : PAIRD_DEFAULT_PORT;
}

// Reads an unsigned decimal of at most 10 digits ending at a space or the end.
static int parseNumber(const char* text, uint32_t* out, const char** end)
{
    uint64_t value = 0;
    int count = 0;
    while (text[count] >= '0' && text[count] <= '9') {
        if (count >= 10)
            return 0;
        value = value * 10 + (uint32_t)(text[count] - '0');
        count++;
    }
    if (count == 0 || value > 0xFFFFFFFFu || (text[count] != ' ' && text[count] != 0))
        return 0;
    *out = (uint32_t)value;
    *end = text + count;
    return 1;
}

// Checks the values of an existing pair and fills *out; 0 when one is out of range.
static int fillPairInfo(uint32_t open, uint32_t baud, uint32_t data, uint32_t parity, uint32_t stop,
                        PairInfo* out)
{
    if (open > 1 || data < 5 || data > 8 || parity > 4 || stop > 2)
        return 0;
    out->exists = 1;
    out->open = (int32_t)open;
    out->baudRate = baud;
    out->dataBits = (int32_t)data;
    out->parity = (int32_t)parity;
    out->stopBits = (int32_t)stop;
    return 1;
}

int pairParseQueryReply(const char* line, PairInfo* out)
{
    if (!line || strncmp(line, "OK ", 3) != 0)
        return 0;
    static const char* const keys[] = {"exists=", "open=", "baud=", "data=", "parity=", "stop="};
    uint32_t values[6] = {0, 0, 0, 0, 0, 0};
    int seen[6] = {0, 0, 0, 0, 0, 0};
    const char* p = line + 3;
    while (*p) {
        if (*p == ' ') {
            p++;
            continue;
        }
        int key = -1;
        for (int k = 0; k < 6; k++) {
            if (strncmp(p, keys[k], strlen(keys[k])) == 0) {
                key = k;
                break;
            }
        }
        if (key < 0) {
            // Keys added later are skipped.
            while (*p && *p != ' ')
                p++;
            continue;
        }
        const char* end = nullptr;
        if (!parseNumber(p + strlen(keys[key]), &values[key], &end))
            return 0;
        seen[key] = 1;
        p = end;
    }
    if (!seen[0] || values[0] > 1)
        return 0;
    PairInfo info;
    memset(&info, 0, sizeof info);
    if (values[0] == 0) {
        *out = info;
        return 1;
    }
    for (int k = 1; k < 6; k++) {
        if (!seen[k])
            return 0;
    }
    return fillPairInfo(values[1], values[2], values[3], values[4], values[5], out);
}

// One "COMn=open,baud,data,parity,stop,nullopen[,...]" word of a QUERYALL reply.
static int parseQueryAllWord(const char* word, const char** end, int* com, PairInfo* out)
{
    const char* equals = strchr(word, '=');
    const char* space = strchr(word, ' ');
    if (!equals || (space && space < equals) || equals - word > 6)
        return 0;
    char name[8];
    memcpy(name, word, (size_t)(equals - word));
    name[equals - word] = 0;
    *com = pairComNumber(name);
    if (!*com)
        return 0;
    uint32_t values[6];
    const char* p = equals + 1;
    for (int k = 0; k < 6; k++) {
        uint64_t value = 0;
        int digits = 0;
        while (p[digits] >= '0' && p[digits] <= '9' && digits <= 10) {
            value = value * 10 + (uint32_t)(p[digits] - '0');
            digits++;
        }
        if (digits == 0 || digits > 10 || value > 0xFFFFFFFFu)
            return 0;
        values[k] = (uint32_t)value;
        p += digits;
        if (k < 5 && *p++ != ',')
            return 0;
    }
    // Values added later are skipped.
    while (*p == ',' || (*p >= '0' && *p <= '9'))
        p++;
    if (*p != ' ' && *p != 0)
        return 0;
    if (values[5] > 1)
        return 0;
    *end = p;
    return fillPairInfo(values[0], values[1], values[2], values[3], values[4], out);
}

int pairParseQueryAllReply(const char* line, PairInfo* out, int count)
{
    if (!out || count <= 0)
        return 0;
    memset(out, 0, sizeof *out * (size_t)count);
    if (!line || strncmp(line, "OK", 2) != 0 || (line[2] != ' ' && line[2] != 0))
        return 0;
    const char* p = line + 2;
    while (*p) {
        if (*p == ' ') {
            p++;
            continue;
        }
        int com = 0;
        PairInfo info;
        const char* end = nullptr;
        if (!parseQueryAllWord(p, &end, &com, &info)) {
            memset(out, 0, sizeof *out * (size_t)count);
            return 0;
        }
        if (com < count)
            out[com] = info;
        p = end;
    }
    return 1;
}

// ---- socket calls, the only part that differs between the two builds ----

#ifdef _WIN32
static uint64_t nowMs()
{
    return GetTickCount64();
}

static void closeSocket(PairSocket s)
{
    closesocket(s);
}

// Waits until the socket is readable (forWrite 0) or connected (forWrite 1).
// Returns 1 when ready, 0 on time-out or failure.
static int waitSocket(PairSocket s, int forWrite, uint64_t deadline)
{
    uint64_t now = nowMs();
    if (now >= deadline)
        return 0;
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv;
    uint64_t left = deadline - now;
    tv.tv_sec = (long)(left / 1000);
    tv.tv_usec = (long)(left % 1000) * 1000;
    int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv);
    if (n <= 0 || FD_ISSET(s, &failed))
        return 0;
    return 1;
}

static PairSocket openConnection(int port, uint64_t deadline)
{
    PairSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return PAIR_NO_SOCKET;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, (sockaddr*)&addr, sizeof addr) == 0)
        return s;
    if (WSAGetLastError() != WSAEWOULDBLOCK || !waitSocket(s, 1, deadline)) {
        closesocket(s);
        return PAIR_NO_SOCKET;
    }
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, (char*)&error, &length) != 0 || error != 0) {
        closesocket(s);
        return PAIR_NO_SOCKET;
    }
    return s;
}

// Returns bytes moved, 0 when the call would block, -1 on failure or close.
static int sendSome(PairSocket s, const char* data, int length)
{
    int n = send(s, data, length, 0);
    if (n >= 0)
        return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

static int receiveSome(PairSocket s, char* data, int length)
{
    int n = recv(s, data, length, 0);
    if (n > 0)
        return n;
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
        return 0;
    return -1;
}
#else
static uint64_t nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

static void closeSocket(PairSocket s)
{
    close(s);
}

static int waitSocket(PairSocket s, int forWrite, uint64_t deadline)
{
    for (;;) {
        uint64_t now = nowMs();
        if (now >= deadline)
            return 0;
        pollfd p;
        p.fd = s;
        p.events = forWrite ? POLLOUT : POLLIN;
        p.revents = 0;
        int n = poll(&p, 1, (int)(deadline - now));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        // A refused connect shows as POLLERR; a closed peer as POLLHUP with
        // data still to read, which recv sorts out.
        if (forWrite && (p.revents & (POLLERR | POLLHUP)))
            return 0;
        return 1;
    }
}

static PairSocket openConnection(int port, uint64_t deadline)
{
    PairSocket s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return PAIR_NO_SOCKET;
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, (sockaddr*)&addr, sizeof addr) == 0)
        return s;
    if (errno != EINPROGRESS || !waitSocket(s, 1, deadline)) {
        close(s);
        return PAIR_NO_SOCKET;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close(s);
        return PAIR_NO_SOCKET;
    }
    return s;
}

static int sendSome(PairSocket s, const char* data, int length)
{
    ssize_t n = send(s, data, (size_t)length, MSG_NOSIGNAL);
    if (n >= 0)
        return (int)n;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

static int receiveSome(PairSocket s, char* data, int length)
{
    ssize_t n = recv(s, data, (size_t)length, 0);
    if (n > 0)
        return (int)n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}
#endif

// Sends one request line and reads its reply line (without the line end).
// Returns 1 with the reply, -1 when no daemon answered in time.
static int exchange(const char* request, char* reply, int replySize, int replyWaitMs = PAIR_TIMEOUT_MS)
{
    PairSocket s = openConnection(pairControlPort(), nowMs() + PAIR_TIMEOUT_MS);
    if (s == PAIR_NO_SOCKET)
        return -1;
    uint64_t deadline = nowMs() + (uint64_t)replyWaitMs;
    int length = (int)strlen(request);
    int sent = 0;
    while (sent < length) {
        int n = sendSome(s, request + sent, length - sent);
        if (n < 0 || (n == 0 && !waitSocket(s, 1, deadline))) {
            closeSocket(s);
            return -1;
        }
        sent += n;
    }
    int got = 0;
    for (;;) {
        char* newline = (char*)memchr(reply, '\n', (size_t)got);
        if (newline) {
            if (newline > reply && newline[-1] == '\r')
                newline--;
            *newline = 0;
            closeSocket(s);
            return 1;
        }
        if (got >= replySize - 1 || !waitSocket(s, 0, deadline))
            break;
        int n = receiveSome(s, reply + got, replySize - 1 - got);
        if (n < 0)
            break;
        got += n;
    }
    closeSocket(s);
    return -1;
}

// 1 for "OK...", 0 for "ERR...", -1 for anything else or no answer.
static int request(const char* text, char* reply, int replySize, int replyWaitMs = PAIR_TIMEOUT_MS)
{
    if (exchange(text, reply, replySize, replyWaitMs) < 0)
        return -1;
    if (strcmp(reply, "OK") == 0 || strncmp(reply, "OK ", 3) == 0)
        return 1;
    if (strcmp(reply, "ERR") == 0 || strncmp(reply, "ERR ", 4) == 0)
        return 0;
    return -1;
}

int pairCreate(const char* com, const char* nullName)
{
    int number = pairComNumber(com);
    if (!number || pairNullComNumber(nullName) != number)
        return 0;
    char text[64];
    snprintf(text, sizeof text, "CREATE COM%d NULL_COM%d\n", number, number);
    char reply[REPLY_MAX];
    return request(text, reply, sizeof reply);
}

int pairDelete(const char* com)
{
    int number = pairComNumber(com);
    if (!number)
        return 0;
    char text[32];
    snprintf(text, sizeof text, "DELETE COM%d\n", number);
    char reply[REPLY_MAX];
    return request(text, reply, sizeof reply);
}

int pairQuery(const char* com, PairInfo* out)
{
    int number = pairComNumber(com);
    if (!number || !out)
        return 0;
    char text[32];
    snprintf(text, sizeof text, "QUERY COM%d\n", number);
    char reply[REPLY_MAX];
    int result = request(text, reply, sizeof reply);
    if (result != 1)
        return result;
    return pairParseQueryReply(reply, out) ? 1 : -1;
}

int pairQueryAll(PairInfo* out, int count)
{
    if (!out || count <= 0)
        return 0;
    memset(out, 0, sizeof *out * (size_t)count);
    static const char text[] = "QUERYALL\n";
    char reply[REPLY_MAX];
    int result = request(text, reply, sizeof reply);
    if (result != 1)
        return result;
    return pairParseQueryAllReply(reply, out, count) ? 1 : -1;
}

int pairWaitAll(uint32_t* seq, PairInfo* out, int count, int waitMs)
{
    if (!seq || !out || count <= 0)
        return 0;
    memset(out, 0, sizeof *out * (size_t)count);
    if (waitMs < 0)
        waitMs = 0;
    if (waitMs > PAIR_WAIT_MAX_MS)
        waitMs = PAIR_WAIT_MAX_MS;
    char text[64];
    snprintf(text, sizeof text, "WAITALL %u %d\n", (unsigned)*seq, waitMs);
    char reply[REPLY_MAX];
    int result = request(text, reply, sizeof reply, waitMs + PAIR_TIMEOUT_MS);
    if (result != 1)
        return result;
    return pairParseWaitAllReply(reply, seq, out, count) ? 1 : -1;
}

int pairParseWaitAllReply(const char* line, uint32_t* seq, PairInfo* out, int count)
{
    memset(out, 0, sizeof *out * (size_t)count);
    if (strncmp(line, "OK ", 3) != 0)
        return 0;
    const char* at = line + 3;
    uint64_t value = 0;
    int digits = 0;
    for (; *at >= '0' && *at <= '9' && digits < 11; at++, digits++)
        value = value * 10 + (uint64_t)(*at - '0');
    if (digits == 0 || value > 0xFFFFFFFFull || (*at != 0 && *at != ' '))
        return 0;
    // The rest is what QUERYALL reports.
    char all[REPLY_MAX];
    snprintf(all, sizeof all, "OK%s", at);
    if (!pairParseQueryAllReply(all, out, count))
        return 0;
    *seq = (uint32_t)value;
    return 1;
}

int pairPing()
{
    char reply[REPLY_MAX];
    return request("PING\n", reply, sizeof reply);
}
