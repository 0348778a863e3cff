// Open State and counter cells of the port list.
#include "app/cell_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string openState(unsigned open, uint32_t baud, unsigned bits, unsigned parity, unsigned stop)
{
    char out[64];
    int n = openStateText(out, sizeof out, open, baud, bits, parity, stop);
    EXPECT_EQ((int)strlen(out), n);
    return out;
}

TEST(OpenState, LineSettingsWhileOpen)
{
    EXPECT_EQ("9600,8N1", openState(1, 9600, 8, 0, 0));
    EXPECT_EQ("115200,7E1.5", openState(1, 115200, 7, 2, 1));
    EXPECT_EQ("19200,8O2", openState(0xFF, 19200, 8, 1, 2));
    // Mark and space parity, and unknown stop bits, show blanks.
    EXPECT_EQ("9600,8 1", openState(1, 9600, 8, 3, 0));
    EXPECT_EQ("9600,8  ", openState(1, 9600, 8, 4, 3));
    // Only the low byte of a code counts.
    EXPECT_EQ("E", std::string(parityLetter(0x102)));
    EXPECT_EQ("2", std::string(stopBitsText(0x302)));
}

TEST(OpenState, ClosedPortShowsOneSpace)
{
    EXPECT_EQ(" ", openState(0, 9600, 8, 0, 0));
}

TEST(OpenState, ReadsTheEntrysFields)
{
    std::unique_ptr<PortEntry> e(new PortEntry());
    e->comOpen = 1;
    e->comBaudRate = 57600;
    e->comDataBits = 8;
    e->comParity = 2;
    e->comStopBits = 2;
    char out[64];
    openStateText(e.get(), out, sizeof out);
    EXPECT_STREQ("57600,8E2", out);
}

TEST(OpenState, NeverOverrunsTheBuffer)
{
    char out[8];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(4, openStateText(out, 5, 1, 115200, 7, 2, 1));
    EXPECT_STREQ("1152", out);
    EXPECT_EQ('Z', out[5]);
}

TEST(Counters, FullSixtyFourBitDecimal)
{
    char out[32];
    counterText(4294967296LL + 5, out, sizeof out);
    EXPECT_STREQ("4294967301", out);
    counterText(INT64_MAX, out, sizeof out);
    EXPECT_STREQ("9223372036854775807", out);
    counterText(0, out, sizeof out);
    EXPECT_STREQ("0", out);
}

}  // namespace
