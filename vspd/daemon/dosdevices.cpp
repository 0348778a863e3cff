// The pair's names in the Wine prefix: dosdevices symlinks to the pty slaves.
#include "vspd/daemon/paird.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

static const char ptsDir[] = "/dev/pts/";
static const char tempSuffix[] = ".paird-tmp";

static int joinPath(char* out, int size, const char* dir, const char* name)
{
    int n = snprintf(out, (size_t)size, "%s/%s", dir, name);
    return n > 0 && n < size;
}

// Wine looks the names up in lower case.
int linkName(char* out, int size, int com, int side)
{
    int n = snprintf(out, (size_t)size, side == SIDE_APP ? "com%d" : "null_com%d", com);
    return n > 0 && n < size;
}

// Reads a symlink's target; 0 when the name is missing or not a symlink.
static int readTarget(const char* path, char* target, int size)
{
    ssize_t n = readlink(path, target, (size_t)size - 1);
    if (n < 0)
        return 0;
    target[n] = 0;
    return 1;
}

static int isPtyTarget(const char* target)
{
    return strncmp(target, ptsDir, sizeof ptsDir - 1) == 0;
}

// A name is ours to (re)place when it is absent or a pty link. Anything else,
// such as com1 -> /dev/ttyS0 made by Wine for a real port, is left alone.
int linkIsFree(const char* dosdir, const char* name)
{
    char path[PAIRD_PATH_MAX];
    if (!joinPath(path, sizeof path, dosdir, name))
        return 0;
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT;
    if (!S_ISLNK(st.st_mode))
        return 0;
    char target[PAIRD_PATH_MAX];
    return readTarget(path, target, sizeof target) && isPtyTarget(target);
}

int linkPointsAt(const char* dosdir, const char* name, const char* target)
{
    char path[PAIRD_PATH_MAX];
    char current[PAIRD_PATH_MAX];
    if (!joinPath(path, sizeof path, dosdir, name) || !readTarget(path, current, sizeof current))
        return 0;
    return strcmp(current, target) == 0;
}

// Made under a temporary name and renamed, so Wine never sees a half-made link.
int placeLink(const char* dosdir, const char* name, const char* target)
{
    char path[PAIRD_PATH_MAX];
    char temp[PAIRD_PATH_MAX];
    char tempName[64];
    snprintf(tempName, sizeof tempName, ".%s%s", name, tempSuffix);
    if (!joinPath(path, sizeof path, dosdir, name) || !joinPath(temp, sizeof temp, dosdir, tempName))
        return 0;
    unlink(temp);
    if (symlink(target, temp) != 0) {
        logMessage("symlink %s: %s", temp, strerror(errno));
        return 0;
    }
    if (rename(temp, path) != 0) {
        logMessage("rename %s: %s", path, strerror(errno));
        unlink(temp);
        return 0;
    }
    return 1;
}

// Only our own link goes: someone may have put another one in its place.
void removeLinkIfPointsAt(const char* dosdir, const char* name, const char* target)
{
    char path[PAIRD_PATH_MAX];
    if (!linkPointsAt(dosdir, name, target) || !joinPath(path, sizeof path, dosdir, name))
        return;
    if (unlink(path) != 0)
        logMessage("unlink %s: %s", path, strerror(errno));
}

static int isPairName(const char* name)
{
    return pairComNumber(name) != 0 || pairNullComNumber(name) != 0;
}

static int isTempName(const char* name)
{
    size_t length = strlen(name);
    size_t suffix = sizeof tempSuffix - 1;
    if (name[0] != '.' || length <= suffix + 1 || strcmp(name + length - suffix, tempSuffix) != 0)
        return 0;
    char inner[64];
    if (length - suffix - 1 >= sizeof inner)
        return 0;
    memcpy(inner, name + 1, length - suffix - 1);
    inner[length - suffix - 1] = 0;
    return isPairName(inner);
}

// At start-up no pty is ours yet, so every com*/null_com* link into /dev/pts
// is left over from an earlier run (or points at a pty that is gone).
int removeStalePtyLinks(const char* dosdir)
{
    DIR* dir = opendir(dosdir);
    if (!dir) {
        logMessage("opendir %s: %s", dosdir, strerror(errno));
        return 0;
    }
    int removed = 0;
    while (dirent* entry = readdir(dir)) {
        if (!isPairName(entry->d_name) && !isTempName(entry->d_name))
            continue;
        char path[PAIRD_PATH_MAX];
        char target[PAIRD_PATH_MAX];
        if (!joinPath(path, sizeof path, dosdir, entry->d_name) ||
            !readTarget(path, target, sizeof target) || !isPtyTarget(target))
            continue;
        if (unlink(path) == 0) {
            logMessage("removed stale %s -> %s", entry->d_name, target);
            removed++;
        }
    }
    closedir(dir);
    return removed;
}
