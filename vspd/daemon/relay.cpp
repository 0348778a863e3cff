// Moving bytes between the two masters of each pair, and following who has a side open.
//
// A side is open while some process holds its slave: then its master carries
// no POLLHUP. A closed side is taken out of the epoll set (POLLHUP would wake
// us for ever) and comes back when inotify reports an open of its slave.
// Bytes toward a closed side are dropped, as on a cable with nothing plugged
// in; bytes toward an open but full side stay in the pair's relay buffer and
// the other master is not read until they are written.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

enum { READS_PER_WAKEUP = 16 };

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
        return;
    }
    uint32_t events = 0;
    if (p->toward[1 - side].len == 0)
        events |= EPOLLIN;
    if (p->toward[side].len > 0)
        events |= EPOLLOUT;
    if (s->registered && s->events == events)
        return;
    epoll_event e;
    memset(&e, 0, sizeof e);
    e.events = events;
    e.data.u64 = makeTag(TAG_MASTER, (uint32_t)(com * 2 + side));
    if (epoll_ctl(d->epollFd, s->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s->master, &e) != 0) {
        logMessage("epoll %s: %s", s->pts, strerror(errno));
        return;
    }
    s->registered = 1;
    s->events = events;
}

static void sideOpened(Daemon* d, int com, int side)
{
    d->pairs[com].side[side].open = 1;
    setInterest(d, com, side);
}

static void sideClosed(Daemon* d, int com, int side)
{
    Pair* p = &d->pairs[com];
    p->side[side].open = 0;
    setInterest(d, com, side);
    flushSlaveInput(&p->side[side]);
    p->toward[side].off = p->toward[side].len = 0;
    setInterest(d, com, 1 - side);
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

// Writes what waits toward a side; leaves the rest when the side is full.
static void flushToward(Daemon* d, int com, int side)
{
    Relay* r = &d->pairs[com].toward[side];
    const PtySide* s = &d->pairs[com].side[side];
    while (r->off < r->len) {
        ssize_t n = write(s->master, r->buf + r->off, r->len - r->off);
        if (n > 0) {
            r->off += (uint32_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        logMessage("write %s: %s; %u bytes dropped", s->pts, n < 0 ? strerror(errno) : "nothing written",
                   r->len - r->off);
        break;
    }
    r->off = r->len = 0;
}

// Reads from one side and passes the bytes to the other.
static void pump(Daemon* d, int com, int side)
{
    Pair* p = &d->pairs[com];
    PtySide* src = &p->side[side];
    Relay* r = &p->toward[1 - side];
    for (int i = 0; i < READS_PER_WAKEUP && p->used && r->len == 0; i++) {
        ssize_t n = read(src->master, r->buf, sizeof r->buf);
        if (n > 0) {
            if (!sideAccepts(d, com, 1 - side))
                continue;
            r->off = 0;
            r->len = (uint32_t)n;
            flushToward(d, com, 1 - side);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        // EIO: the slave is closed and all it wrote has been read.
        if (src->open)
            sideClosed(d, com, side);
        break;
    }
    setInterest(d, com, side);
    setInterest(d, com, 1 - side);
}

void onMasterEvent(Daemon* d, int com, int side, uint32_t events)
{
    Pair* p = &d->pairs[com];
    if (!p->used || !p->side[side].open)
        return;   // left over from earlier in this wake-up
    if (events & EPOLLOUT) {
        flushToward(d, com, side);
        // Room again: resume the other side, or take the last bytes of one
        // that closed while this side was full.
        if (p->toward[side].len == 0)
            pump(d, com, 1 - side);
    }
    if (p->used && p->side[side].open && (events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
        pump(d, com, side);
    // Still hung up (its bytes wait behind a full far side): stop watching it.
    if (p->used && p->side[side].open && (events & (EPOLLHUP | EPOLLERR)))
        sideClosed(d, com, side);
    setInterest(d, com, side);
    setInterest(d, com, 1 - side);
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
        pump(d, com, side);
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
