// A stand-in device in the PC's own namespace, for datagrams devsim does not
// send: it hears the group on port 8 (multicast loop-back) and answers the
// first datagram with a given code with the bytes it was given.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "mgmt/mgmt_packet.h"

class StandInDevice {
public:
    StandInDevice(uint16_t answers, const std::vector<uint8_t>& reply) : answers_(answers), reply_(reply)
    {
        s_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        int reuse = 1;
        setsockopt(s_, SOL_SOCKET, SO_REUSEADDR, (const char*)&reuse, sizeof reuse);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(MGMT_PORT);
        ready_ = bind(s_, (sockaddr*)&local, sizeof local) == 0;
        ip_mreq m = {};
        m.imr_multiaddr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
        ready_ = ready_ && setsockopt(s_, IPPROTO_IP, IP_ADD_MEMBERSHIP, (const char*)&m, sizeof m) == 0;
        DWORD timeout = 200;
        setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout);
        if (ready_)
            thread_ = std::thread([this] { run(); });
    }
    ~StandInDevice()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        closesocket(s_);
    }
    bool ready() const { return ready_; }
    int answered() const { return answered_; }

private:
    void run()
    {
        // Bounded: at most 50 waits of 200 ms, and one answer.
        for (int i = 0; i < 50 && !stop_ && !answered_; i++) {
            uint8_t request[1024];
            sockaddr_in from = {};
            int fromLength = sizeof from;
            int n = recvfrom(s_, (char*)request, sizeof request, 0, (sockaddr*)&from, &fromLength);
            if (n < MGMT_HEADER_SIZE || getLe16(request) != answers_)
                continue;
            sendto(s_, (const char*)reply_.data(), (int)reply_.size(), 0, (sockaddr*)&from, sizeof from);
            answered_ = 1;
        }
    }
    uint16_t answers_;
    std::vector<uint8_t> reply_;
    SOCKET s_;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};
