// Typed-text rules of the port dialogs and the local port they offer.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ports/port_input.h"
#include "tests/native/ports/table_fixture.h"

TEST(PortInput, LeadingNumberTakesDigitsUpToTheFirstOther)
{
    EXPECT_EQ(6001, leadingNumber("6001"));
    EXPECT_EQ(60, leadingNumber("60x1"));
    EXPECT_EQ(0, leadingNumber(""));
    EXPECT_EQ(0, leadingNumber("x6001"));
    EXPECT_EQ(0, leadingNumber(" 6001"));
    EXPECT_EQ(0, leadingNumber("-5"));
    // 31 digits (what a port field holds) cannot overflow.
    int big = leadingNumber("9999999999999999999999999999999");
    EXPECT_GE(big, PORT_NUMBER_CAP);
    EXPECT_LT(big, 2000000000);
}

TEST(PortInput, ProtocolWordAndAddressCheck)
{
    EXPECT_STREQ("udp", protocolWordFor("UDP"));
    EXPECT_STREQ("tcpc", protocolWordFor("TCP Client"));
    EXPECT_STREQ("tcpc", protocolWordFor("udp"));
    EXPECT_STREQ("tcpc", protocolWordFor("UDP "));
    EXPECT_STREQ("tcpc", protocolWordFor(""));

    EXPECT_FALSE(hasSpace(""));
    EXPECT_FALSE(hasSpace("192.0.2.7"));
    EXPECT_TRUE(hasSpace("192.0.2.7 "));
    EXPECT_TRUE(hasSpace(" x"));
    EXPECT_FALSE(hasSpace("a\tb")) << "only the space character is refused";
}

namespace {
std::set<int> heldUdp, heldTcp;
int calls;
int udpFree(int port) { calls++; return !heldUdp.count(port); }
int tcpFree(int port) { calls++; return !heldTcp.count(port); }
}  // namespace

struct FreeLocalPort : ::testing::Test {
    TablePtr table = newTable();
    void SetUp() override { heldUdp.clear(); heldTcp.clear(); calls = 0; }
    void present(int index, const char* localPort)
    {
        std::string name = "\\\\.\\NULL_COM" + std::to_string(40 + index);
        writePortEntry(table.get(), index, name.c_str(), "", "", "enable", "tcpc", localPort);
        table->entries[index].present = 1;
    }
};

TEST_F(FreeLocalPort, StartsAt6001WithNothingConfigured)
{
    EXPECT_EQ(6001, findFreeLocalPort(table.get(), udpFree, tcpFree));
    EXPECT_EQ(6001, findFreeLocalPort(nullptr, udpFree, tcpFree));
    // Texts without digits and "0" count as nothing configured.
    present(0, "0");
    present(1, "abc");
    EXPECT_EQ(6001, findFreeLocalPort(table.get(), udpFree, tcpFree));
}

TEST_F(FreeLocalPort, SkipsPortsEitherProtocolHolds)
{
    heldUdp = {6001};
    heldTcp = {6002};
    EXPECT_EQ(6003, findFreeLocalPort(table.get(), udpFree, tcpFree));
}

TEST_F(FreeLocalPort, GoesAboveTheLargestPresentPortNotIntoGaps)
{
    present(0, "6001");
    present(3, "6100");
    present(5, "6050x");
    EXPECT_EQ(6101, findFreeLocalPort(table.get(), udpFree, tcpFree));
    heldTcp = {6101, 6102};
    EXPECT_EQ(6103, findFreeLocalPort(table.get(), udpFree, tcpFree));

    // An entry the host no longer holds does not count.
    writePortEntry(table.get(), 7, "\\\\.\\NULL_COM47", "", "", "enable", "tcpc", "9000");
    EXPECT_EQ(6103, findFreeLocalPort(table.get(), udpFree, tcpFree));
}

TEST_F(FreeLocalPort, NoneLeftBelow65535GivesZero)
{
    present(0, "65534");
    calls = 0;
    EXPECT_EQ(0, findFreeLocalPort(table.get(), udpFree, tcpFree));
    EXPECT_EQ(0, calls) << "65535 itself is never tried";

    present(0, "65530");
    heldUdp = {65531, 65532, 65533, 65534};
    EXPECT_EQ(0, findFreeLocalPort(table.get(), udpFree, tcpFree));

    present(0, "99999999999999999999");
    EXPECT_EQ(0, findFreeLocalPort(table.get(), udpFree, tcpFree));
}

TEST_F(FreeLocalPort, UnterminatedLocalPortFieldIsReadWithinItsWidth)
{
    present(0, "1");
    memset(table->entries[0].localPort, '7', sizeof table->entries[0].localPort);
    // The field runs into protocol ("tcpc"): only the 32 digits count, capped.
    EXPECT_EQ(0, findFreeLocalPort(table.get(), udpFree, tcpFree));
    EXPECT_GE(largestLocalPort(table.get()), PORT_NUMBER_CAP);
}
