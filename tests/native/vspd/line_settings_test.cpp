// Line settings read from a pty and put in DCB terms, set the ways Wine sets them.
// Uses termios2 (for arbitrary rates), so <termios.h> stays out of this file.
#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "vspd/daemon/paird.h"

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[64];
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name))
            return;
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~Pty()
    {
        close(slave);
        close(master);
    }
    // As an application on the slave does it: arbitrary rate or a B code.
    void set(uint32_t cflag, uint32_t iflag, uint32_t rate, bool other = true)
    {
        struct termios2 t;
        ASSERT_EQ(0, ioctl(slave, TCGETS2, &t));
        t.c_cflag &= ~(uint32_t)(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
        t.c_iflag &= ~(uint32_t)INPCK;
        t.c_cflag |= cflag;
        t.c_iflag |= iflag;
        if (other) {
            t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
            t.c_ospeed = t.c_ispeed = rate;
        }
        ASSERT_EQ(0, ioctl(slave, TCSETS2, &t));
    }
    PairInfo read()
    {
        PairInfo info{};
        EXPECT_EQ(1, readLineSettings(master, &info));
        return info;
    }
};

TEST(LineSettings, RatesReadBackWhetherArbitraryOrCoded)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    for (uint32_t rate : {31250u, 250000u, 1200u, 921600u}) {
        pty.set(CS8, 0, rate);
        EXPECT_EQ(rate, pty.read().baudRate);
    }
    pty.set(CS8 | B57600, 0, 0, false);
    EXPECT_EQ(57600u, pty.read().baudRate);
    pty.set(CS8 | B4000000, 0, 0, false);
    EXPECT_EQ(4000000u, pty.read().baudRate);
}

TEST(LineSettings, ParityFromTheFlagsAPtyKeeps)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    struct Case {
        uint32_t cflag;
        uint32_t iflag;
        int parity;
    };
    // Wine sets INPCK with any parity and clears it for none.
    const Case cases[] = {
        {0, 0, 0},
        {PARENB | PARODD, INPCK, 1},
        {PARENB, INPCK, 2},
        {PARENB | PARODD | CMSPAR, INPCK, 3},
        {PARENB | CMSPAR, INPCK, 4},
    };
    for (const Case& c : cases) {
        pty.set(CS7 | c.cflag, c.iflag, 9600);
        PairInfo info = pty.read();
        EXPECT_EQ(c.parity, info.parity) << "cflag " << std::hex << c.cflag;
        // The pty driver forces CS8.
        EXPECT_EQ(8, info.dataBits);
    }
}

TEST(LineSettings, StopBitsInDcbTerms)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    pty.set(CS8 | CSTOPB, 0, 9600);
    EXPECT_EQ(2, pty.read().stopBits);
    pty.set(CS8, 0, 9600);
    EXPECT_EQ(0, pty.read().stopBits);

    // Where a driver keeps CS5, two stop bits mean one and a half.
    PairInfo info{};
    lineSettingsFromTermios(CS5 | CSTOPB | B9600, 0, 0, &info);
    EXPECT_EQ(5, info.dataBits);
    EXPECT_EQ(1, info.stopBits);
    lineSettingsFromTermios(CS6 | CSTOPB | B9600, 0, 0, &info);
    EXPECT_EQ(6, info.dataBits);
    EXPECT_EQ(2, info.stopBits);
}

}  // namespace
