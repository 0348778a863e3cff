// One side of a pair: a pty master in raw mode whose slave is the port a program opens.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

static void resetSide(PtySide* side)
{
    memset(side, 0, sizeof *side);
    side->master = -1;
    side->watch = -1;
}

int openPtySide(PtySide* side, int inotifyFd)
{
    resetSide(side);
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        logMessage("posix_openpt: %s", strerror(errno));
        return 0;
    }
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, side->pts, sizeof side->pts) != 0) {
        logMessage("pty set-up: %s", strerror(errno));
        close(master);
        return 0;
    }
    // Termios calls on a master act on its slave: make the port a raw 9600 8N1
    // line without echo, as a freshly opened serial port would be.
    termios t;
    if (tcgetattr(master, &t) != 0) {
        logMessage("tcgetattr %s: %s", side->pts, strerror(errno));
        close(master);
        return 0;
    }
    cfmakeraw(&t);
    t.c_iflag &= ~(tcflag_t)INPCK;   // read back as "parity on"
    t.c_cflag &= ~(tcflag_t)(HUPCL | CRTSCTS | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(master, TCSANOW, &t) != 0) {
        logMessage("tcsetattr %s: %s", side->pts, strerror(errno));
        close(master);
        return 0;
    }
    // A master reports POLLHUP only once its slave has been opened and closed
    // again; do that once so that "no POLLHUP" means "somebody has it open".
    int slave = open(side->pts, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        logMessage("open %s: %s", side->pts, strerror(errno));
        close(master);
        return 0;
    }
    close(slave);
    side->master = master;
    // Opens of the slave wake us through inotify; closes show as POLLHUP.
    side->watch = inotify_add_watch(inotifyFd, side->pts, IN_OPEN);
    if (side->watch < 0)
        logMessage("inotify on %s: %s; checking it by timer", side->pts, strerror(errno));
    return 1;
}

void closePtySide(PtySide* side, int inotifyFd)
{
    if (side->watch >= 0)
        inotify_rm_watch(inotifyFd, side->watch);
    if (side->master >= 0)
        close(side->master);
    resetSide(side);
}

int slaveIsOpen(const PtySide* side)
{
    pollfd p;
    p.fd = side->master;
    p.events = POLLIN;
    p.revents = 0;
    if (poll(&p, 1, 0) < 0)
        return 0;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

// Bytes that reached a slave's input while it was open but were never read
// would greet the next program that opens it; a serial port starts empty.
void flushSlaveInput(const PtySide* side)
{
    int slave = open(side->pts, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return;
    tcflush(slave, TCIFLUSH);
    close(slave);
}
