// devsim: simulates device servers for the management protocol and their serial ports' network side.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "devsim/sim_client.h"
#include "devsim/sim_config.h"
#include "devsim/sim_net.h"

namespace {

volatile int stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

void usage()
{
    fprintf(stderr,
            "usage: devsim [--config FILE] [--control SOCKET] [--mgmt-bind ADDR] [--mgmt-port PORT]\n"
            "              [--no-multicast] [--mcast-if ADDR] [--allow CIDR]... [--discover-spacing-us N] [-v]\n"
            "       devsim --ctl SOCKET COMMAND [ARG]...\n");
}

int runClient(int argc, char** argv, int first)
{
    if (first + 1 >= argc) {
        usage();
        return 2;
    }
    std::string command;
    for (int i = first + 1; i < argc; i++)
        command += (i > first + 1 ? " " : "") + std::string(argv[i]);
    std::string response;
    int result = sendControlCommand(argv[first], command, &response, 15000);
    if (result < 0) {
        fprintf(stderr, "devsim: no answer from %s\n", argv[first]);
        return 3;
    }
    // Everything but the final status line goes to stdout.
    size_t end = response.rfind('\n', response.size() - 2);
    std::string body = end == std::string::npos ? "" : response.substr(0, end + 1);
    std::string last = response.substr(end == std::string::npos ? 0 : end + 1);
    fwrite(body.data(), 1, body.size(), stdout);
    if (result == 0)
        fprintf(stderr, "%s", last.c_str());
    return result ? 0 : 1;
}

int readFile(const char* path, std::string* text)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return 0;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0 && text->size() <= SIM_MAX_CONFIG_BYTES)
        text->append(buffer, n);
    fclose(f);
    return 1;
}

int parseNumberArg(const char* text, int max, int* value)
{
    char* end;
    long v = strtol(text, &end, 10);
    if (*end || end == text || v < 0 || v > max)
        return 0;
    *value = (int)v;
    return 1;
}

void raiseFileLimit()
{
    // Each serial port of up to 1024 devices holds a listener and connections.
    rlimit r;
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++)
        if (!strcmp(argv[i], "--ctl"))
            return runClient(argc, argv, i + 1);

    SimOptions options;
    defaultSimOptions(&options);
    const char* configPath = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        uint32_t address;
        if (!strcmp(a, "-v")) {
            options.verbose = 1;
        } else if (!strcmp(a, "--no-multicast")) {
            options.multicast = 0;
        } else if (next && !strcmp(a, "--config")) {
            configPath = next, i++;
        } else if (next && !strcmp(a, "--control")) {
            options.controlPath = next, i++;
        } else if (next && !strcmp(a, "--mgmt-bind") && parseAddress(next, &address)) {
            options.mgmtBind = address, i++;
        } else if (next && !strcmp(a, "--mcast-if") && parseAddress(next, &address)) {
            options.multicastInterface = address, i++;
        } else if (next && !strcmp(a, "--mgmt-port") && parseNumberArg(next, 65535, &options.mgmtPort)) {
            i++;
        } else if (next && !strcmp(a, "--discover-spacing-us") &&
                   parseNumberArg(next, 1000000, &options.discoverSpacingUs)) {
            i++;
        } else if (next && !strcmp(a, "--allow") && allowNetwork(&options, next)) {
            i++;
        } else {
            fprintf(stderr, "devsim: bad argument '%s'\n", a);
            usage();
            return 2;
        }
    }

    // The lab's network 10.231.0.0/16 is a destination only where this
    // namespace is part of it; elsewhere a route to it could lead off the machine.
    if (hasLocalAddressIn(0x0AE70000u, 0xFFFF0000u))
        allowNetwork(&options, "10.231.0.0/16");

    std::unique_ptr<SimWorld> world(new SimWorld);
    memset(world.get(), 0, sizeof *world);
    if (configPath) {
        std::string text;
        SimError error;
        if (!readFile(configPath, &text)) {
            fprintf(stderr, "devsim: cannot read %s\n", configPath);
            return 1;
        }
        if (!loadConfigText(world.get(), text.c_str(), &error)) {
            fprintf(stderr, "devsim: %s: %s\n", configPath, error.text);
            return 1;
        }
    }

    raiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::unique_ptr<SimNet> net(new SimNet);
    if (!startSimNet(net.get(), world.get(), &options)) {
        stopSimNet(net.get());
        return 1;
    }
    printf("devsim ready mgmt_port=%d devices=%d\n", net->mgmtPort, world->deviceCount);
    fflush(stdout);
    runSimNet(net.get(), &stopRequested);
    stopSimNet(net.get());
    return 0;
}
