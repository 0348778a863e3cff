// The daemon's single thread: one epoll set for the control socket, signals, inotify and every master.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

enum { EVENTS_PER_WAIT = 64, UNWATCHED_RECHECK_MS = 250 };

uint64_t makeTag(uint32_t kind, uint32_t index)
{
    return ((uint64_t)kind << 32) | index;
}

static int watchFd(Daemon* d, int fd, uint32_t kind)
{
    epoll_event e;
    memset(&e, 0, sizeof e);
    e.events = EPOLLIN;
    e.data.u64 = makeTag(kind, 0);
    return epoll_ctl(d->epollFd, EPOLL_CTL_ADD, fd, &e) == 0;
}

// Expects SIGTERM, SIGINT and SIGHUP to be blocked already, and listenFd open.
int initDaemon(Daemon* d)
{
    for (int com = 0; com <= PAIR_MAX_COM; com++) {
        d->pairs[com].used = 0;
        d->pairs[com].side[0].master = d->pairs[com].side[1].master = -1;
        d->pairs[com].side[0].watch = d->pairs[com].side[1].watch = -1;
    }
    for (int i = 0; i < PAIRD_MAX_CLIENTS; i++)
        d->clients[i].fd = -1;
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    d->epollFd = epoll_create1(EPOLL_CLOEXEC);
    d->signalFd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    d->inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    d->spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (d->epollFd < 0 || d->signalFd < 0 || d->inotifyFd < 0) {
        logMessage("event set-up: %s", strerror(errno));
        return 0;
    }
    if (!watchFd(d, d->listenFd, TAG_LISTEN) || !watchFd(d, d->signalFd, TAG_SIGNAL) ||
        !watchFd(d, d->inotifyFd, TAG_INOTIFY)) {
        logMessage("epoll: %s", strerror(errno));
        return 0;
    }
    return 1;
}

static void onSignal(Daemon* d)
{
    signalfd_siginfo info;
    while (read(d->signalFd, &info, sizeof info) == (ssize_t)sizeof info) {
        logMessage("signal %u: shutting down", info.ssi_signo);
        d->stop = 1;
    }
}

static int waitTimeout(const Daemon* d, int64_t now)
{
    int64_t timeout = -1;   // nothing to time: sleep until an event
    int64_t deadline = nextClientDeadline(d);
    if (deadline >= 0)
        timeout = deadline > now ? deadline - now : 0;
    if (sidesWithoutWatch(d) && (timeout < 0 || timeout > UNWATCHED_RECHECK_MS))
        timeout = UNWATCHED_RECHECK_MS;
    // Settings changes raise no event: while someone waits for changes and a
    // port is open, they are compared every PAIRD_SETTINGS_POLL_MS.
    if (clientsWaiting(d) && appSidesOpen(d)) {
        int64_t due = d->nextSettingsCheck > now ? d->nextSettingsCheck - now : 0;
        if (timeout < 0 || timeout > due)
            timeout = due;
    }
    return (int)timeout;
}

static void dispatch(Daemon* d, const epoll_event* e)
{
    uint32_t kind = (uint32_t)(e->data.u64 >> 32);
    uint32_t index = (uint32_t)e->data.u64;
    switch (kind) {
    case TAG_LISTEN: onListenEvent(d); break;
    case TAG_SIGNAL: onSignal(d); break;
    case TAG_INOTIFY: onInotifyEvent(d); break;
    case TAG_CLIENT:
        if (index < PAIRD_MAX_CLIENTS)
            onClientEvent(d, (int)index, e->events);
        break;
    case TAG_MASTER:
        if (index / 2 >= 1 && index / 2 <= PAIR_MAX_COM)
            onMasterEvent(d, (int)(index / 2), (int)(index % 2), e->events);
        break;
    }
}

// Runs until a signal asks to stop; then removes every pair and its links.
int runDaemon(Daemon* d)
{
    int result = 0;
    int64_t lastRecheck = 0;
    int ready = 0;
    while (!d->stop) {
        epoll_event events[EVENTS_PER_WAIT];
        // Pairs that still have bytes to move only look for new events in passing.
        int n = epoll_wait(d->epollFd, events, EVENTS_PER_WAIT, ready ? 0 : waitTimeout(d, monotonicMs()));
        if (n < 0 && errno != EINTR) {
            logMessage("epoll_wait: %s", strerror(errno));
            result = 1;
            break;
        }
        for (int i = 0; i < n; i++)
            dispatch(d, &events[i]);
        ready = serveReadyPairs(d);
        int64_t now = monotonicMs();
        if (now >= d->nextSettingsCheck && clientsWaiting(d)) {
            checkLineSettings(d);
            d->nextSettingsCheck = now + PAIRD_SETTINGS_POLL_MS;
        }
        answerWaiters(d);
        expireClients(d);
        if (now - lastRecheck >= UNWATCHED_RECHECK_MS && sidesWithoutWatch(d)) {
            recheckUnwatchedSides(d);
            lastRecheck = now;
        }
    }
    closeAllClients(d);
    deleteAllPairs(d);
    close(d->listenFd);
    close(d->inotifyFd);
    close(d->signalFd);
    close(d->epollFd);
    if (d->spareFd >= 0)
        close(d->spareFd);
    return result;
}
