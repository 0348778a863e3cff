// Record of the pairs this daemon made, so that a later run can remove their links.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

enum { STATE_LINE_MAX = 256, STATE_LINES_MAX = 4096 };

void writeStateFile(const Daemon* d)
{
    const char* path = d->config.statePath;
    if (!path[0])
        return;
    char temp[PAIRD_PATH_MAX + 8];
    snprintf(temp, sizeof temp, "%s.tmp", path);
    FILE* f = fopen(temp, "we");
    if (!f) {
        logMessage("state file %s: %s", temp, strerror(errno));
        return;
    }
    fprintf(f, "# parlo-paird pairs: COM name, application pty, host pty\n");
    for (int com = 1; com <= PAIR_MAX_COM; com++) {
        const Pair* p = &d->pairs[com];
        if (p->used)
            fprintf(f, "COM%d %s %s\n", com, p->side[SIDE_APP].pts, p->side[SIDE_NULL].pts);
    }
    int failed = ferror(f);
    if (fclose(f) != 0 || failed || rename(temp, path) != 0) {
        logMessage("state file %s not written", path);
        unlink(temp);
    }
}

static int isPtsPath(const char* text)
{
    return strncmp(text, "/dev/pts/", 9) == 0;
}

// Removes the links recorded by an earlier run, where they still point at the
// ptys that run had. Returns how many lines named a pair.
int cleanFromStateFile(const char* statePath, const char* dosdir)
{
    if (!statePath[0])
        return 0;
    FILE* f = fopen(statePath, "re");
    if (!f) {
        if (errno != ENOENT)
            logMessage("state file %s: %s", statePath, strerror(errno));
        return 0;
    }
    char line[STATE_LINE_MAX];
    int pairs = 0;
    for (int lines = 0; lines < STATE_LINES_MAX && fgets(line, sizeof line, f); lines++) {
        char name[16];
        char pts[2][PAIRD_PTS_MAX];
        if (sscanf(line, "%15s %31s %31s", name, pts[0], pts[1]) != 3)
            continue;
        int com = pairComNumber(name);
        if (!com || !isPtsPath(pts[0]) || !isPtsPath(pts[1]))
            continue;
        for (int side = 0; side < 2; side++) {
            char link[32];
            linkName(link, sizeof link, com, side);
            removeLinkIfPointsAt(dosdir, link, pts[side]);
        }
        pairs++;
    }
    fclose(f);
    return pairs;
}
