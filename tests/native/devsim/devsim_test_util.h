// Helpers for the simulator tests: worlds from config text, requests as the manager builds them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devsim/sim_config.h"
#include "devsim/sim_model.h"
#include "devsim/sim_request.h"
#include "mgmt/credentials.h"
#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"

typedef std::vector<uint8_t> Bytes;

inline std::unique_ptr<SimWorld> worldFrom(const char* config)
{
    std::unique_ptr<SimWorld> w(new SimWorld);
    memset(w.get(), 0, sizeof *w);
    SimError e;
    EXPECT_EQ(1, loadConfigText(w.get(), config, &e)) << e.text;
    return w;
}

// Sets the manager's credentials for the next request built; the
// destructor puts the defaults back.
struct Credentials {
    Credentials(const char* user, const char* password)
    {
        memset(deviceUserName, 0, sizeof deviceUserName);
        memset(devicePassword, 0, sizeof devicePassword);
        strncpy(deviceUserName, user, 15);
        strncpy(devicePassword, password, 15);
    }
    ~Credentials()
    {
        strcpy(deviceUserName, "tolmo");
        strcpy(devicePassword, "tolmo");
    }
};

inline Bytes probe()
{
    Bytes d(12);
    buildDiscoveryProbe(d.data(), (int)d.size());
    return d;
}

inline Bytes request(const SimDevice& device, uint16_t code, const Bytes& command)
{
    Bytes d(MGMT_MAX_DATAGRAM);
    int n = buildAuthenticatedRequest(d.data(), (int)d.size(), code, &device.record, command.data(),
                                      (int)command.size());
    d.resize((size_t)n);
    return d;
}

inline Bytes serialWrite(int port, const SerialPortConfig& config)
{
    Bytes c(1 + sizeof config);
    c[0] = (uint8_t)port;
    memcpy(c.data() + 1, &config, sizeof config);
    return c;
}

// What one device sends for one datagram.
struct Exchange {
    int taken = 0;
    RequestEffects effects = {};
    std::vector<Bytes> sent;
    std::vector<int> delays;
};

inline Exchange deviceHears(SimDevice* device, const Bytes& datagram, int64_t nowMs = 1000)
{
    static ReplyBatch batch;
    batch.count = 0;
    Exchange x;
    x.taken = handleMgmtDatagram(device, datagram.data(), (int)datagram.size(), "127.0.0.1:5000", nowMs, &batch,
                                 &x.effects);
    for (int i = 0; i < batch.count; i++) {
        x.sent.push_back(Bytes(batch.items[i].data, batch.items[i].data + batch.items[i].length));
        x.delays.push_back(batch.items[i].delayMs);
    }
    return x;
}

// Feeds what a device sent to the manager's receive loops, as a socket
// with a 1024-byte buffer would: oversized datagrams fail the receive.
struct Replay {
    std::vector<Bytes> queue;
    size_t next = 0;
    explicit Replay(const std::vector<Bytes>& q) : queue(q) {}
    static int receive(void* context, uint8_t* buffer, int capacity)
    {
        Replay* self = (Replay*)context;
        if (self->next >= self->queue.size())
            return -1;
        const Bytes& d = self->queue[self->next++];
        if ((int)d.size() > capacity)
            return -1;
        memcpy(buffer, d.data(), d.size());
        return (int)d.size();
    }
};
