// The pair daemon end to end: ptys and links, relay, open detection, control channel, restart.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "paird_harness.h"
#include "vspd/pair_client.h"

namespace {

// Sets the line the way Wine's SetCommState does on a serial descriptor.
void setLineLikeWine(int fd, speed_t speed, int dataBits, int parity, int stopBits)
{
    termios t;
    ASSERT_EQ(0, tcgetattr(fd, &t));
    t.c_iflag &= ~(tcflag_t)(ISTRIP | BRKINT | IGNCR | ICRNL | INLCR | PARMRK | IMAXBEL);
    t.c_iflag |= IGNBRK | INPCK;
    t.c_oflag &= ~(tcflag_t)OPOST;
    t.c_cflag &= ~(tcflag_t)(HUPCL | PARENB | PARODD | CMSPAR | CSIZE | CSTOPB);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ISIG | IEXTEN);
    switch (parity) {
    case 0: t.c_iflag &= ~(tcflag_t)INPCK; break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    }
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[dataBits - 5];
    if (stopBits)
        t.c_cflag |= CSTOPB;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    ASSERT_EQ(0, tcsetattr(fd, TCSANOW, &t));
}

std::string linkTarget(const std::string& path)
{
    char buf[256];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return "";
    return std::string(buf, (size_t)n);
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string pattern(size_t n, unsigned seed)
{
    std::string text(n, 0);
    for (size_t i = 0; i < n; i++)
        text[i] = (char)((i * 131 + seed + i / 251) & 0xFF);
    return text;
}

bool writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

// Writes to a non-blocking descriptor until it stays full for 300 ms.
std::string fillUntilBlocked(int fd, size_t limit)
{
    std::string sent;
    std::string chunk = pattern(1024, 7);
    while (sent.size() < limit) {
        ssize_t n = write(fd, chunk.data(), chunk.size());
        if (n > 0) {
            sent.append(chunk.data(), (size_t)n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 300) <= 0)
            break;
    }
    return sent;
}

bool nothingToRead(int fd, int waitMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 0;
}

class PairDaemonTest : public ::testing::Test {
protected:
    TempPrefix prefix;
    std::string statePath;
    DaemonProcess daemon;

    void SetUp() override
    {
        ASSERT_FALSE(prefix.path.empty());
        statePath = prefix.path + "/paird.state";
        ASSERT_TRUE(daemon.start(prefix, freeLoopbackPort(), statePath)) << daemon.log();
    }

    PairInfo query(const char* com)
    {
        PairInfo info{};
        EXPECT_EQ(1, pairQuery(com, &info)) << com;
        return info;
    }
};

TEST_F(PairDaemonTest, CreateLinksBothNamesToTheirOwnPtys)
{
    ASSERT_EQ(1, pairCreate("COM5", "NULL_COM5")) << daemon.log();
    std::string app = linkTarget(prefix.link("com5"));
    std::string host = linkTarget(prefix.link("null_com5"));
    EXPECT_EQ(0u, app.find("/dev/pts/")) << app;
    EXPECT_EQ(0u, host.find("/dev/pts/")) << host;
    EXPECT_NE(app, host);
    for (const char* name : {"com5", "null_com5"}) {
        int fd = openSide(prefix, name);
        ASSERT_GE(fd, 0) << name;
        EXPECT_TRUE(isatty(fd)) << name;
        close(fd);
    }

    // The same pair again, and its links put back if someone removed one.
    EXPECT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    EXPECT_EQ(app, linkTarget(prefix.link("com5")));
    unlink(prefix.link("null_com5").c_str());
    EXPECT_EQ(1, pairCreate("com5", "null_com5"));
    EXPECT_EQ(host, linkTarget(prefix.link("null_com5")));

    EXPECT_EQ("OK COM5", rawRequest(daemon.port, "LIST\n"));
    std::ifstream state(statePath);
    std::string line;
    std::getline(state, line);   // heading
    std::getline(state, line);
    EXPECT_EQ("COM5 " + app + " " + host, line);
}

TEST_F(PairDaemonTest, QueryReportsOpenStateAndLineSettings)
{
    ASSERT_EQ(1, pairCreate("COM7", "NULL_COM7"));
    PairInfo info = query("COM7");
    EXPECT_EQ(1, info.exists);
    EXPECT_EQ(0, info.open);
    EXPECT_EQ(9600u, info.baudRate);
    EXPECT_EQ(8, info.dataBits);
    EXPECT_EQ(0, info.parity);
    EXPECT_EQ(0, info.stopBits);

    int app = openSide(prefix, "com7");
    ASSERT_GE(app, 0);
    setLineLikeWine(app, B9600, 8, 0, 0);
    info = query("COM7");
    EXPECT_EQ(1, info.open);
    EXPECT_EQ(9600u, info.baudRate);
    EXPECT_EQ(8, info.dataBits);
    EXPECT_EQ(0, info.parity);
    EXPECT_EQ(0, info.stopBits);

    // 7E2: a pty keeps CS8 whatever is asked, so the data bits read 8.
    setLineLikeWine(app, B19200, 7, 2, 2);
    info = query("COM7");
    EXPECT_EQ(19200u, info.baudRate);
    EXPECT_EQ(8, info.dataBits);
    EXPECT_EQ(2, info.parity);
    EXPECT_EQ(2, info.stopBits);

    const int parities[] = {1, 3, 4};
    for (int parity : parities) {
        setLineLikeWine(app, B115200, 8, parity, 0);
        info = query("COM7");
        EXPECT_EQ(115200u, info.baudRate);
        EXPECT_EQ(parity, info.parity);
        EXPECT_EQ(0, info.stopBits);
    }

    // The host's side open or not is reported apart from the application's.
    EXPECT_EQ("OK exists=1 open=1 baud=115200 data=8 parity=4 stop=0 nullopen=0",
              rawRequest(daemon.port, "QUERY COM7\n"));
    close(app);
    info = query("COM7");
    EXPECT_EQ(0, info.open);
    EXPECT_EQ(115200u, info.baudRate);
    EXPECT_EQ(0, query("COM8").exists);
}

TEST_F(PairDaemonTest, RelaysBytesBothWays)
{
    ASSERT_EQ(1, pairCreate("COM3", "NULL_COM3"));
    int app = openSide(prefix, "com3");
    int host = openSide(prefix, "null_com3");
    ASSERT_GE(app, 0);
    ASSERT_GE(host, 0);
    // Raw line both ways: no echo, no CR/LF translation, no flow-control or
    // signal characters, every byte value passes.
    std::string bytes("hello\r\n\x00\x03\x04\x11\x13\x1a\x7f\xff", 15);
    ASSERT_TRUE(writeAll(app, bytes));
    EXPECT_EQ(bytes, readFor(host, bytes.size(), 2000));
    ASSERT_TRUE(writeAll(host, bytes));
    EXPECT_EQ(bytes, readFor(app, bytes.size(), 2000));
    EXPECT_TRUE(nothingToRead(app, 100)) << "echo";
    EXPECT_TRUE(nothingToRead(host, 10)) << "echo";
    close(app);
    close(host);
}

TEST_F(PairDaemonTest, TransfersLargeBlocksBothWaysWithoutLoss)
{
    ASSERT_EQ(1, pairCreate("COM4", "NULL_COM4"));
    int app = openSide(prefix, "com4");
    int host = openSide(prefix, "null_com4");
    ASSERT_GE(app, 0);
    ASSERT_GE(host, 0);
    const size_t size = 64 * 1024;
    std::string up = pattern(size, 1);
    std::string down = pattern(size, 2);
    std::string gotUp;
    std::string gotDown;
    std::thread upWriter([&] { writeAll(app, up); });
    std::thread downWriter([&] { writeAll(host, down); });
    std::thread upReader([&] { gotUp = readFor(host, size, 15000); });
    std::thread downReader([&] { gotDown = readFor(app, size, 15000); });
    upReader.join();
    downReader.join();
    upWriter.join();
    downWriter.join();
    EXPECT_EQ(size, gotUp.size());
    EXPECT_TRUE(gotUp == up) << "application to host stream differs";
    EXPECT_EQ(size, gotDown.size());
    EXPECT_TRUE(gotDown == down) << "host to application stream differs";
    close(app);
    close(host);
}

TEST_F(PairDaemonTest, HoldsBackASenderWhileTheReaderStalls)
{
    ASSERT_EQ(1, pairCreate("COM6", "NULL_COM6"));
    int app = openSide(prefix, "com6");
    int host = openSide(prefix, "null_com6", true);
    ASSERT_GE(app, 0);
    ASSERT_GE(host, 0);
    // The application reads nothing: the host's writes must end up blocked
    // after the kernel buffers and the daemon's own bounded buffer fill.
    std::string sent = fillUntilBlocked(host, 4 * 1024 * 1024);
    EXPECT_GT(sent.size(), 4096u);
    EXPECT_LT(sent.size(), 1024u * 1024u) << "the daemon buffers without limit";
    std::string got = readFor(app, sent.size(), 5000);
    EXPECT_EQ(sent.size(), got.size());
    EXPECT_TRUE(got == sent) << "bytes lost or reordered under back-pressure";
    // And the flow resumes.
    ASSERT_TRUE(writeAll(host, "again"));
    EXPECT_EQ("again", readFor(app, 5, 2000));
    close(app);
    close(host);
}

TEST_F(PairDaemonTest, FollowsAnApplicationThatClosesAndReopens)
{
    ASSERT_EQ(1, pairCreate("COM9", "NULL_COM9"));
    int host = openSide(prefix, "null_com9");
    ASSERT_GE(host, 0);
    int app = openSide(prefix, "com9");
    ASSERT_GE(app, 0);
    EXPECT_EQ(1, query("COM9").open);

    // What the application wrote just before closing still arrives.
    ASSERT_TRUE(writeAll(app, "tail"));
    close(app);
    EXPECT_EQ("tail", readFor(host, 4, 2000));
    EXPECT_EQ(0, query("COM9").open);

    // Bytes sent while nobody has the port open are gone, like on a cable
    // with nothing at the far end; so are bytes an application left unread.
    ASSERT_TRUE(writeAll(host, "while closed"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    app = openSide(prefix, "com9", true);
    ASSERT_GE(app, 0);
    EXPECT_EQ(1, query("COM9").open);
    EXPECT_TRUE(nothingToRead(app, 200));
    ASSERT_TRUE(writeAll(host, "unread"));
    int queued = 0;
    for (int i = 0; i < 200 && queued < 6; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ioctl(app, FIONREAD, &queued);
    }
    EXPECT_EQ(6, queued);
    close(app);
    EXPECT_EQ(0, query("COM9").open);
    app = openSide(prefix, "com9", true);
    ASSERT_GE(app, 0);
    EXPECT_TRUE(nothingToRead(app, 200)) << "stale bytes from the previous opener";
    close(app);

    // Quick open/close cycles leave the pair working.
    for (int i = 0; i < 30; i++) {
        int fd = openSide(prefix, "com9");
        ASSERT_GE(fd, 0);
        close(fd);
    }
    EXPECT_EQ(0, query("COM9").open);
    app = openSide(prefix, "com9");
    ASSERT_GE(app, 0);
    ASSERT_TRUE(writeAll(host, "ping"));
    EXPECT_EQ("ping", readFor(app, 4, 2000));
    ASSERT_TRUE(writeAll(app, "pong"));
    EXPECT_EQ("pong", readFor(host, 4, 2000));
    EXPECT_EQ(1, query("COM9").open);
    close(app);
    close(host);
}

TEST_F(PairDaemonTest, StaysIdleWithClosedAndStalledSides)
{
    ASSERT_EQ(1, pairCreate("COM11", "NULL_COM11"));
    ASSERT_EQ(1, pairCreate("COM12", "NULL_COM12"));
    // COM11: the application came and went; the host stays.
    int host11 = openSide(prefix, "null_com11");
    int app11 = openSide(prefix, "com11");
    ASSERT_GE(host11, 0);
    ASSERT_GE(app11, 0);
    ASSERT_TRUE(writeAll(host11, "x"));
    close(app11);
    // COM12: the application never reads, the host is held back.
    int app12 = openSide(prefix, "com12");
    int host12 = openSide(prefix, "null_com12", true);
    ASSERT_GE(app12, 0);
    ASSERT_GE(host12, 0);
    fillUntilBlocked(host12, 4 * 1024 * 1024);

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long before = cpuTicks(daemon.pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    long used = cpuTicks(daemon.pid) - before;
    EXPECT_LE(used, 3) << "daemon spins: " << used << " ticks in one second";
    close(host11);
    close(app12);
    close(host12);
}

TEST_F(PairDaemonTest, DeleteRemovesTheLinksAndThePair)
{
    ASSERT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    int app = openSide(prefix, "com5");
    ASSERT_GE(app, 0);
    EXPECT_EQ(1, pairDelete("COM5"));
    EXPECT_FALSE(exists(prefix.link("com5")));
    EXPECT_FALSE(exists(prefix.link("null_com5")));
    EXPECT_EQ(0, query("COM5").exists);
    EXPECT_EQ(0, pairDelete("COM5"));
    EXPECT_EQ("ERR no such pair", rawRequest(daemon.port, "DELETE COM5\n"));
    EXPECT_EQ("OK", rawRequest(daemon.port, "LIST\n"));
    // The application sees the line hang up instead of blocking for ever.
    pollfd p{app, POLLIN, 0};
    EXPECT_EQ(1, poll(&p, 1, 1000));
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR | POLLIN));
    close(app);
}

TEST_F(PairDaemonTest, Holds128PairsAtOnce)
{
    for (int com = 1; com <= 128; com++)
        ASSERT_EQ(1, pairCreate(("COM" + std::to_string(com)).c_str(), ("NULL_COM" + std::to_string(com)).c_str()))
            << com << "\n" << daemon.log();
    std::string list = rawRequest(daemon.port, "LIST\n");
    EXPECT_EQ(0u, list.find("OK COM1 COM2 "));
    EXPECT_NE(std::string::npos, list.find(" COM127 COM128"));
    for (int com : {1, 64, 128}) {
        int app = openSide(prefix, "com" + std::to_string(com));
        int host = openSide(prefix, "null_com" + std::to_string(com));
        ASSERT_GE(app, 0);
        ASSERT_GE(host, 0);
        std::string text = "pair " + std::to_string(com);
        ASSERT_TRUE(writeAll(app, text));
        EXPECT_EQ(text, readFor(host, text.size(), 2000));
        close(app);
        close(host);
    }
    for (int com = 1; com <= 128; com++)
        ASSERT_EQ(1, pairDelete(("COM" + std::to_string(com)).c_str()));
    EXPECT_TRUE(std::filesystem::is_empty(prefix.dosdir));
}

TEST_F(PairDaemonTest, RefusesInvalidNames)
{
    const char* const refused[][2] = {
        {"COM0", "NULL_COM0"},   {"COM257", "NULL_COM257"}, {"COM05", "NULL_COM05"},
        {"COM5", "NULL_COM6"},   {"LPT1", "NULL_LPT1"},     {"COM5", "COM5"},
        {"COM5\nDELETE COM1", "NULL_COM5"},
    };
    for (const auto& names : refused)
        EXPECT_EQ(0, pairCreate(names[0], names[1])) << names[0] << " " << names[1];
    EXPECT_EQ(0, pairDelete("COM1234"));

    // The same, and other malformed requests, straight to the daemon.
    EXPECT_EQ("ERR bad name", rawRequest(daemon.port, "CREATE COM257 NULL_COM257\n"));
    EXPECT_EQ("ERR bad name", rawRequest(daemon.port, "CREATE ../../etc NULL_../../etc\n"));
    EXPECT_EQ("ERR bad name", rawRequest(daemon.port, "CREATE COM5 NULL_COM5x\n"));
    EXPECT_EQ("ERR name mismatch", rawRequest(daemon.port, "CREATE COM5 NULL_COM50\n"));
    EXPECT_EQ("ERR bad name", rawRequest(daemon.port, "QUERY /dev/pts/0\n"));
    EXPECT_EQ("ERR bad request", rawRequest(daemon.port, "CREATE COM5\n"));
    EXPECT_EQ("ERR bad request", rawRequest(daemon.port, "PING now\n"));
    EXPECT_EQ("ERR unknown command", rawRequest(daemon.port, "FORMAT C:\n"));
    EXPECT_TRUE(std::filesystem::is_empty(prefix.dosdir));
}

TEST_F(PairDaemonTest, LeavesNamesThatAreNotPtyLinksAlone)
{
    // Wine maps a real serial port as com1 -> /dev/ttyS0.
    ASSERT_EQ(0, symlink("/dev/ttyS0", prefix.link("com1").c_str()));
    std::ofstream(prefix.link("null_com2")) << "not a link";
    EXPECT_EQ("ERR name in use", rawRequest(daemon.port, "CREATE COM1 NULL_COM1\n"));
    EXPECT_EQ(0, pairCreate("COM2", "NULL_COM2"));
    EXPECT_EQ("/dev/ttyS0", linkTarget(prefix.link("com1")));
    EXPECT_FALSE(exists(prefix.link("null_com1")));
    EXPECT_FALSE(exists(prefix.link("com2")));
    // A pty link left behind by someone else is taken over.
    ASSERT_EQ(0, symlink("/dev/pts/99999", prefix.link("com3").c_str()));
    EXPECT_EQ(1, pairCreate("COM3", "NULL_COM3"));
    EXPECT_NE("/dev/pts/99999", linkTarget(prefix.link("com3")));
}

TEST_F(PairDaemonTest, BadClientsDoNotDisturbOthers)
{
    // A client that sends half a line and waits.
    int idle = connectLoopback(daemon.port);
    ASSERT_GE(idle, 0);
    ASSERT_EQ(3, send(idle, "QUE", 3, MSG_NOSIGNAL));
    // One that leaves in the middle of a line.
    int quitter = connectLoopback(daemon.port);
    ASSERT_GE(quitter, 0);
    send(quitter, "CREATE COM5 NU", 14, MSG_NOSIGNAL);
    close(quitter);

    EXPECT_EQ("ERR bad request", rawRequest(daemon.port, std::string("\x01\x02\xff\x00 x\n", 7)));
    // An over-long line is refused and the connection closed.
    auto lines = rawLines(daemon.port, std::string(1000, 'A') + "\nPING\n", 2);
    EXPECT_EQ("ERR line too long", lines[0]);
    EXPECT_EQ("<closed>", lines[1]);
    lines = rawLines(daemon.port, std::string(100000, 'B'), 2);
    EXPECT_EQ("ERR line too long", lines[0]);
    EXPECT_EQ("<closed>", lines[1]);

    // Others are served meanwhile, several requests on one connection too.
    EXPECT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    lines = rawLines(daemon.port, "PING\r\nLIST\nquery com5\n\nDELETE COM6\n", 5);
    EXPECT_EQ("OK", lines[0]);
    EXPECT_EQ("OK COM5", lines[1]);
    EXPECT_EQ(0u, lines[2].find("OK exists=1 open=0 "));
    EXPECT_EQ("ERR bad request", lines[3]);
    EXPECT_EQ("ERR no such pair", lines[4]);

    // The waiting client finishes its line and gets its answer.
    ASSERT_EQ(8, send(idle, "RY COM5\n", 8, MSG_NOSIGNAL));
    std::string pending;
    EXPECT_EQ(0u, readLine(idle, pending, 2000).find("OK exists=1 "));
    close(idle);

    // More connections than the daemon serves at once: the extra ones are
    // turned away, and service resumes when they go.
    std::vector<int> crowd;
    for (int i = 0; i < 40; i++)
        crowd.push_back(connectLoopback(daemon.port));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int busy = 0;
    for (int fd : crowd) {
        ASSERT_GE(fd, 0);
        pending.clear();
        if (readLine(fd, pending, 0) == "ERR busy")
            busy++;
    }
    EXPECT_GE(busy, 1);
    EXPECT_LE(busy, 8);
    for (int fd : crowd)
        close(fd);
    bool served = false;
    for (int i = 0; i < 40 && !served; i++) {
        served = pairPing() == 1;
        if (!served)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(served);
    EXPECT_EQ(1, query("COM5").exists);
}

TEST(PairDaemonLimits, RunningOutOfDescriptorsIsSurvived)
{
    TempPrefix prefix;
    DaemonProcess daemon;
    daemon.fdLimit = 40;
    ASSERT_TRUE(daemon.start(prefix, freeLoopbackPort())) << daemon.log();
    int made = 0;
    std::string refusal;
    for (int com = 1; com <= 30 && refusal.empty(); com++) {
        std::string reply = rawRequest(daemon.port, "CREATE COM" + std::to_string(com) + " NULL_COM" +
                                                        std::to_string(com) + "\n");
        if (reply == "OK")
            made++;
        else
            refusal = reply;
    }
    EXPECT_EQ("ERR no pty", refusal);
    ASSERT_GT(made, 2);
    // Clients beyond what is left are turned away without the daemon spinning.
    std::vector<int> crowd;
    for (int i = 0; i < 20; i++)
        crowd.push_back(connectLoopback(daemon.port));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long before = cpuTicks(daemon.pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(cpuTicks(daemon.pid) - before, 3);
    for (int fd : crowd)
        close(fd);
    // The pairs it has still work, and room comes back with a deletion.
    int app = openSide(prefix, "com1");
    int host = openSide(prefix, "null_com1");
    ASSERT_GE(app, 0);
    ASSERT_GE(host, 0);
    ASSERT_TRUE(writeAll(app, "still"));
    EXPECT_EQ("still", readFor(host, 5, 2000));
    close(app);
    close(host);
    std::string last = std::to_string(made);
    bool deleted = false;
    for (int i = 0; i < 40 && !deleted; i++) {
        deleted = pairDelete(("COM" + last).c_str()) == 1;
        if (!deleted)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(deleted);
    EXPECT_EQ(1, pairCreate(("COM" + last).c_str(), ("NULL_COM" + last).c_str()));
}

TEST_F(PairDaemonTest, RemovesItsLinksOnSigterm)
{
    ASSERT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    ASSERT_EQ(1, pairCreate("COM6", "NULL_COM6"));
    int app = openSide(prefix, "com5");
    ASSERT_GE(app, 0);
    EXPECT_EQ(0, daemon.stop());
    EXPECT_TRUE(std::filesystem::is_empty(prefix.dosdir));
    std::ifstream state(statePath);
    for (std::string line; std::getline(state, line);)
        EXPECT_EQ('#', line[0]) << "pair still recorded: " << line;
    EXPECT_EQ(-1, pairPing());
    close(app);
}

TEST_F(PairDaemonTest, RestartRemovesWhatAKilledDaemonLeft)
{
    ASSERT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    ASSERT_EQ(1, pairCreate("COM6", "NULL_COM6"));
    daemon.kill9();
    EXPECT_TRUE(exists(prefix.link("com5")));
    EXPECT_TRUE(exists(prefix.link("null_com6")));
    // Also a stray pty link and our temporary name from an interrupted CREATE,
    // beside things that are not ours to touch.
    ASSERT_EQ(0, symlink("/dev/pts/99999", prefix.link("com9").c_str()));
    ASSERT_EQ(0, symlink("/dev/pts/99998", prefix.link(".null_com9.paird-tmp").c_str()));
    ASSERT_EQ(0, symlink("/dev/ttyS0", prefix.link("com1").c_str()));
    ASSERT_EQ(0, symlink("/tmp", prefix.link("c:").c_str()));

    ASSERT_TRUE(daemon.start(prefix, freeLoopbackPort(), statePath)) << daemon.log();
    for (const char* name : {"com5", "null_com5", "com6", "null_com6", "com9", ".null_com9.paird-tmp"})
        EXPECT_FALSE(exists(prefix.link(name))) << name;
    EXPECT_EQ("/dev/ttyS0", linkTarget(prefix.link("com1")));
    EXPECT_EQ("/tmp", linkTarget(prefix.link("c:")));
    EXPECT_EQ("OK", rawRequest(daemon.port, "LIST\n"));
    EXPECT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    EXPECT_TRUE(exists(prefix.link("com5")));
}

TEST_F(PairDaemonTest, ASecondDaemonForTheSamePrefixIsRefused)
{
    ASSERT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    std::string command = std::string(PARLO_PAIRD_EXE) + " --prefix " + prefix.path + " --port " +
                          std::to_string(freeLoopbackPort()) + " --foreground 2>/dev/null";
    int status = system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_TRUE(exists(prefix.link("com5")));
    EXPECT_EQ(1, query("COM5").exists);
}

TEST(PairDaemonDetached, ServesAfterReturningAndStopsByItsPid)
{
    TempPrefix prefix;
    int port = freeLoopbackPort();
    std::string pidPath = prefix.path + "/paird.pid";
    std::string command = std::string(PARLO_PAIRD_EXE) + " --prefix " + prefix.path + " --port " +
                          std::to_string(port) + " --pidfile " + pidPath + " --log " + prefix.path + "/log";
    ASSERT_EQ(0, system(command.c_str()));
    // Ready as soon as the command returns.
    setenv("PARLO_PAIRD_PORT", std::to_string(port).c_str(), 1);
    EXPECT_EQ(1, pairCreate("COM5", "NULL_COM5"));
    std::ifstream pidFile(pidPath);
    pid_t pid = 0;
    pidFile >> pid;
    ASSERT_GT(pid, 1);
    ASSERT_EQ(0, kill(pid, SIGTERM));
    bool gone = false;
    for (int i = 0; i < 200 && !gone; i++) {
        gone = !exists(pidPath);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(gone);
    EXPECT_FALSE(exists(prefix.link("com5")));
    EXPECT_EQ(-1, pairPing());
}

}  // namespace
