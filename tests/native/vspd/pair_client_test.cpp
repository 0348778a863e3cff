// The client calls: name rules, reply parsing, and time-outs when no daemon answers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "paird_harness.h"
#include "vspd/pair_client.h"

namespace {

TEST(PairNames, ComNumbersWithinTheRule)
{
    EXPECT_EQ(1, pairComNumber("COM1"));
    EXPECT_EQ(256, pairComNumber("com256"));
    EXPECT_EQ(42, pairComNumber("Com42"));
    for (const char* bad : {"COM0", "COM257", "COM05", "COM1234", "COM", "COM5x", "COM 5", " COM5", "LPT1", ""})
        EXPECT_EQ(0, pairComNumber(bad)) << '"' << bad << '"';
    EXPECT_EQ(0, pairComNumber(nullptr));
    EXPECT_EQ(5, pairNullComNumber("NULL_COM5"));
    EXPECT_EQ(12, pairNullComNumber("null_com12"));
    for (const char* bad : {"NULL_5", "NULLCOM5", "NULL_COM0", "NULL_", "COM5"})
        EXPECT_EQ(0, pairNullComNumber(bad)) << '"' << bad << '"';
}

TEST(PairNames, ControlPortFromTheEnvironment)
{
    unsetenv("PARLO_PAIRD_PORT");
    EXPECT_EQ(47311, pairControlPort());
    const std::pair<const char*, int> cases[] = {
        {"5000", 5000}, {"65535", 65535}, {"0", 47311}, {"65536", 47311}, {"12ab", 47311}, {"", 47311}, {"-1", 47311},
    };
    for (const auto& c : cases) {
        setenv("PARLO_PAIRD_PORT", c.first, 1);
        EXPECT_EQ(c.second, pairControlPort()) << c.first;
    }
    unsetenv("PARLO_PAIRD_PORT");
}

TEST(PairReplies, QueryReplyParsedAndChecked)
{
    PairInfo info{};
    ASSERT_EQ(1, pairParseQueryReply("OK exists=1 open=1 baud=115200 data=7 parity=2 stop=2 nullopen=0", &info));
    EXPECT_EQ(1, info.exists);
    EXPECT_EQ(1, info.open);
    EXPECT_EQ(115200u, info.baudRate);
    EXPECT_EQ(7, info.dataBits);
    EXPECT_EQ(2, info.parity);
    EXPECT_EQ(2, info.stopBits);

    info.open = 5;
    ASSERT_EQ(1, pairParseQueryReply("OK exists=0", &info));
    EXPECT_EQ(0, info.exists);
    EXPECT_EQ(0, info.open);

    for (const char* bad : {
             "OK", "ERR no such pair", "OK exists=2", "OK exists=1 open=1 baud=9600 data=8 parity=0",
             "OK exists=1 open=1 baud=9600 data=9 parity=0 stop=0", "OK exists=1 open=1 baud=9600 data=8 parity=5 stop=0",
             "OK exists=1 open=1 baud=9600 data=8 parity=0 stop=3", "OK exists=1 open=2 baud=9600 data=8 parity=0 stop=0",
             "OK exists=1 open=1 baud=99999999999 data=8 parity=0 stop=0", "OK exists=1 open=1 baud=-5 data=8 parity=0 stop=0",
             "OK exists=1x"}) {
        EXPECT_EQ(0, pairParseQueryReply(bad, &info)) << bad;
    }
}

// A loopback listener that answers each connection the way it is told.
struct FakeDaemon {
    enum Mode { SILENT, REPLY };
    int fd = -1;
    int port = 0;
    std::string reply;
    Mode mode;
    std::atomic<bool> done{false};
    std::thread thread;

    FakeDaemon(Mode m, std::string text = "") : reply(std::move(text)), mode(m)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, (sockaddr*)&addr, sizeof addr);
        socklen_t length = sizeof addr;
        getsockname(fd, (sockaddr*)&addr, &length);
        port = ntohs(addr.sin_port);
        listen(fd, 8);
        setenv("PARLO_PAIRD_PORT", std::to_string(port).c_str(), 1);
        thread = std::thread([this] { serve(); });
    }
    void serve()
    {
        std::vector<int> held;
        while (!done) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int c = accept(fd, nullptr, nullptr);
            if (c < 0)
                continue;
            if (mode == REPLY) {
                char buf[256];
                pollfd q{c, POLLIN, 0};
                if (poll(&q, 1, 1000) > 0 && recv(c, buf, sizeof buf, 0) > 0)
                    send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
                close(c);
            } else {
                held.push_back(c);
            }
        }
        for (int c : held)
            close(c);
    }
    ~FakeDaemon()
    {
        done = true;
        thread.join();
        close(fd);
    }
};

long elapsedMs(std::chrono::steady_clock::time_point since)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
        .count();
}

TEST(PairClient, NoDaemonMeansMinusOneAtOnce)
{
    setenv("PARLO_PAIRD_PORT", std::to_string(freeLoopbackPort()).c_str(), 1);
    PairInfo info{};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, pairPing());
    EXPECT_EQ(-1, pairCreate("COM5", "NULL_COM5"));
    EXPECT_EQ(-1, pairDelete("COM5"));
    EXPECT_EQ(-1, pairQuery("COM5", &info));
    EXPECT_LT(elapsedMs(start), 1000);
    // Invalid names are refused without asking anyone.
    EXPECT_EQ(0, pairCreate("COM5", "NULL_COM7"));
    EXPECT_EQ(0, pairQuery("COM5", nullptr));
    unsetenv("PARLO_PAIRD_PORT");
}

TEST(PairClient, SilentDaemonTimesOut)
{
    FakeDaemon silent(FakeDaemon::SILENT);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, pairCreate("COM5", "NULL_COM5"));
    long took = elapsedMs(start);
    EXPECT_GE(took, PAIR_TIMEOUT_MS - 50);
    // The connect and the reply each wait their time-out at most; the bound
    // only catches a wait that never ends.
    EXPECT_LT(took, 10 * 2 * PAIR_TIMEOUT_MS);
    unsetenv("PARLO_PAIRD_PORT");
}

TEST(PairClient, RepliesOtherThanOkOrErrAreNoAnswer)
{
    {
        FakeDaemon refusing(FakeDaemon::REPLY, "ERR name in use\r\n");
        EXPECT_EQ(0, pairCreate("COM5", "NULL_COM5"));
    }
    {
        FakeDaemon garbage(FakeDaemon::REPLY, "HELLO\n");
        EXPECT_EQ(-1, pairPing());
    }
    {
        FakeDaemon unterminated(FakeDaemon::REPLY, "OK");
        EXPECT_EQ(-1, pairPing());
    }
    {
        FakeDaemon flood(FakeDaemon::REPLY, "OK " + std::string(PAIR_REPLY_MAX + 100, 'x') + "\n");
        EXPECT_EQ(-1, pairPing());
    }
    {
        FakeDaemon bad(FakeDaemon::REPLY, "OK exists=1 open=1 baud=9600 data=12 parity=0 stop=0\n");
        PairInfo info{};
        EXPECT_EQ(-1, pairQuery("COM5", &info));
    }
    unsetenv("PARLO_PAIRD_PORT");
}

}  // namespace
