// Runs the devsim binary for a test and talks to it over its control socket.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devsim/sim_client.h"
#include "mgmt/device_records.h"

class DevsimProcess {
public:
    // Starts devsim with `config` and extra arguments, optionally through a
    // wrapper command (e.g. "ip netns exec NAME"). Waits for its ready line.
    bool start(const std::string& config, const std::vector<std::string>& args,
               const std::vector<std::string>& wrapper = {})
    {
        char base[64];
        snprintf(base, sizeof base, "/tmp/devsim-test-%d-%d", (int)getpid(), ++counter());
        configPath_ = std::string(base) + ".conf";
        socketPath_ = std::string(base) + ".sock";
        FILE* f = fopen(configPath_.c_str(), "w");
        if (!f)
            return false;
        fputs(config.c_str(), f);
        fclose(f);

        std::vector<std::string> argv = wrapper;
        argv.push_back(DEVSIM_BINARY);
        argv.insert(argv.end(), {"--config", configPath_, "--control", socketPath_});
        argv.insert(argv.end(), args.begin(), args.end());

        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            std::vector<char*> cargv;
            for (auto& a : argv)
                cargv.push_back(const_cast<char*>(a.c_str()));
            cargv.push_back(nullptr);
            execvp(cargv[0], cargv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        pollfd p = {out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        if (sscanf(line.c_str(), "devsim ready mgmt_port=%d", &mgmtPort_) != 1) {
            stop();
            return false;
        }
        return true;
    }

    // Sends a control command; returns its output without the final "OK".
    std::string ctl(const std::string& command, bool expectOk = true)
    {
        std::string response;
        int r = sendControlCommand(socketPath_.c_str(), command, &response, 10000);
        EXPECT_EQ(expectOk ? 1 : 0, r) << command << " -> " << response;
        size_t end = response.rfind('\n', response.size() >= 2 ? response.size() - 2 : 0);
        return end == std::string::npos ? std::string() : response.substr(0, end + 1);
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        std::string ignored;
        sendControlCommand(socketPath_.c_str(), "quit", &ignored, 2000);
        for (int i = 0; i < 50; i++) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            usleep(20000);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        unlink(configPath_.c_str());
        unlink(socketPath_.c_str());
    }

    ~DevsimProcess() { stop(); }

    int mgmtPort() const { return mgmtPort_; }
    pid_t pid() const { return pid_; }
    const std::string& socketPath() const { return socketPath_; }

private:
    static int& counter()
    {
        static int n = 0;
        return n;
    }
    pid_t pid_ = -1;
    int mgmtPort_ = 0;
    std::string configPath_;
    std::string socketPath_;
};

// The manager's side of a link to devsim: one datagram from fd with its
// sender noted in senders; -1 on an error or a datagram larger than
// capacity (MSG_TRUNC reports the real size, so it fails as on Winsock).
inline int receiveNotingSender(int fd, std::vector<std::string>* senders, uint8_t* buffer, int capacity)
{
    sockaddr_in from = {};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd, buffer, (size_t)capacity, MSG_TRUNC, (sockaddr*)&from, &len);
    if (n < 0 || n > capacity)
        return -1;
    char ip[16];
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    senders->push_back(ip);
    return (int)n;
}

// The device records a gathering loop hands over, in order.
struct Collected {
    std::vector<DeviceRecord> records;
    static int add(void* c, const DeviceRecord* r)
    {
        ((Collected*)c)->records.push_back(*r);
        return 1;
    }
};
