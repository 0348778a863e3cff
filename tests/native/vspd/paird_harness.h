// Test harness for the pair daemon: a scratch Wine prefix, a daemon child process, raw requests.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

// A temporary directory standing in for a Wine prefix, removed at the end.
struct TempPrefix {
    std::string path;
    std::string dosdir;
    TempPrefix();
    ~TempPrefix();
    std::string link(const std::string& name) const { return dosdir + "/" + name; }
};

// A loopback port that nothing listened on a moment ago.
int freeLoopbackPort();

// parlo-paird run in the foreground as a child of the test.
struct DaemonProcess {
    pid_t pid = -1;
    int port = 0;
    int fdLimit = 0;   // when set, the daemon's hard limit on descriptors
    std::string logPath;

    // Starts the daemon and waits until it answers PING. Also points the
    // client functions at it through PARLO_PAIRD_PORT.
    bool start(const TempPrefix& prefix, int port, const std::string& statePath = "");
    // SIGTERM and wait; returns the exit status, or -1 when it had to be killed.
    int stop();
    void kill9();
    std::string log() const;
    ~DaemonProcess();
};

// Sends raw bytes on a new connection, then reads up to `count` reply lines
// (without "\n"). A missing line shows as "<closed>" or "<timeout>".
std::vector<std::string> rawLines(int port, const std::string& bytes, int count, int timeoutMs = 2000);
std::string rawRequest(int port, const std::string& bytes, int timeoutMs = 2000);

// Reads one line from a connected socket, as rawLines does.
std::string readLine(int fd, std::string& pending, int timeoutMs);
int connectLoopback(int port);

// Opens a pty side through its dosdevices link, as Wine does.
int openSide(const TempPrefix& prefix, const std::string& name, bool nonBlocking = false);

// Reads exactly n bytes within timeoutMs; returns what it got.
std::string readFor(int fd, size_t n, int timeoutMs);

// CPU time (user + system) of a process in clock ticks.
long cpuTicks(pid_t pid);
