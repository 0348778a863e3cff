// The pair daemon's tables and the operations its source files share.
#pragma once

#include <cstdint>

#include "vspd/pair_client.h"

enum {
    PAIRD_MAX_CLIENTS = 32,
    PAIRD_RELAY_BUF = 16384,     // ring per direction: bytes held while the far side is full
    PAIRD_PAIR_BUDGET = 65536,   // bytes one pair moves per turn before the others get theirs
    PAIRD_OUT_BUF = 16384,       // reply bytes held per client
    PAIRD_REPLY_MAX = PAIR_REPLY_MAX,   // longest reply line (QUERYALL of all 256 pairs fits)
    PAIRD_CLIENT_IDLE_MS = 30000,
    PAIRD_PATH_MAX = 4096,
    PAIRD_PTS_MAX = 32,
    PAIRD_WAIT_MAX_MS = 10000,   // longest WAITALL
    PAIRD_SETTINGS_POLL_MS = 10, // line settings of open ports are compared this often while a client waits
};

// Side 0 is what applications open (COMn), side 1 what the host opens (NULL_COMn).
enum { SIDE_APP = 0, SIDE_NULL = 1 };

struct PtySide {
    int master;                  // -1 when unused
    int watch;                   // inotify watch on the slave node, -1 if none
    int open;                    // 1 while some process has the slave open
    int registered;              // master is in the epoll set (edge-triggered, in and out)
    int readable;                // an edge said so and no read has hit EAGAIN since
    int writable;                // likewise for writes
    char pts[PAIRD_PTS_MAX];     // "/dev/pts/N"
};

// Bytes read from one side and not yet written to the other: a ring.
struct Relay {
    uint32_t off;                // where the oldest byte is
    uint32_t len;                // bytes held
    unsigned char buf[PAIRD_RELAY_BUF];
};

struct Pair {
    int used;
    int ready;                   // has bytes that can move now
    PairInfo seen;               // the application side's line settings when last compared
    PtySide side[2];
    Relay toward[2];             // toward[i]: bytes waiting to be written to side i
};

struct Client {
    int fd;                      // -1 when the slot is free
    int eof;                     // peer sent its last byte
    int closing;                 // close once the output is sent
    uint32_t inLen;
    uint32_t outOff;
    uint32_t outLen;
    int64_t deadlineMs;
    int waiting;                 // a WAITALL is answered once changeSeq moves past waitSeq, or at waitUntil
    uint32_t waitSeq;
    int64_t waitUntil;
    char in[PAIR_REQUEST_MAX + 2];
    char out[PAIRD_OUT_BUF];
};

struct PairdConfig {
    char prefix[PAIRD_PATH_MAX];
    char dosdir[PAIRD_PATH_MAX];
    char statePath[PAIRD_PATH_MAX];   // empty: no state file
    char logPath[PAIRD_PATH_MAX];     // empty: stderr
    char pidPath[PAIRD_PATH_MAX];     // empty: no pid file
    int port;
    int foreground;
};

struct Daemon {
    PairdConfig config;
    int epollFd;
    int listenFd;
    int signalFd;
    int inotifyFd;
    int lockFd;
    int spareFd;                      // given up to turn a client away when out of descriptors
    int stop;
    Pair pairs[PAIR_MAX_COM + 1];     // indexed by COM number
    Client clients[PAIRD_MAX_CLIENTS];
    int readyStart;                   // ready pairs are served in turn from here
    uint32_t changeSeq;               // moves on every open, close, settings change, create, delete
    int64_t nextSettingsCheck;
};

// epoll tags: kind in the high half, index in the low half.
enum { TAG_LISTEN = 1, TAG_SIGNAL, TAG_INOTIFY, TAG_CLIENT, TAG_MASTER };
uint64_t makeTag(uint32_t kind, uint32_t index);

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
int64_t monotonicMs();

// pty_side.cpp
int openPtySide(PtySide* side, int inotifyFd);
void closePtySide(PtySide* side, int inotifyFd);
int slaveIsOpen(const PtySide* side);
void flushSlaveInput(const PtySide* side);

// line_settings.cpp
int readLineSettings(int master, PairInfo* out);
void lineSettingsFromTermios(uint32_t cflag, uint32_t iflag, uint32_t speed, PairInfo* out);

// dosdevices.cpp
int linkName(char* out, int size, int com, int side);
int linkIsFree(const char* dosdir, const char* name);
int linkPointsAt(const char* dosdir, const char* name, const char* target);
int placeLink(const char* dosdir, const char* name, const char* target);
void removeLinkIfPointsAt(const char* dosdir, const char* name, const char* target);
int removeStalePtyLinks(const char* dosdir);

// state_file.cpp
void writeStateFile(const Daemon* d);
int cleanFromStateFile(const char* statePath, const char* dosdir);

// pairs.cpp
const char* createPair(Daemon* d, int com);
const char* deletePair(Daemon* d, int com);
void formatQuery(Daemon* d, int com, char* reply, int size);
void formatList(const Daemon* d, char* reply, int size);
void formatQueryAll(Daemon* d, char* reply, int size);
// "OK <changeSeq>" followed by what QUERYALL reports.
void formatWaitAll(Daemon* d, char* reply, int size);
// Compares the line settings of every open application side with what was
// seen before; a difference is a change.
void checkLineSettings(Daemon* d);
int appSidesOpen(const Daemon* d);
// Something a WAITALL client follows has changed.
void noteChange(Daemon* d);
void deleteAllPairs(Daemon* d);

// relay.cpp
void setInterest(Daemon* d, int com, int side);
void onMasterEvent(Daemon* d, int com, int side, uint32_t events);
// Gives every ready pair one turn; returns 1 while some pair is still ready.
int serveReadyPairs(Daemon* d);
void onInotifyEvent(Daemon* d);
void refreshSide(Daemon* d, int com, int side);
int sidesWithoutWatch(const Daemon* d);
void recheckUnwatchedSides(Daemon* d);

// control.cpp
int openListener(int port);
void onListenEvent(Daemon* d);
void onClientEvent(Daemon* d, int index, uint32_t events);
void handleRequest(Daemon* d, const char* line, int length, char* reply, int size);
int64_t nextClientDeadline(const Daemon* d);
// Answers every WAITALL whose change has come or whose time is up.
void answerWaiters(Daemon* d);
int clientsWaiting(const Daemon* d);
void expireClients(Daemon* d);
void closeAllClients(Daemon* d);

// event_loop.cpp
int initDaemon(Daemon* d);
int runDaemon(Daemon* d);
