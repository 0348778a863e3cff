// devsim over real sockets on loopback addresses, driven by the manager's portable protocol code.
#include "devsim_test_util.h"

#include "devsim_process.h"
#include "mgmt/device_command.h"
#include "mgmt/discovery_reply.h"
#include "mgmt/line_settings.h"
#include "mgmt/mgmt_receive.h"

#include <netinet/in.h>
#include <sys/time.h>

#include <chrono>

namespace {

// A /24 inside 127/8 of this test process's own, so parallel runs do not meet.
std::string loopbackNet()
{
    int pid = (int)getpid();
    char text[32];
    snprintf(text, sizeof text, "127.%d.%d.", 64 + pid % 128, 1 + (pid / 128) % 250);
    return text;
}

std::string deviceAddress(int n)
{
    return loopbackNet() + std::to_string(10 + n);
}

int freePort(int type)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    bind(fd, (sockaddr*)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

sockaddr_in endpoint(const std::string& ip, int port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(ip.c_str());
    a.sin_port = htons((uint16_t)port);
    return a;
}

// The manager's side over a UDP socket on 127.0.0.1: requests go to
// devsim's management port, as they would to the group.
struct LoopbackLink {
    int fd = -1;
    int port = 0;
    std::vector<std::string> senders;  // source address of every datagram received

    static int open(void* c)
    {
        LoopbackLink* self = (LoopbackLink*)c;
        self->fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = endpoint("127.0.0.1", 0);
        timeval tv = {0, 400000};
        setsockopt(self->fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return bind(self->fd, (sockaddr*)&local, sizeof local) == 0;
    }
    static void send(void* c, const uint8_t* d, int n)
    {
        LoopbackLink* self = (LoopbackLink*)c;
        sockaddr_in to = endpoint("127.0.0.1", self->port);
        sendto(self->fd, d, (size_t)n, 0, (sockaddr*)&to, sizeof to);
    }
    static int receive(void* c, uint8_t* buffer, int capacity)
    {
        LoopbackLink* self = (LoopbackLink*)c;
        return receiveNotingSender(self->fd, &self->senders, buffer, capacity);
    }
    static void close(void* c)
    {
        ::close(((LoopbackLink*)c)->fd);
    }
    MgmtTransport transport()
    {
        return MgmtTransport{this, open, send, receive, close};
    }
};

class Loopback : public ::testing::Test {
protected:
    DevsimProcess sim;
    LoopbackLink link;
    int tcpPort = freePort(SOCK_STREAM);
    int udpPort = freePort(SOCK_DGRAM);

    void start(const std::string& extra = "")
    {
        std::string config = "device sn=LOOP count=3 ip=" + deviceAddress(1) + " ports=2\n" +
                             "port 1 mode=tcp dport=" + std::to_string(tcpPort) + " prefix=>\\s\n" +
                             "port 2 mode=udp dport=" + std::to_string(udpPort) + "\n" + extra;
        ASSERT_TRUE(sim.start(config, {"--mgmt-bind", "127.0.0.1", "--mgmt-port", "0", "--no-multicast",
                                       "--discover-spacing-us", "200"}));
        link.port = sim.mgmtPort();
    }

    std::vector<DeviceRecord> discover()
    {
        MgmtTransport t = link.transport();
        t.open(t.context);
        uint8_t p[12];
        buildDiscoveryProbe(p, sizeof p);
        t.send(t.context, p, 12);
        Collected c;
        collectDiscoveryReplies(t.receive, t.context, Collected::add, &c);
        t.close(t.context);
        return c.records;
    }

    DeviceRecord deviceRecord(int n)
    {
        for (const DeviceRecord& r : discover()) {
            char serial[13] = {};
            memcpy(serial, r.serialNumber, 12);
            char want[13];
            snprintf(want, sizeof want, "LOOP%08d", n);
            if (!strcmp(serial, want))
                return r;
        }
        ADD_FAILURE() << "device " << n << " did not answer";
        return DeviceRecord{};
    }

    MgmtCommandResult command(const DeviceRecord& target, uint16_t code, const Bytes& bytes,
                              MgmtAuthenticateFn authenticate = refuseAuthentication, void* context = nullptr)
    {
        MgmtCommand c = {code, &target, bytes.data(), (int)bytes.size(), RECEIVE_STATUS, nullptr, 0, nullptr};
        MgmtTransport t = link.transport();
        MgmtCommandResult result;
        runDeviceCommand(&t, &c, authenticate, context, &result);
        return result;
    }

    static int refuseAuthentication(void*)
    {
        return 0;
    }
};

// Connects, sends text, reads what comes back within a short time.
std::string tcpRoundTrip(const std::string& ip, int port, const std::string& text, int* connectError = nullptr)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = endpoint(ip, port);
    if (connect(fd, (sockaddr*)&to, sizeof to) != 0) {
        if (connectError)
            *connectError = errno;
        close(fd);
        return "";
    }
    send(fd, text.data(), text.size(), 0);
    std::string got;
    char buffer[256];
    pollfd p = {fd, POLLIN, 0};
    while (got.size() < text.size() + 16 && poll(&p, 1, 500) > 0) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        got.append(buffer, (size_t)n);
        if (got.size() >= text.size() && got.back() == '\n')
            break;
    }
    close(fd);
    return got;
}

}  // namespace

TEST_F(Loopback, DiscoveryRepliesComeFromEachDevicesAddress)
{
    start();
    std::vector<DeviceRecord> found = discover();
    ASSERT_EQ(3u, found.size());
    for (int i = 0; i < 3; i++) {
        char serial[13] = {};
        memcpy(serial, found[i].serialNumber, 12);
        EXPECT_EQ("LOOP0000000" + std::to_string(i + 1), std::string(serial));
        EXPECT_EQ(inet_addr(deviceAddress(i + 1).c_str()), found[i].network.ipAddress);
        EXPECT_EQ(deviceAddress(i + 1), link.senders.at((size_t)i));
    }
    EXPECT_NE(std::string::npos, sim.ctl("log 2").find("code=128 len=4 crc=ok sn=- digest=- payload=aabbccdd"));
}

TEST_F(Loopback, AuthenticationRoundTrip)
{
    start();
    sim.ctl("policy 2 check admin s3cret");
    DeviceRecord target = deviceRecord(2);

    struct Dialog {
        int shown = 0;
        static int enter(void* c)
        {
            ((Dialog*)c)->shown++;
            strcpy(deviceUserName, "admin");
            strcpy(devicePassword, "s3cret");
            return 1;
        }
    } dialog;
    Bytes zero{0};
    MgmtCommand c = {MGMT_GET_SERIAL_CONFIG, &target, zero.data(), 1, RECEIVE_CONFIG, nullptr, 0, nullptr};
    SerialPortConfig table[MAX_DEVICE_PORTS];
    int count = 0;
    c.configs = table;
    c.configCapacity = MAX_DEVICE_PORTS;
    c.configCount = &count;
    MgmtTransport t = link.transport();
    MgmtCommandResult result;
    EXPECT_EQ(1, runDeviceCommand(&t, &c, Dialog::enter, &dialog, &result));
    strcpy(deviceUserName, "tolmo");
    strcpy(devicePassword, "tolmo");
    EXPECT_EQ(1, dialog.shown);
    EXPECT_EQ(2, result.requestsSent);
    ASSERT_EQ(2, count);
    EXPECT_EQ(tcpPort, table[0].devicePort);
    EXPECT_EQ(WORK_MODE_UDP, table[1].workMode);

    std::string log = sim.ctl("log 2");
    EXPECT_NE(std::string::npos, log.find("code=19 len=29 crc=ok sn=LOOP00000002 "
                                          "digest=c677aaaa435000708ba5dd50ccc3affc payload=00 reply=255 status=1"));
    EXPECT_NE(std::string::npos, log.find("digest=746191178e1c6338963e56d15589dc4b payload=00 reply=147 ports=2"));

    sim.ctl("policy 2 refuse");
    MgmtCommandResult refused = command(target, MGMT_REBOOT, Bytes{1});
    EXPECT_EQ(COMMAND_FAILED, refused.result);
    EXPECT_EQ(2u, refused.status);
}

TEST_F(Loopback, SerialPortReconfigurationTakesEffectAtOnce)
{
    start();
    EXPECT_EQ("> hello\n> world\n", tcpRoundTrip(deviceAddress(1), tcpPort, "hello\nworld\n"));

    // Port 1 becomes a UDP endpoint that sends to our socket as its peer.
    int peer = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = endpoint("127.0.0.1", 0);
    bind(peer, (sockaddr*)&local, sizeof local);
    socklen_t len = sizeof local;
    getsockname(peer, (sockaddr*)&local, &len);

    DeviceRecord target = deviceRecord(1);
    SerialPortConfig c = {};
    c.lineSettings = packLineSettings(0, 9600, DEVICE_PARITY_NONE, DEVICE_DATA_BITS_8, DEVICE_STOP_BITS_1);
    strcpy(c.peerAddress, "127.0.0.1");
    c.peerPort = ntohs(local.sin_port);
    c.devicePort = (uint16_t)tcpPort;
    c.workMode = WORK_MODE_UDP;
    EXPECT_EQ(COMMAND_DONE, command(target, MGMT_SET_SERIAL_CONFIG, serialWrite(1, c)).result);

    int error = 0;
    EXPECT_EQ("", tcpRoundTrip(deviceAddress(1), tcpPort, "x\n", &error));
    EXPECT_EQ(ECONNREFUSED, error);

    // Sent from another socket, the echo still goes to the configured peer.
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = endpoint(deviceAddress(1), tcpPort);
    sendto(sender, "ping\n", 5, 0, (sockaddr*)&to, sizeof to);
    char buffer[64];
    pollfd p = {peer, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 1000));
    ssize_t n = recv(peer, buffer, sizeof buffer, 0);
    EXPECT_EQ("> ping\n", std::string(buffer, (size_t)(n > 0 ? n : 0)));
    close(sender);
    close(peer);
    EXPECT_NE(std::string::npos, sim.ctl("data 1").find("1 1 mode=udp addr=" + deviceAddress(1)));
}

TEST_F(Loopback, DataSideGoesAwayAndComesBack)
{
    start();
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = endpoint(deviceAddress(3), tcpPort);
    ASSERT_EQ(0, connect(fd, (sockaddr*)&to, sizeof to));
    sim.ctl("down 3");
    char c;
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 1000));
    EXPECT_GE(0, recv(fd, &c, 1, 0));  // closed by the device
    close(fd);

    int error = 0;
    tcpRoundTrip(deviceAddress(3), tcpPort, "x\n", &error);
    EXPECT_EQ(ECONNREFUSED, error);
    EXPECT_EQ("> again\n", tcpRoundTrip(deviceAddress(1), tcpPort, "again\n"));  // others stay

    sim.ctl("up 3");
    EXPECT_EQ("> back\n", tcpRoundTrip(deviceAddress(3), tcpPort, "back\n"));

    // Bytes from the serial side reach the connected client.
    fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(0, connect(fd, (sockaddr*)&to, sizeof to));
    for (int i = 0; i < 50 && sim.ctl("data 3").find("conns=1") == std::string::npos; i++)
        usleep(10000);
    sim.ctl("inject 3 1 from\\sdevice\\n");
    char buffer[64];
    p.fd = fd;
    ASSERT_EQ(1, poll(&p, 1, 1000));
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    EXPECT_EQ("from device\n", std::string(buffer, (size_t)(n > 0 ? n : 0)));
    close(fd);
}

TEST_F(Loopback, RebootMovesTheDeviceToItsNewAddress)
{
    start();
    DeviceRecord target = deviceRecord(2);
    NetworkConfig n = target.network;
    n.ipAddress = inet_addr(deviceAddress(50).c_str());
    Bytes bytes((uint8_t*)&n, (uint8_t*)&n + sizeof n);
    EXPECT_EQ(COMMAND_DONE, command(target, MGMT_SET_NETWORK, bytes).result);
    EXPECT_EQ(inet_addr(deviceAddress(2).c_str()), deviceRecord(2).network.ipAddress);  // not before a reboot

    EXPECT_EQ(COMMAND_DONE, command(target, MGMT_REBOOT, Bytes{1}).result);
    DeviceRecord after = deviceRecord(2);
    EXPECT_EQ(inet_addr(deviceAddress(50).c_str()), after.network.ipAddress);
    EXPECT_EQ("> moved\n", tcpRoundTrip(deviceAddress(50), tcpPort, "moved\n"));
    int error = 0;
    tcpRoundTrip(deviceAddress(2), tcpPort, "x\n", &error);
    EXPECT_EQ(ECONNREFUSED, error);
}

TEST_F(Loopback, MisbehaviourOverRealSockets)
{
    start("device sn=SLOW00000001 ip=" + deviceAddress(9) + " rebootms=300\n");
    DeviceRecord slow = deviceRecord(1);
    sim.ctl("misbehave 1 delay=250 count=1");
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(COMMAND_DONE, command(slow, MGMT_REBOOT, Bytes{1}).result);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(240));

    sim.ctl("misbehave 1 oversize=1");
    MgmtCommandResult r = command(slow, MGMT_REBOOT, Bytes{1});
    EXPECT_EQ(1, r.outcome);
    sim.ctl("misbehave 1 none");
    sim.ctl("misbehave 1 junk=6");
    EXPECT_EQ(COMMAND_DONE, command(slow, MGMT_REBOOT, Bytes{1}).result);

    // A rebooting device answers nothing until its pause is over.
    Bytes one{1};
    std::vector<DeviceRecord> all = discover();
    DeviceRecord four = all.back();
    ASSERT_EQ(0, memcmp(four.serialNumber, "SLOW00000001", 12));
    EXPECT_EQ(COMMAND_DONE, command(four, MGMT_REBOOT, one).result);
    EXPECT_EQ(1, command(four, MGMT_REBOOT, one).outcome);
    usleep(300000);
    EXPECT_EQ(COMMAND_DONE, command(four, MGMT_REBOOT, one).result);
}

TEST_F(Loopback, ControlChannelRejectsBadCommands)
{
    start();
    sim.ctl("bogus", false);
    sim.ctl("set 9 web=1", false);
    std::string response;
    EXPECT_EQ(0, sendControlCommand(sim.socketPath().c_str(), std::string(5000, 'x'), &response, 2000));
    EXPECT_EQ("ERR line too long\n", response);
    EXPECT_EQ(-1, sendControlCommand("/nonexistent/devsim.sock", "ping", &response, 100));
    sim.ctl("ping");
}
