// parlo-paird: backs each virtual serial pair with two Linux ptys mapped into a Wine prefix.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

static Daemon daemonState;

static void usage()
{
    fprintf(stderr,
            "usage: parlo-paird --prefix WINEPREFIX [--port N] [--state FILE] [--log FILE]\n"
            "                   [--pidfile FILE] [--foreground]\n"
            "  --prefix      the Wine prefix whose dosdevices get the com/null_com links\n"
            "  --port        loopback control port (default %d)\n"
            "  --state       record of the pairs made, cleaned up by the next run\n"
            "  --log         append messages here (default: stderr)\n"
            "  --pidfile     write the daemon's process id here while it runs\n"
            "  --foreground  do not detach\n",
            PAIRD_DEFAULT_PORT);
}

// Relative paths are made absolute: a detached daemon runs in "/".
static int absolutePath(char* out, int size, const char* path)
{
    if (path[0] == '/')
        return snprintf(out, (size_t)size, "%s", path) < size;
    char cwd[PAIRD_PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return 0;
    return snprintf(out, (size_t)size, "%s/%s", cwd, path) < size;
}

static int parseArguments(int argc, char** argv, PairdConfig* config)
{
    config->port = PAIRD_DEFAULT_PORT;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(arg, "--foreground") == 0) {
            config->foreground = 1;
            continue;
        }
        if (!value)
            return 0;
        i++;
        if (strcmp(arg, "--prefix") == 0) {
            if (!realpath(value, config->prefix)) {
                fprintf(stderr, "parlo-paird: prefix %s: %s\n", value, strerror(errno));
                return 0;
            }
        } else if (strcmp(arg, "--port") == 0) {
            char* end = nullptr;
            long port = strtol(value, &end, 10);
            if (!*value || *end || port < 1 || port > 65535)
                return 0;
            config->port = (int)port;
        } else if (strcmp(arg, "--state") == 0) {
            if (!absolutePath(config->statePath, sizeof config->statePath, value))
                return 0;
        } else if (strcmp(arg, "--log") == 0) {
            if (!absolutePath(config->logPath, sizeof config->logPath, value))
                return 0;
        } else if (strcmp(arg, "--pidfile") == 0) {
            if (!absolutePath(config->pidPath, sizeof config->pidPath, value))
                return 0;
        } else {
            return 0;
        }
    }
    if (!config->prefix[0])
        return 0;
    return snprintf(config->dosdir, sizeof config->dosdir, "%s/dosdevices", config->prefix) <
           (int)sizeof config->dosdir;
}

// One daemon per prefix: a second one would take the first one's links for stale.
static int lockPrefix(Daemon* d)
{
    char path[PAIRD_PATH_MAX + 32];
    snprintf(path, sizeof path, "%s/.parlo-paird.lock", d->config.prefix);
    d->lockFd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (d->lockFd < 0) {
        logMessage("%s: %s", path, strerror(errno));
        return 0;
    }
    if (flock(d->lockFd, LOCK_EX | LOCK_NB) != 0) {
        logMessage("another pair daemon serves %s", d->config.prefix);
        return 0;
    }
    return 1;
}

// 128 pairs need over 256 descriptors.
static void raiseDescriptorLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    rlim_t wanted = 4096;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        wanted = limit.rlim_max;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

static int openLog(const char* path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "parlo-paird: log %s: %s\n", path, strerror(errno));
        return 0;
    }
    dup2(fd, STDERR_FILENO);
    close(fd);
    return 1;
}

// Everything that could fail early is done before this, so the caller's shell
// sees it. The parent returns once the child is serving (or has failed), so a
// script may talk to the daemon, and read its pid file, as soon as it returns.
// Returns the descriptor on which the child reports that it is ready.
static int detach(const char* logPath)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        logMessage("pipe: %s", strerror(errno));
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        logMessage("fork: %s", strerror(errno));
        return -1;
    }
    if (pid > 0) {
        close(ready[1]);
        char byte = 0;
        ssize_t n;
        do
            n = read(ready[0], &byte, 1);
        while (n < 0 && errno == EINTR);
        _exit(n == 1 ? 0 : 1);
    }
    close(ready[0]);
    setsid();
    if (chdir("/") != 0)
        return -1;
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        if (!logPath[0])
            dup2(null, STDERR_FILENO);
        close(null);
    }
    return ready[1];
}

static void writePidFile(const char* path)
{
    FILE* f = fopen(path, "we");
    if (!f) {
        logMessage("pid file %s: %s", path, strerror(errno));
        return;
    }
    fprintf(f, "%d\n", (int)getpid());
    fclose(f);
}

int main(int argc, char** argv)
{
    Daemon* d = &daemonState;
    if (!parseArguments(argc, argv, &d->config)) {
        usage();
        return 2;
    }
    if (d->config.logPath[0] && !openLog(d->config.logPath))
        return 1;
    if (mkdir(d->config.dosdir, 0755) != 0 && errno != EEXIST) {
        logMessage("%s: %s", d->config.dosdir, strerror(errno));
        return 1;
    }
    raiseDescriptorLimit();
    signal(SIGPIPE, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);

    if (!lockPrefix(d))
        return 1;
    d->listenFd = openListener(d->config.port);
    if (d->listenFd < 0)
        return 1;
    int recorded = cleanFromStateFile(d->config.statePath, d->config.dosdir);
    int stale = removeStalePtyLinks(d->config.dosdir);
    if (recorded || stale)
        logMessage("cleaned up after an earlier run: %d recorded pairs, %d stale links", recorded, stale);

    int readyFd = -1;
    if (!d->config.foreground) {
        readyFd = detach(d->config.logPath);
        if (readyFd < 0)
            return 1;
    }
    if (!initDaemon(d))
        return 1;
    writeStateFile(d);
    if (d->config.pidPath[0])
        writePidFile(d->config.pidPath);
    if (readyFd >= 0) {
        char byte = 1;
        if (write(readyFd, &byte, 1) != 1)
            logMessage("ready pipe: %s", strerror(errno));
        close(readyFd);
    }
    logMessage("serving %s on 127.0.0.1:%d", d->config.prefix, d->config.port);
    int result = runDaemon(d);
    if (d->config.pidPath[0])
        unlink(d->config.pidPath);
    logMessage("stopped");
    return result;
}
