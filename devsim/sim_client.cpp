// Sending one command to a running simulator over its Unix control socket.
#include "devsim/sim_client.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace {

enum { MAX_RESPONSE = 1 << 20 };

long long nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// 1 for OK, 0 for ERR, -1 while the last line is not complete yet.
int finalLine(const std::string& text)
{
    if (text.empty() || text.back() != '\n')
        return -1;
    size_t start = text.rfind('\n', text.size() - 2);
    start = start == std::string::npos ? 0 : start + 1;
    std::string last = text.substr(start, text.size() - 1 - start);
    if (last == "OK")
        return 1;
    if (last.compare(0, 4, "ERR ") == 0)
        return 0;
    return -1;
}

}  // namespace

int sendControlCommand(const char* socketPath, const std::string& command, std::string* response, int timeoutMs)
{
    response->clear();
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    if (strlen(socketPath) >= sizeof a.sun_path || command.find('\n') != std::string::npos)
        return -1;
    strcpy(a.sun_path, socketPath);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, (sockaddr*)&a, sizeof a) != 0) {
        close(fd);
        return -1;
    }
    std::string line = command + "\n";
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size()) {
        close(fd);
        return -1;
    }
    long long deadline = nowMs() + timeoutMs;
    int result = -1;
    while (result < 0 && response->size() < MAX_RESPONSE) {
        long long left = deadline - nowMs();
        if (left <= 0)
            break;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, (int)left) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        response->append(buffer, (size_t)n);
        result = finalLine(*response);
    }
    close(fd);
    return result;
}
