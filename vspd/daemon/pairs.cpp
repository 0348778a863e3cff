// The pair table: creating, deleting, querying and listing pairs by COM number.
#include "vspd/daemon/paird.h"

#include <cstdio>
#include <cstring>
#include <sys/epoll.h>

static void linkNames(int com, char names[2][32])
{
    linkName(names[SIDE_APP], 32, com, SIDE_APP);
    linkName(names[SIDE_NULL], 32, com, SIDE_NULL);
}

static void releasePair(Daemon* d, int com)
{
    Pair* p = &d->pairs[com];
    char names[2][32];
    linkNames(com, names);
    for (int side = 0; side < 2; side++) {
        PtySide* s = &p->side[side];
        if (s->master < 0)
            continue;
        removeLinkIfPointsAt(d->config.dosdir, names[side], s->pts);
        if (s->registered)
            epoll_ctl(d->epollFd, EPOLL_CTL_DEL, s->master, nullptr);
        closePtySide(s, d->inotifyFd);
    }
    p->used = 0;
    p->toward[0].off = p->toward[0].len = 0;
    p->toward[1].off = p->toward[1].len = 0;
}

// Returns null on success, else the reason for the ERR reply.
const char* createPair(Daemon* d, int com)
{
    Pair* p = &d->pairs[com];
    const char* dosdir = d->config.dosdir;
    char names[2][32];
    linkNames(com, names);

    if (p->used) {
        // Same pair again; put back a link that someone removed.
        for (int side = 0; side < 2; side++) {
            if (linkPointsAt(dosdir, names[side], p->side[side].pts))
                continue;
            if (!linkIsFree(dosdir, names[side]))
                return "name in use";
            if (!placeLink(dosdir, names[side], p->side[side].pts))
                return "link failed";
        }
        return nullptr;
    }

    for (int side = 0; side < 2; side++) {
        if (!linkIsFree(dosdir, names[side]))
            return "name in use";
    }
    memset(p, 0, sizeof *p);
    p->side[0].master = p->side[1].master = -1;
    p->side[0].watch = p->side[1].watch = -1;
    if (!openPtySide(&p->side[SIDE_APP], d->inotifyFd)) {
        releasePair(d, com);
        return "no pty";
    }
    if (!openPtySide(&p->side[SIDE_NULL], d->inotifyFd)) {
        releasePair(d, com);
        return "no pty";
    }
    if (!placeLink(dosdir, names[SIDE_NULL], p->side[SIDE_NULL].pts) ||
        !placeLink(dosdir, names[SIDE_APP], p->side[SIDE_APP].pts)) {
        releasePair(d, com);
        return "link failed";
    }
    p->used = 1;
    noteChange(d);
    writeStateFile(d);
    logMessage("COM%d: %s, NULL_COM%d: %s", com, p->side[SIDE_APP].pts, com, p->side[SIDE_NULL].pts);
    return nullptr;
}

const char* deletePair(Daemon* d, int com)
{
    if (!d->pairs[com].used)
        return "no such pair";
    releasePair(d, com);
    noteChange(d);
    writeStateFile(d);
    logMessage("COM%d deleted", com);
    return nullptr;
}

void deleteAllPairs(Daemon* d)
{
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        if (d->pairs[com].used)
            releasePair(d, com);
    }
    writeStateFile(d);
}

// The state of a used pair as QUERY reports it, asking the kernel now rather
// than trusting the last event.
static void pairState(Daemon* d, int com, PairInfo* info, int* nullOpen)
{
    Pair* p = &d->pairs[com];
    refreshSide(d, com, SIDE_APP);
    refreshSide(d, com, SIDE_NULL);
    memset(info, 0, sizeof *info);
    if (!p->used)
        return;
    if (!readLineSettings(p->side[SIDE_APP].master, info)) {
        info->baudRate = 9600;
        info->dataBits = 8;
    }
    info->exists = 1;
    info->open = p->side[SIDE_APP].open ? 1 : 0;
    *nullOpen = p->side[SIDE_NULL].open ? 1 : 0;
}

void formatQuery(Daemon* d, int com, char* reply, int size)
{
    if (!d->pairs[com].used) {
        snprintf(reply, (size_t)size, "OK exists=0");
        return;
    }
    PairInfo info;
    int nullOpen = 0;
    pairState(d, com, &info, &nullOpen);
    snprintf(reply, (size_t)size, "OK exists=1 open=%d baud=%u data=%d parity=%d stop=%d nullopen=%d",
             (int)info.open, (unsigned)info.baudRate, (int)info.dataBits, (int)info.parity,
             (int)info.stopBits, nullOpen);
}

// All pairs in one line, so a host can follow every port with one request.
void formatQueryAll(Daemon* d, char* reply, int size)
{
    int used = snprintf(reply, (size_t)size, "OK");
    for (int com = 1; com <= PAIR_MAX_COM && used > 0 && used < size; com++) {
        if (!d->pairs[com].used)
            continue;
        PairInfo info;
        int nullOpen = 0;
        pairState(d, com, &info, &nullOpen);
        if (!d->pairs[com].used)
            continue;
        used += snprintf(reply + used, (size_t)(size - used), " COM%d=%d,%u,%d,%d,%d,%d", com, (int)info.open,
                         (unsigned)info.baudRate, (int)info.dataBits, (int)info.parity, (int)info.stopBits,
                         nullOpen);
    }
}

void formatWaitAll(Daemon* d, char* reply, int size)
{
    char all[PAIRD_REPLY_MAX];
    formatQueryAll(d, all, sizeof all);
    // Taken after the states were read: a change they showed is not reported twice.
    snprintf(reply, (size_t)size, "OK %u%s", (unsigned)d->changeSeq, all + 2);
}

static int sameSettings(const PairInfo* a, const PairInfo* b)
{
    return a->baudRate == b->baudRate && a->dataBits == b->dataBits && a->parity == b->parity &&
           a->stopBits == b->stopBits;
}

void checkLineSettings(Daemon* d)
{
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        Pair* p = &d->pairs[com];
        if (!p->used || !p->side[SIDE_APP].open)
            continue;
        PairInfo now;
        memset(&now, 0, sizeof now);
        if (!readLineSettings(p->side[SIDE_APP].master, &now) || sameSettings(&now, &p->seen))
            continue;
        p->seen = now;
        noteChange(d);
    }
}

int appSidesOpen(const Daemon* d)
{
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        if (d->pairs[com].used && d->pairs[com].side[SIDE_APP].open)
            return 1;
    }
    return 0;
}

void formatList(const Daemon* d, char* reply, int size)
{
    int used = snprintf(reply, (size_t)size, "OK");
    for (int com = 1; com <= PAIR_MAX_COM && used > 0 && used < size; com++) {
        if (d->pairs[com].used)
            used += snprintf(reply + used, (size_t)(size - used), " COM%d", com);
    }
}
