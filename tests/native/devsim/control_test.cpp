// Control commands: what they answer and which changes they hand to the network side.
#include "devsim_test_util.h"

#include <arpa/inet.h>

#include "devsim/sim_control.h"
#include "devsim/sim_echo.h"

namespace {

class Control : public ::testing::Test {
protected:
    std::unique_ptr<SimWorld> w = worldFrom("device sn=A count=3 ip=127.0.0.10 ports=2\n");
    std::unique_ptr<ControlOutput> out{new ControlOutput};
    std::unique_ptr<ControlEffects> fx{new ControlEffects};

    // Runs a command; returns the response text.
    std::string run(const std::string& line, int expectOk = 1)
    {
        resetControlEffects(fx.get());
        ControlView view = {1234, describe, nullptr, 5000};
        EXPECT_EQ(expectOk, runControlCommand(w.get(), &view, line.c_str(), out.get(), fx.get())) << out->text;
        return std::string(out->text, (size_t)out->length);
    }
    static void describe(void*, int device, int port, char* o, int size)
    {
        snprintf(o, (size_t)size, "state=d%dp%d", device, port);
    }
};

}  // namespace

TEST_F(Control, ListShowInfo)
{
    EXPECT_EQ("mgmt_port=1234 devices=3\nOK\n", run("info"));
    std::string list = run("list");
    EXPECT_NE(std::string::npos, list.find("1 sn=A00000000001 ip=127.0.0.10 ports=2 auth=check data=up"));
    EXPECT_NE(std::string::npos, list.find("3 sn=A00000000003 ip=127.0.0.12 "));
    std::string show = run("show 2");
    EXPECT_EQ(0u, show.find("device sn=A00000000002 "));
    EXPECT_NE(std::string::npos, show.find("\nport 2 line=0x0581c200 mode=2 dport=4002 "));
    EXPECT_EQ("1 1 state=d0p0\n1 2 state=d0p1\nOK\n", run("data 1"));
}

TEST_F(Control, ErrorsAreReportedNotApplied)
{
    EXPECT_EQ("ERR no device '4' (1-3 or all)\n", run("show 4", 0));
    EXPECT_EQ("ERR no device 'x' (1-3 or all)\n", run("set x web=1", 0));
    EXPECT_EQ("ERR unknown command 'frobnicate'\n", run("frobnicate", 0));
    EXPECT_EQ("ERR empty command\n", run("   ", 0));
    EXPECT_EQ("ERR web: 0-65535\n", run("set 1 web=65536", 0));
    // A half-valid set leaves the device as it was.
    run("set 1 web=99 ports=40", 0);
    EXPECT_EQ(80, w->devices[0].record.webPort);
    EXPECT_EQ(0, fx->refresh[0]);
}

TEST_F(Control, AddSetAndPortRefreshTheDataSide)
{
    EXPECT_EQ("added 4 5\nOK\n", run("add sn=NEW count=2 ip=127.0.0.20"));
    EXPECT_EQ(1, fx->refresh[3]);
    EXPECT_EQ(1, fx->refresh[4]);
    EXPECT_EQ(5, w->deviceCount);

    run("set 2 ip=127.0.0.99 model=Changed");
    EXPECT_EQ(inet_addr("127.0.0.99"), w->devices[1].record.network.ipAddress);
    EXPECT_STREQ("Changed", w->devices[1].record.model);
    EXPECT_EQ(1, fx->refresh[1]);
    EXPECT_EQ(0, fx->refresh[0]);

    run("port 3 2 mode=udp dport=7000");
    EXPECT_EQ(WORK_MODE_UDP, w->devices[2].ports[1].config.workMode);
    EXPECT_EQ(7000, w->devices[2].ports[1].config.devicePort);
    EXPECT_EQ(1, fx->refresh[2]);
}

TEST_F(Control, PolicyAndMisbehaviour)
{
    run("policy 1 check admin s3cret");
    EXPECT_EQ(AUTH_CHECK, w->devices[0].auth);
    EXPECT_STREQ("admin", w->devices[0].userName);
    run("policy 2 refuse 9");
    EXPECT_EQ(AUTH_REFUSE, w->devices[1].auth);
    EXPECT_EQ(9u, w->devices[1].refuseStatus);
    run("policy all any");
    EXPECT_EQ(AUTH_ANY, w->devices[2].auth);
    run("policy 1 default");
    EXPECT_STREQ("tolmo", w->devices[0].userName);
    run("policy 1 check onlyuser", 0);

    run("misbehave 2 crc=bad dup=3 other=ZZZZZZZZZZZZ");
    const Misbehaviour& m = w->devices[1].misbehaviour;
    EXPECT_EQ(1, m.active);
    EXPECT_EQ(1, m.badCrc);
    EXPECT_EQ(3, m.duplicates);
    EXPECT_EQ(0, memcmp(m.otherSerial, "ZZZZZZZZZZZZ", 12));
    EXPECT_EQ(-1, m.remaining);
    run("misbehave 2 dup=99", 0);
    EXPECT_EQ(3, m.duplicates);
    run("misbehave 2 none");
    EXPECT_EQ(0, m.active);
    run("misbehave 3 foreign=1");
    EXPECT_EQ(0, memcmp(w->devices[2].misbehaviour.otherSerial, "A0000000000X", 12));
}

TEST_F(Control, LogDataSideRebootInjectQuit)
{
    Bytes p = probe();
    deviceHears(&w->devices[0], p, 777);
    std::string log = run("log 1");
    EXPECT_EQ(0u, log.find("1 seq=1 time=777 from=127.0.0.1:5000 code=128 len=4 crc=ok sn=- digest=- "
                           "payload=aabbccdd reply=130\n"));
    run("log all clear");
    EXPECT_EQ("OK\n", run("log 1"));

    run("down 2");
    EXPECT_EQ(1, w->devices[1].dataDown);
    EXPECT_EQ(1, fx->refresh[1]);
    run("up all");
    EXPECT_EQ(0, w->devices[1].dataDown);

    run("reboot 3");
    EXPECT_EQ(1, fx->reboot[2]);

    run("inject 1 2 hello\\sworld\\n");
    EXPECT_EQ(0, fx->injectDevice);
    EXPECT_EQ(1, fx->injectPort);
    EXPECT_EQ("hello world\n", std::string((char*)fx->injectData, (size_t)fx->injectLength));
    run("inject 1 3 x", 0);
    run("inject all 1 x", 0);

    run("quit");
    EXPECT_EQ(1, fx->quit);
}

TEST_F(Control, OutputIsBounded)
{
    std::unique_ptr<SimWorld> big = worldFrom("device count=1024 ip=127.0.1.1 ports=32\n");
    w.swap(big);
    std::string text = run("show all", 0);
    EXPECT_LE(text.size(), (size_t)SIM_CONTROL_OUTPUT);
    EXPECT_EQ(text.size() - strlen("ERR output truncated\n"), text.rfind("ERR output truncated\n"));
}

TEST(Echo, PrefixBeforeEveryLine)
{
    const char* in = "ab\ncd\n\nef";
    uint8_t out[64];
    int atLineStart = 1, consumed = 0;
    int n = echoTransform((const uint8_t*)in, 9, "> ", &atLineStart, out, sizeof out, &consumed);
    EXPECT_EQ("> ab\n> cd\n> \n> ef", std::string((char*)out, (size_t)n));
    EXPECT_EQ(9, consumed);
    EXPECT_EQ(0, atLineStart);
    // The line goes on in the next chunk: no prefix mid-line.
    n = echoTransform((const uint8_t*)"g\n", 2, "> ", &atLineStart, out, sizeof out, &consumed);
    EXPECT_EQ("g\n", std::string((char*)out, (size_t)n));
    EXPECT_EQ(1, atLineStart);
}

TEST(Echo, StopsAtTheBufferEnd)
{
    uint8_t out[5];
    int atLineStart = 1, consumed = 0;
    int n = echoTransform((const uint8_t*)"\n\n\n", 3, "ab", &atLineStart, out, sizeof out, &consumed);
    EXPECT_EQ("ab\n", std::string((char*)out, (size_t)n));
    EXPECT_EQ(1, consumed);
    n = echoTransform((const uint8_t*)"xyz", 3, "", &atLineStart, out, 2, &consumed);
    EXPECT_EQ(2, n);
    EXPECT_EQ(2, consumed);
}
