// Time-stamped log lines on stderr (the log file when the daemon runs detached).
#include "vspd/daemon/paird.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

int64_t monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void logMessage(const char* format, ...)
{
    char stamp[32];
    time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "%s parlo-paird: %s\n", stamp, text);
    fflush(stderr);
}
