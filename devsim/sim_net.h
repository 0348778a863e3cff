// The simulator's sockets and event loop: management socket, delayed replies, control channel, data side.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <queue>
#include <vector>

#include "devsim/sim_control.h"
#include "devsim/sim_model.h"
#include "devsim/sim_request.h"

enum {
    SIM_MAX_CONNS = 4,            // TCP connections per serial port
    SIM_CONN_BUFFER = 16384,      // bytes waiting to go back per connection
    SIM_MAX_CONTROL_CLIENTS = 8,
    SIM_MAX_PENDING = 8192,       // replies waiting for their time
    SIM_MAX_ALLOWED = 16,
};

struct SimOptions {
    uint32_t mgmtBind;            // network order; INADDR_ANY by default
    int mgmtPort;                 // 8 by default; 0 lets the system choose
    int multicast;                // join the management group
    uint32_t multicastInterface;  // network order; INADDR_ANY: the routing table decides
    int discoverSpacingUs;        // between consecutive devices' discovery replies
    int allowedCount;
    uint32_t allowedNet[SIM_MAX_ALLOWED];   // destinations devsim may send to (host order)
    uint32_t allowedMask[SIM_MAX_ALLOWED];
    const char* controlPath;
    int verbose;
};

struct SimConn {
    int fd;                       // -1: free
    int atLineStart;
    int outLength;
    uint8_t* out;                 // SIM_CONN_BUFFER bytes while the connection lives
    uint32_t events;              // epoll events currently asked for
};

struct SimPortData {
    int mode;                     // work mode the sockets were opened for; 0 none
    int listenFd;
    int udpFd;
    uint32_t boundAddress;
    uint16_t boundPort;
    int openError;                // errno of the last failed open, 0 when fine
    SimConn conns[SIM_MAX_CONNS];
    uint64_t rxBytes;
    uint64_t txBytes;
    uint32_t lastSenderAddress;
    uint16_t lastSenderPort;
};

struct SimDeviceData {
    int open;                     // sockets reflect the device's state
    SimPortData ports[SIM_MAX_PORTS];
};

struct PendingSend {
    int64_t dueUs;
    uint64_t sequence;
    uint32_t source;              // device address the reply comes from
    sockaddr_in destination;
    int attempts;
    std::vector<uint8_t> data;
    bool operator<(const PendingSend& o) const
    {
        return dueUs != o.dueUs ? dueUs > o.dueUs : sequence > o.sequence;
    }
};

struct SimControlClient {
    int fd;
    int inLength;
    char in[4096];
};

struct SimNet {
    SimOptions options;
    SimWorld* world;
    SimDeviceData* data;          // SIM_MAX_DEVICES entries
    int epollFd;
    int mgmtFd;
    int mgmtPort;
    int controlFd;
    SimControlClient clients[SIM_MAX_CONTROL_CLIENTS];
    std::priority_queue<PendingSend> pending;
    uint64_t pendingSequence;
    uint64_t dropped;
    int64_t lastSentMs;           // wall clock of the last management datagram sent, 0 before one
    ControlOutput* controlOutput;
    ControlEffects* controlEffects;
    ReplyBatch* batch;
    int quit;
};

void defaultSimOptions(SimOptions* options);

// Adds a destination network "a.b.c.d/len". 1 on success.
int allowNetwork(SimOptions* options, const char* cidr);

// 1 when an interface of this network namespace has an address in the
// network (network and mask in host order).
int hasLocalAddressIn(uint32_t network, uint32_t mask);

// 1 when devsim may send to `address` (network order).
int destinationAllowed(const SimOptions* options, uint32_t address);

// Opens the management socket, the control socket and every device's data
// side. 1 on success; on 0 a message went to stderr.
int startSimNet(SimNet* net, SimWorld* world, const SimOptions* options);

// Runs until "quit" or until *stopFlag becomes non-zero.
void runSimNet(SimNet* net, volatile int* stopFlag);

void stopSimNet(SimNet* net);

// Data side (sim_data.cpp).
void openDeviceData(SimNet* net, int device);
void closeDeviceData(SimNet* net, int device);
void reopenPortData(SimNet* net, int device, int port);
void handleDataEvent(SimNet* net, int kind, int device, int port, int conn, uint32_t events);
void injectData(SimNet* net, int device, int port, const uint8_t* bytes, int length);
void describePortData(void* context, int device, int port, char* out, int outSize);

// epoll tags.
enum { TAG_MGMT = 1, TAG_CONTROL = 2, TAG_CLIENT = 3, TAG_LISTEN = 4, TAG_CONN = 5, TAG_UDP = 6 };
uint64_t makeTag(int kind, int device, int port, int conn);
int64_t monotonicUs();
int64_t wallClockMs();
