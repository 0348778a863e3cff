// Line settings of a pair, read from the kernel and put in Windows DCB terms.
// Kept apart: <asm/termbits.h> (for termios2 and arbitrary rates) clashes with <termios.h>.
//
// The pty driver forces CS8 and clears PARENB on every termios change, so a
// pty cannot tell the data bits, and parity shows only through the flags that
// survive: Wine sets INPCK for any parity and PARODD/CMSPAR for its kind.
#include "vspd/daemon/paird.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

struct BaudCode {
    uint32_t code;
    uint32_t rate;
};

static const BaudCode baudCodes[] = {
    {B0, 0},           {B50, 50},           {B75, 75},           {B110, 110},
    {B134, 134},       {B150, 150},         {B200, 200},         {B300, 300},
    {B600, 600},       {B1200, 1200},       {B1800, 1800},       {B2400, 2400},
    {B4800, 4800},     {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200},   {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000},
    {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000},
    {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

void lineSettingsFromTermios(uint32_t cflag, uint32_t iflag, uint32_t speed, PairInfo* out)
{
    uint32_t code = cflag & CBAUD;
    uint32_t rate = speed;
    if (code != BOTHER) {
        for (const BaudCode& b : baudCodes) {
            if (b.code == code) {
                rate = b.rate;
                break;
            }
        }
    }
    out->baudRate = rate;

    switch (cflag & CSIZE) {
    case CS5: out->dataBits = 5; break;
    case CS6: out->dataBits = 6; break;
    case CS7: out->dataBits = 7; break;
    default: out->dataBits = 8; break;
    }

    if (!(cflag & (PARENB | PARODD | CMSPAR)) && !(iflag & INPCK))
        out->parity = 0;
    else if (cflag & CMSPAR)
        out->parity = (cflag & PARODD) ? 3 : 4;
    else
        out->parity = (cflag & PARODD) ? 1 : 2;

    // Two stop bits with five data bits is what a UART sends as one and a half
    // (only where CS5 survives, which a pty does not allow).
    if (!(cflag & CSTOPB))
        out->stopBits = 0;
    else
        out->stopBits = (cflag & CSIZE) == CS5 ? 1 : 2;
}

int readLineSettings(int master, PairInfo* out)
{
    struct termios2 t;
    if (ioctl(master, TCGETS2, &t) != 0)
        return 0;
    lineSettingsFromTermios(t.c_cflag, t.c_iflag, t.c_ospeed, out);
    return 1;
}
