// Test harness for the pair daemon: a scratch Wine prefix, a daemon child process, raw requests.
#include "paird_harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "vspd/pair_client.h"

TempPrefix::TempPrefix()
{
    char pattern[] = "/tmp/paird-test-XXXXXX";
    char* made = mkdtemp(pattern);
    path = made ? made : "";
    dosdir = path + "/dosdevices";
    std::filesystem::create_directory(dosdir);
}

TempPrefix::~TempPrefix()
{
    if (!path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

int freeLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, (sockaddr*)&addr, sizeof addr);
    socklen_t length = sizeof addr;
    getsockname(fd, (sockaddr*)&addr, &length);
    close(fd);
    return ntohs(addr.sin_port);
}

bool DaemonProcess::start(const TempPrefix& prefix, int daemonPort, const std::string& statePath)
{
    port = daemonPort;
    logPath = prefix.path + "/paird.log";
    std::string portText = std::to_string(port);
    // Built before fork: the child may only exec.
    std::vector<const char*> args = {PARLO_PAIRD_EXE, "--prefix", prefix.path.c_str(), "--port",
                                     portText.c_str(), "--log", logPath.c_str(), "--foreground"};
    if (!statePath.empty()) {
        args.push_back("--state");
        args.push_back(statePath.c_str());
    }
    args.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        if (fdLimit > 0) {
            rlimit limit{(rlim_t)fdLimit, (rlim_t)fdLimit};
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        execv(PARLO_PAIRD_EXE, (char* const*)args.data());
        _exit(127);
    }
    setenv("PARLO_PAIRD_PORT", portText.c_str(), 1);
    for (int i = 0; i < 100; i++) {
        if (pairPing() == 1)
            return true;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int DaemonProcess::stop()
{
    if (pid <= 0)
        return -1;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; i++) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill9();
    return -1;
}

void DaemonProcess::kill9()
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string DaemonProcess::log() const
{
    std::ifstream in(logPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

DaemonProcess::~DaemonProcess()
{
    if (pid > 0)
        stop();
}

int connectLoopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)port);
    if (connect(fd, (sockaddr*)&addr, sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string readLine(int fd, std::string& pending, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return line;
        }
        int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left > 0 ? left : 0) <= 0)
            return "<timeout>";
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return "<closed>";
        pending.append(buf, (size_t)n);
    }
}

std::vector<std::string> rawLines(int port, const std::string& bytes, int count, int timeoutMs)
{
    std::vector<std::string> lines;
    int fd = connectLoopback(port);
    if (fd < 0)
        return {"<no connection>"};
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string pending;
    for (int i = 0; i < count; i++)
        lines.push_back(readLine(fd, pending, timeoutMs));
    close(fd);
    return lines;
}

std::string rawRequest(int port, const std::string& bytes, int timeoutMs)
{
    return rawLines(port, bytes, 1, timeoutMs)[0];
}

int openSide(const TempPrefix& prefix, const std::string& name, bool nonBlocking)
{
    return open(prefix.link(name).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0));
}

std::string readFor(int fd, size_t n, int timeoutMs)
{
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n) {
        int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            break;
        char buf[4096];
        ssize_t r = read(fd, buf, std::min(sizeof buf, n - got.size()));
        if (r <= 0)
            break;
        got.append(buf, (size_t)r);
    }
    return got;
}

long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    // Fields after the command name start at number 3 (state); utime is 14, stime 15.
    for (int number = 3; number <= 15 && (fields >> field); number++) {
        if (number == 14)
            utime = std::stol(field);
        if (number == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}
