// devsim inside a lab network namespace, reached from the PC namespace by the multicast group.
#include "devsim_test_util.h"

#include "devsim_process.h"
#include "mgmt/device_command.h"
#include "mgmt/discovery_reply.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/time.h>

#include <cstdlib>
#include <thread>

namespace {

bool labAvailable(std::string* why)
{
    if (geteuid() != 0) {
        *why = "needs root";
        return false;
    }
    if (system("ip netns list >/dev/null 2>&1") != 0) {
        *why = "ip netns is not available";
        return false;
    }
    return true;
}

// A socket created inside namespace `ns`, by a thread that enters it, so
// the test process itself stays where it is.
int socketInNamespace(const std::string& ns, int type)
{
    int fd = -1;
    std::thread t([&] {
        int nsFd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0 || unshare(CLONE_FS) != 0 || setns(nsFd, CLONE_NEWNET) != 0) {
            if (nsFd >= 0)
                close(nsFd);
            return;
        }
        close(nsFd);
        fd = socket(AF_INET, type, 0);
    });
    t.join();
    return fd;
}

struct GroupLink {
    int fd = -1;
    std::vector<std::string> senders;

    static int open(void*)
    {
        return 1;  // opened by the test inside the PC namespace
    }
    static void send(void* c, const uint8_t* d, int n)
    {
        sockaddr_in group = {};
        group.sin_family = AF_INET;
        group.sin_addr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
        group.sin_port = htons(MGMT_PORT);
        sendto(((GroupLink*)c)->fd, d, (size_t)n, 0, (sockaddr*)&group, sizeof group);
    }
    static int receive(void* c, uint8_t* buffer, int capacity)
    {
        GroupLink* self = (GroupLink*)c;
        return receiveNotingSender(self->fd, &self->senders, buffer, capacity);
    }
    static void close(void*) {}
};

class Lab : public ::testing::Test {
protected:
    std::string runId = "gt" + std::to_string(getpid());
    std::string script = LAB_NETNS_SCRIPT;
    bool up = false;

    void SetUp() override
    {
        std::string why;
        if (!labAvailable(&why))
            GTEST_SKIP() << why;
        ASSERT_EQ(0, system((script + " up " + runId + " >/dev/null").c_str()));
        up = true;
    }
    void TearDown() override
    {
        if (!up)
            return;
        EXPECT_EQ(0, system((script + " down " + runId).c_str()));
        EXPECT_NE(0, system(("ip netns list | grep -q plab-" + runId + "-").c_str()));
    }
    std::string ns(const char* role)
    {
        return "plab-" + runId + "-" + role;
    }
};

}  // namespace

TEST_F(Lab, DiscoveryAndCommandThroughTheGroup)
{
    DevsimProcess sim;
    ASSERT_TRUE(sim.start("device sn=LAB count=4 ip=10.231.1.1\nport 1 dport=4001 prefix=dev:\n", {"-v"},
                          {"ip", "netns", "exec", ns("dev")}));
    EXPECT_EQ(8, sim.mgmtPort());

    GroupLink link;
    link.fd = socketInNamespace(ns("pc"), SOCK_DGRAM);
    ASSERT_GE(link.fd, 0);
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    ASSERT_EQ(0, bind(link.fd, (sockaddr*)&any, sizeof any));
    ip_mreq m = {};
    m.imr_multiaddr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
    ASSERT_EQ(0, setsockopt(link.fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m));
    timeval tv = {1, 0};
    setsockopt(link.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    uint8_t p[12];
    buildDiscoveryProbe(p, sizeof p);
    GroupLink::send(&link, p, 12);
    Collected c;
    collectDiscoveryReplies(GroupLink::receive, &link, Collected::add, &c);
    ASSERT_EQ(4u, c.records.size());
    for (int i = 0; i < 4; i++) {
        std::string address = "10.231.1." + std::to_string(i + 1);
        EXPECT_EQ(inet_addr(address.c_str()), c.records[i].network.ipAddress);
        EXPECT_EQ(address, link.senders[(size_t)i]);
    }

    // An authenticated command by the group reaches only device 3.
    MgmtTransport t = {&link, GroupLink::open, GroupLink::send, GroupLink::receive, GroupLink::close};
    Bytes zero{0};
    SerialPortConfig table[MAX_DEVICE_PORTS];
    int count = 0;
    MgmtCommand cmd = {MGMT_GET_SERIAL_CONFIG, &c.records[2], zero.data(), 1, RECEIVE_CONFIG, table,
                       MAX_DEVICE_PORTS, &count};
    MgmtCommandResult result;
    EXPECT_EQ(1, runDeviceCommand(&t, &cmd, [](void*) { return 0; }, nullptr, &result));
    EXPECT_EQ(1, count);
    EXPECT_NE(std::string::npos, sim.ctl("log 3").find("code=19"));
    EXPECT_EQ(std::string::npos, sim.ctl("log 2").find("code=19"));

    // The data side answers at the device's address in the lab.
    int tcp = socketInNamespace(ns("pc"), SOCK_STREAM);
    ASSERT_GE(tcp, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr("10.231.1.3");
    to.sin_port = htons(4001);
    ASSERT_EQ(0, connect(tcp, (sockaddr*)&to, sizeof to));
    send(tcp, "lab\n", 4, 0);
    char buffer[32];
    pollfd pf = {tcp, POLLIN, 0};
    ASSERT_EQ(1, poll(&pf, 1, 2000));
    ssize_t n = recv(tcp, buffer, sizeof buffer, 0);
    EXPECT_EQ("dev:lab\n", std::string(buffer, (size_t)(n > 0 ? n : 0)));
    close(tcp);
    close(link.fd);
    sim.stop();
}
