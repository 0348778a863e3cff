// Moving bytes between the two masters of each pair, and following who has a side open.
//
// A side is open while some process holds its slave: then its master carries
// no POLLHUP. A closed side is taken out of the epoll set (POLLHUP would wake
// us for ever) and comes back when inotify reports an open of its slave.
// Bytes toward a closed side are dropped, as on a cable with nothing plugged
// in; bytes toward an open but full side wait in the pair's ring, and the
// other master is read only while the ring has room.
//
// An open side is registered once, edge-triggered for input and output, and
// never touched again until it closes: per chunk the daemon makes one read
// and one write, and no epoll_ctl. An edge marks the side readable or
// writable until a transfer meets EAGAIN; a pair with bytes that can move is
// "ready" and gets a turn of at most PAIRD_PAIR_BUDGET bytes before the
// next ready pair, so one busy port cannot starve the others.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

void setInterest(Daemon* d, int com, int side)
{
    Pair* p = &d->pairs[com];
    PtySide* s = &p->side[side];
    if (!p->used || s->master < 0)
        return;
    if (!s->open) {
        if (s->registered && epoll_ctl(d->epollFd, EPOLL_CTL_DEL, s->master, nullptr) != 0)
            logMessage("epoll del %s: %s", s->pts, strerror(errno));
        s->registered = 0;
        s->writable = 0;
        return;
    }
    if (s->registered)
        return;
    epoll_event e;
    memset(&e, 0, sizeof e);
    e.events = EPOLLIN | EPOLLOUT | EPOLLET;
    e.data.u64 = makeTag(TAG_MASTER, (uint32_t)(com * 2 + side));
    if (epoll_ctl(d->epollFd, EPOLL_CTL_ADD, s->master, &e) != 0) {
        logMessage("epoll %s: %s", s->pts, strerror(errno));
        return;
    }
    s->registered = 1;
}

static void sideOpened(Daemon* d, int com, int side)
{
    d->pairs[com].side[side].open = 1;
    setInterest(d, com, side);
    noteChange(d);
}

static void sideClosed(Daemon* d, int com, int side)
{
    Pair* p = &d->pairs[com];
    p->side[side].open = 0;
    setInterest(d, com, side);
    flushSlaveInput(&p->side[side]);
    p->toward[side].off = p->toward[side].len = 0;
    noteChange(d);
}

// Whether bytes may be written toward a side; asks the kernel when we think
// it closed, so that bytes right after an open are not lost to a late event.
static int sideAccepts(Daemon* d, int com, int side)
{
    PtySide* s = &d->pairs[com].side[side];
    if (s->open)
        return 1;
    if (!slaveIsOpen(s))
        return 0;
    sideOpened(d, com, side);
    return 1;
}

// Reads once from side `from` into the ring toward the other side. Returns
// the bytes taken from it.
static uint32_t readInto(Daemon* d, int com, int from)
{
    Pair* p = &d->pairs[com];
    PtySide* src = &p->side[from];
    Relay* r = &p->toward[1 - from];
    uint32_t end = (r->off + r->len) % PAIRD_RELAY_BUF;
    uint32_t room = r->off + r->len < PAIRD_RELAY_BUF ? PAIRD_RELAY_BUF - end : r->off - end;
    ssize_t n = read(src->master, r->buf + end, room);
    if (n > 0) {
        if (!sideAccepts(d, com, 1 - from))
            return (uint32_t)n;   // nobody on the far side: dropped, and the ring stays as it was
        r->len += (uint32_t)n;
        return (uint32_t)n;
    }
    if (n < 0 && errno == EINTR)
        return 0;
    src->readable = 0;
    if (n < 0 && errno == EAGAIN)
        return 0;
    // EIO: the slave is closed and all it wrote has been read.
    if (src->open)
        sideClosed(d, com, from);
    return 0;
}

// Writes once from the ring toward side `to`. Returns the bytes written.
static uint32_t writeFrom(Daemon* d, int com, int to)
{
    Pair* p = &d->pairs[com];
    PtySide* dst = &p->side[to];
    Relay* r = &p->toward[to];
    uint32_t run = r->off + r->len <= PAIRD_RELAY_BUF ? r->len : PAIRD_RELAY_BUF - r->off;
    ssize_t n = write(dst->master, r->buf + r->off, run);
    if (n > 0) {
        r->off = (r->off + (uint32_t)n) % PAIRD_RELAY_BUF;
        r->len -= (uint32_t)n;
        if (r->len == 0)
            r->off = 0;
        return (uint32_t)n;
    }
    if (n < 0 && (errno == EINTR))
        return 0;
    if (n < 0 && errno == EAGAIN) {
        dst->writable = 0;
        return 0;
    }
    logMessage("write %s: %s; %u bytes dropped", dst->pts, n < 0 ? strerror(errno) : "nothing written", r->len);
    r->off = r->len = 0;
    return 0;
}

// Whether bytes can move in the pair without waiting for an edge.
static int pairCanMove(const Pair* p)
{
    for (int from = 0; from < 2; from++) {
        const PtySide* src = &p->side[from];
        const PtySide* dst = &p->side[1 - from];
        const Relay* r = &p->toward[1 - from];
        if (src->readable && src->master >= 0 && r->len < PAIRD_RELAY_BUF)
            return 1;
        if (r->len > 0 && dst->open && dst->writable)
            return 1;
    }
    return 0;
}

// One turn of a pair: both directions, writes first, until nothing moves or
// its budget is spent.
static void servePair(Daemon* d, int com)
{
    Pair* p = &d->pairs[com];
    uint32_t moved = 0;
    for (;;) {
        uint32_t round = 0;
        for (int from = 0; from < 2 && p->used; from++) {
            PtySide* src = &p->side[from];
            PtySide* dst = &p->side[1 - from];
            Relay* r = &p->toward[1 - from];
            if (r->len > 0 && dst->open && dst->writable)
                round += writeFrom(d, com, 1 - from);
            if (p->used && src->readable && src->master >= 0 && r->len < PAIRD_RELAY_BUF)
                round += readInto(d, com, from);
            if (p->used && r->len > 0 && dst->open && dst->writable)
                round += writeFrom(d, com, 1 - from);
        }
        moved += round;
        if (!p->used || round == 0 || moved >= PAIRD_PAIR_BUDGET)
            break;
    }
    p->ready = p->used && pairCanMove(p);
}

int serveReadyPairs(Daemon* d)
{
    int any = 0;
    int start = d->readyStart;
    for (int k = 0; k < PAIR_MAX_COM; k++) {
        int com = 1 + (start + k) % PAIR_MAX_COM;
        Pair* p = &d->pairs[com];
        if (!p->ready)
            continue;
        if (!p->used) {
            p->ready = 0;
            continue;
        }
        servePair(d, com);
        any |= p->ready;
    }
    d->readyStart = (start + 1) % PAIR_MAX_COM;
    return any;
}

void onMasterEvent(Daemon* d, int com, int side, uint32_t events)
{
    Pair* p = &d->pairs[com];
    PtySide* s = &p->side[side];
    if (!p->used || !s->open)
        return;   // left over from earlier in this wake-up
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
        s->readable = 1;
    if (events & EPOLLOUT)
        s->writable = 1;
    servePair(d, com);
    // Still hung up (its last bytes wait behind a full far side): stop
    // watching it; the bytes are still taken as the far side drains.
    if (p->used && s->open && (events & (EPOLLHUP | EPOLLERR)))
        sideClosed(d, com, side);
}

void refreshSide(Daemon* d, int com, int side)
{
    Pair* p = &d->pairs[com];
    if (!p->used)
        return;
    PtySide* s = &p->side[side];
    int nowOpen = slaveIsOpen(s);
    if (nowOpen && !s->open) {
        sideOpened(d, com, side);
        return;
    }
    if (!nowOpen && s->open) {
        s->readable = 1;
        servePair(d, com);
        if (p->used && s->open)
            sideClosed(d, com, side);
    }
}
static void refreshAllClosed(Daemon* d)
{
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        for (int side = 0; side < 2; side++) {
            if (d->pairs[com].used && !d->pairs[com].side[side].open)
                refreshSide(d, com, side);
        }
    }
}

static void onWatchEvent(Daemon* d, const inotify_event* e)
{
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        Pair* p = &d->pairs[com];
        if (!p->used)
            continue;
        for (int side = 0; side < 2; side++) {
            if (p->side[side].watch != e->wd)
                continue;
            if (e->mask & IN_IGNORED)
                p->side[side].watch = -1;
            else
                refreshSide(d, com, side);
            return;
        }
    }
}

void onInotifyEvent(Daemon* d)
{
    alignas(inotify_event) char buf[4096];
    for (int round = 0; round < 16; round++) {
        ssize_t n = read(d->inotifyFd, buf, sizeof buf);
        if (n <= 0)
            return;
        size_t at = 0;
        while (at + sizeof(inotify_event) <= (size_t)n) {
            const inotify_event* e = (const inotify_event*)(buf + at);
            size_t size = sizeof(inotify_event) + e->len;
            if (at + size > (size_t)n)
                break;
            if (e->mask & IN_Q_OVERFLOW)
                refreshAllClosed(d);
            else
                onWatchEvent(d, e);
            at += size;
        }
    }
}

int sidesWithoutWatch(const Daemon* d)
{
    int count = 0;
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        const Pair* p = &d->pairs[com];
        for (int side = 0; p->used && side < 2; side++) {
            if (p->side[side].watch < 0 && !p->side[side].open)
                count++;
        }
    }
    return count;
}

void recheckUnwatchedSides(Daemon* d)
{
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        Pair* p = &d->pairs[com];
        for (int side = 0; p->used && side < 2; side++) {
            if (p->side[side].watch < 0 && !p->side[side].open)
                refreshSide(d, com, side);
        }
    }
}
