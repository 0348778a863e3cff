// pty_client: the native counterpart of serialprog's bench mode, for the
// reference path (a relay from a Linux pty to the same echoing device port).
// Same message sizes, window, pattern, duration and output lines, so the two
// paths are measured alike.
//
//   pty_client SECONDS throughput|latency RATE PTY...
//       Opens every PTY raw at 921600 baud. "throughput": each port streams
//       RATE bytes/s (0: as fast as it can), at most 16384 bytes unanswered, in
//       writes of up to 4096 bytes, and checks that the echo comes back byte
//       for byte. "latency": each port sends a 16-byte message, waits for its
//       echo, and again. Prints the same lines as serialprog.
//   pty_client SECONDS echo 0 PTY...
//       Echoes whatever arrives on every PTY for SECONDS (or until SIGTERM):
//       the far end of a virtual pair without the host, to measure the
//       Windows side alone.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

enum { CHUNK = 4096, WINDOW = 16384, LATENCY_MESSAGE = 16, MAX_PORTS = 256, DRAIN_MS = 5000 };

double nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

// The byte at stream offset i: the same pattern serialprog sends.
inline char patternByte(uint64_t i)
{
    return (char)((i * 7 + (i >> 12)) & 0xFF);
}

struct Port {
    int fd;
    uint64_t sent, received, mismatches;
    double lastSend;
    bool wantOut;
    std::vector<double> rtts;
};

int openPty(const char* path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "pty_client: cannot open %s: %s\n", path, strerror(errno));
        return -1;
    }
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        fprintf(stderr, "pty_client: %s is not a terminal\n", path);
        close(fd);
        return -1;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B921600);
    cfsetospeed(&t, B921600);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Echoes every pty's input back to it until the time is up.
int echo(double seconds, int count, char** paths)
{
    struct Echo {
        int fd;
        uint32_t off, len;
        char buf[65536];
    };
    std::vector<Echo> ports(count);
    int ep = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < count; i++) {
        ports[i].fd = openPty(paths[i]);
        ports[i].off = ports[i].len = 0;
        if (ports[i].fd < 0)
            return 1;
        epoll_event e = {};
        e.events = EPOLLIN;
        e.data.u32 = (uint32_t)i;
        epoll_ctl(ep, EPOLL_CTL_ADD, ports[i].fd, &e);
    }
    printf("echoing %d ports\n", count);
    fflush(stdout);
    double end = nowMs() + seconds * 1000.0;
    while (nowMs() < end) {
        epoll_event events[64];
        int n = epoll_wait(ep, events, 64, 100);
        for (int k = 0; k < n; k++) {
            Echo& p = ports[events[k].data.u32];
            if (p.len == 0) {
                ssize_t r = read(p.fd, p.buf, sizeof p.buf);
                if (r <= 0)
                    continue;
                p.off = 0;
                p.len = (uint32_t)r;
            }
            ssize_t w = write(p.fd, p.buf + p.off, p.len - p.off);
            if (w > 0)
                p.off += (uint32_t)w;
            bool waiting = p.off < p.len;
            if (!waiting)
                p.off = p.len = 0;
            // While bytes wait, listen for room instead of input.
            epoll_event e = {};
            e.events = waiting ? EPOLLOUT : EPOLLIN;
            e.data.u32 = events[k].data.u32;
            epoll_ctl(ep, EPOLL_CTL_MOD, p.fd, &e);
        }
    }
    for (auto& p : ports)
        close(p.fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: pty_client SECONDS throughput|latency|echo RATE PTY...\n");
        return 2;
    }
    double seconds = atof(argv[1]);
    bool latency = strcmp(argv[2], "latency") == 0;
    double rate = atof(argv[3]);
    int count = argc - 4;
    if (seconds <= 0 || count > MAX_PORTS)
        return 2;
    if (strcmp(argv[2], "echo") == 0)
        return echo(seconds, count, argv + 4);
    const uint64_t window = latency ? LATENCY_MESSAGE : WINDOW;
    int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Port> ports(count);
    for (int i = 0; i < count; i++) {
        Port& p = ports[i];
        p = Port();
        p.fd = openPty(argv[4 + i]);
        if (p.fd < 0)
            return 1;
        epoll_event e = {};
        e.events = EPOLLIN;
        e.data.u32 = (uint32_t)i;
        epoll_ctl(ep, EPOLL_CTL_ADD, p.fd, &e);
    }
    double start = nowMs();
    double end = start + seconds * 1000.0;
    char buf[CHUNK];
    auto setOut = [&](int i, bool on) {
        Port& p = ports[i];
        if (p.wantOut == on)
            return;
        p.wantOut = on;
        epoll_event e = {};
        e.events = EPOLLIN | (on ? (uint32_t)EPOLLOUT : 0u);
        e.data.u32 = (uint32_t)i;
        epoll_ctl(ep, EPOLL_CTL_MOD, p.fd, &e);
    };
    auto startWrite = [&](int i, double now) {
        Port& p = ports[i];
        if (now >= end)
            return;
        uint64_t inFlight = p.sent - p.received;
        if (inFlight >= window)
            return;
        uint64_t n = std::min<uint64_t>(window - inFlight, latency ? LATENCY_MESSAGE : CHUNK);
        if (rate > 0) {
            double allowed = rate * (now - start) / 1000.0 - (double)p.sent;
            if (allowed < 1)
                return;
            n = std::min<uint64_t>(n, (uint64_t)allowed);
        }
        char out[CHUNK];
        for (uint64_t k = 0; k < n; k++)
            out[k] = patternByte(p.sent + k);
        ssize_t w = write(p.fd, out, n);
        if (w > 0) {
            p.sent += (uint64_t)w;
            p.lastSend = now;
        }
        setOut(i, w < (ssize_t)n);
    };
    for (int i = 0; i < count; i++)
        startWrite(i, nowMs());
    printf("running %d ports\n", count);
    fflush(stdout);
    double drainEnd = end + DRAIN_MS;
    for (;;) {
        double now = nowMs();
        bool allBack = true;
        for (auto& p : ports)
            allBack = allBack && p.received >= p.sent;
        if ((now >= end && allBack) || now >= drainEnd)
            break;
        epoll_event events[64];
        int n = epoll_wait(ep, events, 64, rate > 0 ? 1 : 10);
        now = nowMs();
        for (int k = 0; k < n; k++) {
            int i = (int)events[k].data.u32;
            Port& p = ports[i];
            if (events[k].events & EPOLLIN) {
                ssize_t r;
                while ((r = read(p.fd, buf, sizeof buf)) > 0) {
                    for (ssize_t j = 0; j < r; j++) {
                        if (buf[j] != patternByte(p.received + (uint64_t)j))
                            p.mismatches++;
                    }
                    p.received += (uint64_t)r;
                    if (latency && p.received == p.sent)
                        p.rtts.push_back(now - p.lastSend);
                }
            }
            startWrite(i, now);
        }
        if (rate > 0 || n == 0) {
            for (int i = 0; i < count; i++)
                startWrite(i, now);
        }
    }
    double elapsed = (std::min(nowMs(), drainEnd) - start) / 1000.0;
    uint64_t totalSent = 0, totalReceived = 0, mismatches = 0, slowest = UINT64_MAX;
    std::vector<double> rtts;
    for (auto& p : ports) {
        totalSent += p.sent;
        totalReceived += p.received;
        mismatches += p.mismatches;
        slowest = std::min(slowest, p.received);
        rtts.insert(rtts.end(), p.rtts.begin(), p.rtts.end());
        close(p.fd);
    }
    printf("ports %d seconds %.2f sent %llu received %llu mismatches %llu\n", count, elapsed,
           (unsigned long long)totalSent, (unsigned long long)totalReceived, (unsigned long long)mismatches);
    printf("per_port_Bps %.0f slowest_port_Bps %.0f total_Bps %.0f\n", totalReceived / elapsed / count,
           slowest / elapsed, totalReceived / elapsed);
    if (latency && !rtts.empty()) {
        std::sort(rtts.begin(), rtts.end());
        printf("round_trips %u median_ms %.2f p99_ms %.2f max_ms %.2f\n", (unsigned)rtts.size(),
               rtts[rtts.size() / 2], rtts[std::min(rtts.size() - 1, rtts.size() * 99 / 100)], rtts.back());
    }
    return mismatches == 0 && totalReceived == totalSent ? 0 : 1;
}
