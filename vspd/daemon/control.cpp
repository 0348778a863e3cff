// The control channel: loopback TCP clients sending one-line requests.
#include "vspd/daemon/paird.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

enum { ACCEPTS_PER_WAKEUP = 16, MAX_WORDS = 4 };

int openListener(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        logMessage("socket: %s", strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);   // never any other address
    if (bind(fd, (sockaddr*)&addr, sizeof addr) != 0 || listen(fd, 64) != 0) {
        logMessage("127.0.0.1:%d: %s", port, strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

static void closeClient(Daemon* d, Client* c)
{
    if (c->fd < 0)
        return;
    close(c->fd);   // also leaves the epoll set
    c->fd = -1;
}

static void setClientInterest(Daemon* d, int index)
{
    Client* c = &d->clients[index];
    epoll_event e;
    memset(&e, 0, sizeof e);
    e.data.u64 = makeTag(TAG_CLIENT, (uint32_t)index);
    if (c->outLen > c->outOff)
        e.events = EPOLLOUT;
    else if (!c->eof && !c->closing)
        e.events = EPOLLIN | EPOLLRDHUP;
    if (epoll_ctl(d->epollFd, EPOLL_CTL_MOD, c->fd, &e) != 0)
        closeClient(d, c);
}

void onListenEvent(Daemon* d)
{
    for (int i = 0; i < ACCEPTS_PER_WAKEUP; i++) {
        int fd = accept4(d->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE) && d->spareFd >= 0) {
            // Out of descriptors: the pending connection would wake us for
            // ever, so take it with the spare one and close it at once.
            close(d->spareFd);
            fd = accept4(d->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                close(fd);
            d->spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            logMessage("out of descriptors: a client was turned away");
            return;
        }
        if (fd < 0)
            return;
        int index = -1;
        for (int k = 0; k < PAIRD_MAX_CLIENTS; k++) {
            if (d->clients[k].fd < 0) {
                index = k;
                break;
            }
        }
        if (index < 0) {
            static const char busy[] = "ERR busy\n";
            send(fd, busy, sizeof busy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
            close(fd);
            continue;
        }
        Client* c = &d->clients[index];
        c->fd = fd;
        c->eof = c->closing = 0;
        c->inLen = c->outOff = c->outLen = 0;
        c->waiting = 0;
        c->deadlineMs = monotonicMs() + PAIRD_CLIENT_IDLE_MS;
        epoll_event e;
        memset(&e, 0, sizeof e);
        e.events = EPOLLIN | EPOLLRDHUP;
        e.data.u64 = makeTag(TAG_CLIENT, (uint32_t)index);
        if (epoll_ctl(d->epollFd, EPOLL_CTL_ADD, fd, &e) != 0)
            closeClient(d, c);
    }
}

static int equalsNoCase(const char* a, const char* b)
{
    return strcasecmp(a, b) == 0;
}

void handleRequest(Daemon* d, const char* line, int length, char* reply, int size)
{
    char text[PAIR_REQUEST_MAX + 1];
    if (length > PAIR_REQUEST_MAX) {
        snprintf(reply, (size_t)size, "ERR line too long");
        return;
    }
    for (int i = 0; i < length; i++) {
        unsigned char c = (unsigned char)line[i];
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            snprintf(reply, (size_t)size, "ERR bad request");
            return;
        }
    }
    memcpy(text, line, (size_t)length);
    text[length] = 0;

    char* words[MAX_WORDS];
    int count = 0;
    for (char* word = strtok(text, " \t"); word; word = strtok(nullptr, " \t")) {
        if (count == MAX_WORDS) {
            snprintf(reply, (size_t)size, "ERR bad request");
            return;
        }
        words[count++] = word;
    }
    if (count == 0) {
        snprintf(reply, (size_t)size, "ERR bad request");
        return;
    }

    const char* command = words[0];
    const char* error = nullptr;
    if (equalsNoCase(command, "PING") || equalsNoCase(command, "LIST") || equalsNoCase(command, "QUERYALL")) {
        if (count != 1)
            error = "bad request";
        else if (equalsNoCase(command, "LIST"))
            return formatList(d, reply, size);
        else if (equalsNoCase(command, "QUERYALL"))
            return formatQueryAll(d, reply, size);
    } else if (equalsNoCase(command, "CREATE")) {
        int com = count == 3 ? pairComNumber(words[1]) : 0;
        int nullCom = count == 3 ? pairNullComNumber(words[2]) : 0;
        if (count != 3)
            error = "bad request";
        else if (!com || !nullCom)
            error = "bad name";
        else if (com != nullCom)
            error = "name mismatch";
        else
            error = createPair(d, com);
    } else if (equalsNoCase(command, "DELETE") || equalsNoCase(command, "QUERY")) {
        int com = count == 2 ? pairComNumber(words[1]) : 0;
        if (count != 2)
            error = "bad request";
        else if (!com)
            error = "bad name";
        else if (equalsNoCase(command, "QUERY"))
            return formatQuery(d, com, reply, size);
        else
            error = deletePair(d, com);
    } else {
        error = "unknown command";
    }
    if (error)
        snprintf(reply, (size_t)size, "ERR %s", error);
    else
        snprintf(reply, (size_t)size, "OK");
}

static void appendReply(Client* c, const char* reply)
{
    if (c->outOff > 0) {
        memmove(c->out, c->out + c->outOff, c->outLen - c->outOff);
        c->outLen -= c->outOff;
        c->outOff = 0;
    }
    size_t length = strlen(reply);
    if (c->outLen + length + 1 > sizeof c->out)
        return;   // cannot happen: callers keep room for the longest reply
    memcpy(c->out + c->outLen, reply, length);
    c->outLen += (uint32_t)length;
    c->out[c->outLen++] = '\n';
}

void noteChange(Daemon* d)
{
    d->changeSeq++;
}

// "WAITALL <seq> <ms>": 1 when the line is one (then *seq and *ms are set,
// *ms -1 when the words are bad), 0 for any other request.
static int parseWaitAll(const char* line, int length, uint32_t* seq, int* ms)
{
    char text[PAIR_REQUEST_MAX + 1];
    if (length > PAIR_REQUEST_MAX)
        return 0;
    memcpy(text, line, (size_t)length);
    text[length] = 0;
    char command[16];
    unsigned long long a = 0, b = 0;
    char extra = 0;
    int n = sscanf(text, " %15s %llu %llu %c", command, &a, &b, &extra);
    if (n < 1 || strcasecmp(command, "WAITALL") != 0)
        return 0;
    unsigned long long most = PAIRD_WAIT_MAX_MS;
    *ms = (n == 3 && a <= 0xFFFFFFFFull) ? (int)(b < most ? b : most) : -1;
    *seq = (uint32_t)a;
    return 1;
}

// Answers every complete line while there is room for the answer. A WAITALL
// that nothing has changed for yet holds the lines after it back.
static void processLines(Daemon* d, Client* c)
{
    while (!c->closing && !c->waiting && (c->outLen - c->outOff) + PAIRD_REPLY_MAX + 1 <= sizeof c->out) {
        char* newline = (char*)memchr(c->in, '\n', c->inLen);
        if (!newline) {
            if (c->inLen >= sizeof c->in) {
                appendReply(c, "ERR line too long");
                c->closing = 1;
            }
            return;
        }
        int length = (int)(newline - c->in);
        if (length > 0 && c->in[length - 1] == '\r')
            length--;
        char reply[PAIRD_REPLY_MAX];
        uint32_t seq = 0;
        int ms = 0;
        if (parseWaitAll(c->in, length, &seq, &ms) && ms >= 0) {
            if (seq == d->changeSeq && ms > 0) {
                c->waiting = 1;
                c->waitSeq = seq;
                c->waitUntil = monotonicMs() + ms;
            } else {
                formatWaitAll(d, reply, sizeof reply);
                appendReply(c, reply);
            }
        } else if (ms < 0) {
            appendReply(c, "ERR bad request");
        } else {
            handleRequest(d, c->in, length, reply, sizeof reply);
            appendReply(c, reply);
        }
        if (length > PAIR_REQUEST_MAX)
            c->closing = 1;
        uint32_t used = (uint32_t)(newline - c->in) + 1;
        memmove(c->in, c->in + used, c->inLen - used);
        c->inLen -= used;
        c->deadlineMs = (c->waiting ? c->waitUntil : monotonicMs()) + PAIRD_CLIENT_IDLE_MS;
    }
}

// Returns 0 when the connection has failed.
static int sendOutput(Client* c)
{
    while (c->outOff < c->outLen) {
        ssize_t n = send(c->fd, c->out + c->outOff, c->outLen - c->outOff, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            c->outOff += (uint32_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    c->outOff = c->outLen = 0;
    return 1;
}

// Returns 0 when the connection has failed.
static int readInput(Client* c)
{
    size_t room = sizeof c->in - c->inLen;
    if (room == 0)
        return 1;
    ssize_t n = recv(c->fd, c->in + c->inLen, room, MSG_DONTWAIT);
    if (n > 0) {
        c->inLen += (uint32_t)n;
        return 1;
    }
    if (n == 0) {
        c->eof = 1;
        return 1;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

static void serviceClient(Daemon* d, int index, int ok);

void onClientEvent(Daemon* d, int index, uint32_t events)
{
    Client* c = &d->clients[index];
    if (c->fd < 0)
        return;
    if (events & EPOLLERR) {
        closeClient(d, c);
        return;
    }
    int ok = 1;
    if (events & EPOLLOUT)
        ok = sendOutput(c);
    if (ok && (events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP)) && c->outLen == c->outOff && !c->eof && !c->closing)
        ok = readInput(c);
    serviceClient(d, index, ok);
}

// Answers what has arrived and sends it; closes a client that is done or failed.
static void serviceClient(Daemon* d, int index, int ok)
{
    Client* c = &d->clients[index];
    // Answer what has arrived; each round frees the output for the next lines.
    for (int round = 0; ok && round < (int)sizeof c->in; round++) {
        uint32_t before = c->inLen;
        processLines(d, c);
        ok = sendOutput(c);
        if (c->inLen == before || c->outLen != c->outOff)
            break;
    }
    int lineWaiting = c->waiting || memchr(c->in, '\n', c->inLen) != nullptr;
    if (!ok || (c->outLen == c->outOff && (c->closing || (c->eof && !lineWaiting)))) {
        closeClient(d, c);
        return;
    }
    setClientInterest(d, index);
}

int64_t nextClientDeadline(const Daemon* d)
{
    int64_t next = -1;
    for (int i = 0; i < PAIRD_MAX_CLIENTS; i++) {
        const Client* c = &d->clients[i];
        if (c->fd < 0)
            continue;
        int64_t due = c->waiting && c->waitUntil < c->deadlineMs ? c->waitUntil : c->deadlineMs;
        if (next < 0 || due < next)
            next = due;
    }
    return next;
}

int clientsWaiting(const Daemon* d)
{
    for (int i = 0; i < PAIRD_MAX_CLIENTS; i++) {
        if (d->clients[i].fd >= 0 && d->clients[i].waiting)
            return 1;
    }
    return 0;
}

void answerWaiters(Daemon* d)
{
    int64_t now = monotonicMs();
    for (int i = 0; i < PAIRD_MAX_CLIENTS; i++) {
        Client* c = &d->clients[i];
        if (c->fd < 0 || !c->waiting || (c->waitSeq == d->changeSeq && c->waitUntil > now))
            continue;
        char reply[PAIRD_REPLY_MAX];
        formatWaitAll(d, reply, sizeof reply);
        c->waiting = 0;
        appendReply(c, reply);
        c->deadlineMs = now + PAIRD_CLIENT_IDLE_MS;
        serviceClient(d, i, sendOutput(c));
    }
}

void expireClients(Daemon* d)
{
    int64_t now = monotonicMs();
    for (int i = 0; i < PAIRD_MAX_CLIENTS; i++) {
        if (d->clients[i].fd >= 0 && d->clients[i].deadlineMs <= now)
            closeClient(d, &d->clients[i]);
    }
}

void closeAllClients(Daemon* d)
{
    for (int i = 0; i < PAIRD_MAX_CLIENTS; i++)
        closeClient(d, &d->clients[i]);
}
