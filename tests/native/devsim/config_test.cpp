// Config text of the simulator: device and port lines, generated devices, errors, printed form.
#include "devsim_test_util.h"

#include <arpa/inet.h>

#include "mgmt/line_settings.h"

TEST(SimConfig, DevicesAndPorts)
{
    auto w = worldFrom(
        "# comment\n"
        "\n"
        "device sn=SN0123456789 model=Model\\sX fw=3.1.7 ip=10.231.1.9 mask=255.255.255.0 gw=10.231.0.254 "
        "dns1=10.231.0.53 addrmode=dhcp web=8080 ports=2 auth=refuse refuse=7 rebootms=250\n"
        "port 1 baud=9600 parity=odd data=7 stop=2 mode=udp dport=5001 peer=10.231.0.1 pport=6001 if=rs485 "
        "ifs=rs232,ttl prefix=>\\s\n"
        "port all top=5\n");
    ASSERT_EQ(1, w->deviceCount);
    const SimDevice& d = w->devices[0];
    EXPECT_EQ(0, memcmp(d.record.serialNumber, "SN0123456789", 12));
    EXPECT_STREQ("Model X", d.record.model);
    EXPECT_EQ(7, d.record.firmwareVersion[2]);
    EXPECT_EQ(inet_addr("10.231.1.9"), d.record.network.ipAddress);
    EXPECT_EQ(inet_addr("255.255.255.0"), d.record.network.netmask);
    EXPECT_EQ(inet_addr("10.231.0.254"), d.record.network.gateway);
    EXPECT_EQ(inet_addr("10.231.0.53"), d.record.network.primaryDns);
    EXPECT_EQ(ADDRESS_DHCP, d.record.network.addressMode);
    EXPECT_EQ(8080, d.record.webPort);
    EXPECT_EQ(2, d.portCount);
    EXPECT_EQ(AUTH_REFUSE, d.auth);
    EXPECT_EQ(7u, d.refuseStatus);
    EXPECT_EQ(250, d.rebootMs);

    const SerialPortConfig& p = d.ports[0].config;
    EXPECT_EQ(9600u, lineBaudRate(p.lineSettings));
    EXPECT_EQ((uint32_t)DEVICE_PARITY_ODD, lineParity(p.lineSettings));
    EXPECT_EQ((uint32_t)DEVICE_DATA_BITS_7, lineDataBits(p.lineSettings));
    EXPECT_EQ((uint32_t)DEVICE_STOP_BITS_2, lineStopBits(p.lineSettings));
    EXPECT_EQ(5u, p.lineSettings >> 29);
    EXPECT_EQ(WORK_MODE_UDP, p.workMode);
    EXPECT_EQ(5001, p.devicePort);
    EXPECT_EQ(6001, p.peerPort);
    EXPECT_STREQ("10.231.0.1", p.peerAddress);
    EXPECT_EQ(INTERFACE_RS485, p.interface);
    EXPECT_EQ(INTERFACE_RS232 | INTERFACE_TTL, p.supportedInterfaces);
    EXPECT_STREQ("> ", d.ports[0].echoPrefix);
    // Defaults of the second port: 115200 8N1, TCP on 4002.
    EXPECT_EQ(0xA581C200u, d.ports[1].config.lineSettings);
    EXPECT_EQ(WORK_MODE_TCP, d.ports[1].config.workMode);
    EXPECT_EQ(4002, d.ports[1].config.devicePort);
}

TEST(SimConfig, CountGeneratesSerialsAndAddresses)
{
    auto w = worldFrom("device sn=LAB count=300 ip=10.231.1.250\nport 1 dport=4100\n");
    ASSERT_EQ(300, w->deviceCount);
    EXPECT_EQ(0, memcmp(w->devices[0].record.serialNumber, "LAB000000001", 12));
    EXPECT_EQ(0, memcmp(w->devices[299].record.serialNumber, "LAB000000300", 12));
    EXPECT_EQ(inet_addr("10.231.1.250"), w->devices[0].record.network.ipAddress);
    EXPECT_EQ(inet_addr("10.231.2.0"), w->devices[6].record.network.ipAddress);
    EXPECT_EQ(inet_addr("10.231.3.37"), w->devices[299].record.network.ipAddress);
    EXPECT_EQ(4100, w->devices[299].ports[0].config.devicePort);
}

TEST(SimConfig, ErrorsNameTheLineAndChangeNothing)
{
    std::unique_ptr<SimWorld> w(new SimWorld);
    memset(w.get(), 0, sizeof *w);
    SimError e;
    struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"device sn=A\ndevice sn=0123456789ABC\n", "line 2: sn: at most 12 bytes"},
        {"device ip=10.231.1.300\n", "line 1: ip: not an IPv4 address"},
        {"device ports=33\n", "line 1: ports: 1-32"},
        {"device count=1025\n", "line 1: count: 1-1024"},
        {"device sn=ABCDEFGHIJ count=100\n", "line 1: sn: prefix leaves no room for 100 numbered devices"},
        {"port 1 baud=9600\n", "line 1: port line before any device line"},
        {"device\nport 33 baud=1\n", "line 2: port: number 1-32 or 'all'"},
        {"device\nport 1 baud=1048576\n", "line 2: baud: 0-1048575"},
        {"device\nport 1 stop=3\n", "line 2: stop: 0.5, 1, 1.5 or 2"},
        {"device colour=red\n", "line 1: unknown device key 'colour'"},
        {"device model\n", "line 1: expected key=value, got 'model'"},
        {"device user=0123456789abcdef\n", "line 1: user: at most 15 bytes"},
        {"device prefix=\\q\n", "line 1: prefix: bad escape or too long"},
        {"devices\n", "line 1: unknown line 'devices'"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(0, loadConfigText(w.get(), c.text, &e)) << c.text;
        EXPECT_STREQ(c.message, e.text) << c.text;
        EXPECT_EQ(0, w->deviceCount);
    }
    std::string many;
    for (int i = 0; i < 3; i++)
        many += "device count=400\n";
    EXPECT_EQ(0, loadConfigText(w.get(), many.c_str(), &e));
    EXPECT_STREQ("line 3: at most 1024 devices", e.text);
    EXPECT_EQ(0, w->deviceCount);
    std::string longLine = "device model=" + std::string(5000, 'x') + "\n";
    EXPECT_EQ(0, loadConfigText(w.get(), longLine.c_str(), &e));
}

TEST(SimConfig, PrintedFormLoadsBack)
{
    auto w = worldFrom(
        "device sn=A\\sB\\x01 model=M fw=1.2.3 ip=10.231.1.5 ports=2 auth=check user=u\\\\1 pass=p\\sw\n"
        "port 2 mode=udp peer=10.231.0.1 pport=7 prefix=x\\ny ifs=3 line=0xffffffff\n");
    char text[8192];
    formatDevice(&w->devices[0], text, sizeof text);
    auto again = worldFrom(text);
    ASSERT_EQ(1, again->deviceCount);
    const SimDevice& a = w->devices[0];
    const SimDevice& b = again->devices[0];
    EXPECT_EQ(0, memcmp(&a.record, &b.record, sizeof a.record));
    EXPECT_EQ(0, memcmp(a.ports, b.ports, 2 * sizeof(SimPort)));
    EXPECT_STREQ(a.userName, b.userName);
    EXPECT_STREQ(a.password, b.password);
    EXPECT_STREQ("u\\1", b.userName);
}

TEST(SimConfig, EscapesSurviveTokenising)
{
    uint8_t bytes[] = {'a', ' ', '\\', 0x00, 0xFF, '\n'};
    char text[64];
    escapeValue(bytes, sizeof bytes, text, sizeof text);
    EXPECT_STREQ("a\\s\\\\\\x00\\xff\\x0a", text);
    uint8_t back[16];
    ASSERT_EQ(6, unescapeValue(text, back, sizeof back));
    EXPECT_EQ(0, memcmp(bytes, back, sizeof bytes));
    EXPECT_EQ(-1, unescapeValue("\\x4", back, sizeof back));
    EXPECT_EQ(-1, unescapeValue("abc", back, 2));

    char line[] = "  one\ttwo   three ";
    char* t[2];
    EXPECT_EQ(-1, splitTokens(line, t, 2));
}
