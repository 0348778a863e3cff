// QUERYALL: every pair's state in one request, and the client's reading of it.
#include <gtest/gtest.h>

#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "paird_harness.h"
#include "vspd/pair_client.h"

TEST(PairQueryAllReply, ParsedIntoTheSlotOfEachComNumber)
{
    std::vector<PairInfo> info(10);
    ASSERT_EQ(1, pairParseQueryAllReply("OK COM5=1,115200,8,2,0,1 COM9=0,9600,8,0,2,0", info.data(), 10));
    EXPECT_EQ(0, info[4].exists);
    EXPECT_EQ(1, info[5].exists);
    EXPECT_EQ(1, info[5].open);
    EXPECT_EQ(115200u, info[5].baudRate);
    EXPECT_EQ(8, info[5].dataBits);
    EXPECT_EQ(2, info[5].parity);
    EXPECT_EQ(0, info[5].stopBits);
    EXPECT_EQ(1, info[9].exists);
    EXPECT_EQ(0, info[9].open);
    EXPECT_EQ(2, info[9].stopBits);

    ASSERT_EQ(1, pairParseQueryAllReply("OK", info.data(), 10));
    EXPECT_EQ(0, info[5].exists) << "no pairs: every slot cleared";

    // A pair beyond the caller's table is skipped; later values are skipped too.
    ASSERT_EQ(1, pairParseQueryAllReply("OK COM200=1,9600,8,0,0,1 COM3=0,300,7,1,1,0,42,7", info.data(), 10));
    EXPECT_EQ(1, info[3].exists);
    EXPECT_EQ(7, info[3].dataBits);
}

TEST(PairQueryAllReply, AnythingMalformedIsRefusedWhole)
{
    std::vector<PairInfo> info(10);
    const char* bad[] = {
        "ERR busy", "OKCOM5=1,9600,8,0,0,1", "OK COM5", "OK COM5=", "OK COM5=1,9600,8,0,0",
        "OK COM5=2,9600,8,0,0,1",    // open is 0 or 1
        "OK COM5=1,9600,9,0,0,1",    // data 5..8
        "OK COM5=1,9600,8,5,0,1",    // parity 0..4
        "OK COM5=1,9600,8,0,3,1",    // stop 0..2
        "OK COM5=1,9600,8,0,0,2",    // nullopen 0 or 1
        "OK COM5=1,99999999999,8,0,0,1", "OK COM05=1,9600,8,0,0,1", "OK COM0=1,9600,8,0,0,1",
        "OK COM5=1,9600,8,0,0,1x", "OK COM5=1,-9600,8,0,0,1", "OK NULL_COM5=1,9600,8,0,0,1",
    };
    for (const char* line : bad) {
        info[5].exists = 1;
        EXPECT_EQ(0, pairParseQueryAllReply(line, info.data(), 10)) << line;
        EXPECT_EQ(0, info[5].exists) << line;
    }
    EXPECT_EQ(0, pairParseQueryAllReply(nullptr, info.data(), 10));
    EXPECT_EQ(0, pairParseQueryAllReply("OK", info.data(), 0));
}

TEST(PairQueryAll, FollowsEveryPairInOneRequest)
{
    TempPrefix prefix;
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.start(prefix, freeLoopbackPort())) << daemon.log();

    std::vector<PairInfo> info(PAIR_MAX_COM + 1);
    ASSERT_EQ(1, pairQueryAll(info.data(), (int)info.size()));
    EXPECT_EQ("OK", rawRequest(daemon.port, "QUERYALL\n"));

    for (int com = 1; com <= 128; com++) {
        std::string n = std::to_string(com);
        ASSERT_EQ(1, pairCreate(("COM" + n).c_str(), ("NULL_COM" + n).c_str())) << daemon.log();
    }
    int app = openSide(prefix, "com64");
    int host = openSide(prefix, "null_com7");
    ASSERT_GE(app, 0);
    ASSERT_GE(host, 0);
    termios t;
    ASSERT_EQ(0, tcgetattr(app, &t));
    cfsetispeed(&t, B57600);
    cfsetospeed(&t, B57600);
    t.c_cflag |= PARENB | CSTOPB;
    ASSERT_EQ(0, tcsetattr(app, TCSANOW, &t));

    ASSERT_EQ(1, pairQueryAll(info.data(), (int)info.size()));
    for (int com = 1; com <= 128; com++)
        EXPECT_EQ(1, info[com].exists) << com;
    EXPECT_EQ(0, info[129].exists);
    EXPECT_EQ(1, info[64].open);
    EXPECT_EQ(57600u, info[64].baudRate);
    EXPECT_EQ(2, info[64].stopBits);
    EXPECT_EQ(0, info[7].open) << "the host's side is not the application's";
    EXPECT_EQ(9600u, info[7].baudRate);

    // The same numbers as a QUERY of each pair, and all of it on one line.
    PairInfo one{};
    ASSERT_EQ(1, pairQuery("COM64", &one));
    EXPECT_EQ(one.baudRate, info[64].baudRate);
    EXPECT_EQ(one.parity, info[64].parity);
    std::string line = rawRequest(daemon.port, "queryall\n");
    EXPECT_NE(std::string::npos, line.find(" COM7=0,9600,8,0,0,1 ")) << line;
    EXPECT_NE(std::string::npos, line.find(" COM128=0,9600,8,0,0,0")) << line;
    EXPECT_EQ("ERR bad request", rawRequest(daemon.port, "QUERYALL COM5\n"));

    close(app);
    close(host);
    ASSERT_EQ(1, pairDelete("COM64"));
    ASSERT_EQ(1, pairQueryAll(info.data(), (int)info.size()));
    EXPECT_EQ(0, info[64].exists);
    EXPECT_EQ(1, info[65].exists);
}

TEST(PairQueryAll, NoDaemonIsMinusOne)
{
    setenv("PARLO_PAIRD_PORT", std::to_string(freeLoopbackPort()).c_str(), 1);
    std::vector<PairInfo> info(10);
    info[5].exists = 1;
    EXPECT_EQ(-1, pairQueryAll(info.data(), 10));
    EXPECT_EQ(0, info[5].exists);
}
