// VSPDCTL.DLL: creates, deletes and queries virtual serial port pairs through
// the pair daemon, and keeps a record of them in the registry so create and
// delete round-trip across processes and restarts.
#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "vspd/pair_client.h"
#include "vspd/vspdctl.h"

static INIT_ONCE socketsOnce = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK startSockets(INIT_ONCE*, void*, void**)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    return TRUE;
}

// Started on first use, never from DllMain (the loader lock forbids it).
static void needSockets()
{
    InitOnceExecuteOnce(&socketsOnce, startSockets, nullptr, nullptr);
}

static int validName(const char* name)
{
    if (!name)
        return 0;
    size_t n = strnlen(name, 32);
    return n > 0 && n < 32;
}

static HKEY openRecord(REGSAM access)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, VSPD_RECORD_KEY, 0, nullptr, 0, access, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

static int writeRecord(const char* comName, const char* nullName)
{
    HKEY key = openRecord(KEY_SET_VALUE);
    if (!key)
        return 0;
    LONG r = RegSetValueExA(key, comName, 0, REG_SZ, reinterpret_cast<const BYTE*>(nullName),
                            (DWORD)strlen(nullName) + 1);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

static int removeRecord(const char* comName)
{
    HKEY key = openRecord(KEY_SET_VALUE);
    if (!key)
        return 0;
    LONG r = RegDeleteValueA(key, comName);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

static int inRecord(const char* comName)
{
    HKEY key = openRecord(KEY_QUERY_VALUE);
    if (!key)
        return 0;
    char nullName[32];
    DWORD size = sizeof nullName;
    DWORD type;
    LONG r = RegQueryValueExA(key, comName, nullptr, &type, reinterpret_cast<BYTE*>(nullName), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_SZ;
}

static void clearInfo(VspdPairInfo* info)
{
    memset(info, 0, sizeof *info);
    info->size = sizeof *info;
}

static void fillFromDaemon(VspdPairInfo* info, const PairInfo* pair)
{
    info->daemon = 1;
    info->exists = pair->exists ? 1 : 0;
    if (!pair->exists)
        return;
    info->open = pair->open ? 1 : 0;
    info->baudRate = pair->baudRate;
    info->dataBits = (uint8_t)pair->dataBits;
    info->parity = (uint8_t)pair->parity;
    info->stopBits = (uint8_t)pair->stopBits;
}

extern "C" __declspec(dllexport) unsigned char WINAPI CreatePair(const char* comName, const char* nullName)
{
    if (!validName(comName) || !validName(nullName))
        return 0;
    needSockets();
    int made = pairCreate(comName, nullName);
    if (made == 0) {
        removeRecord(comName);
        return 0;
    }
    // With no daemon the record is all there is; a later daemon run starts empty.
    return writeRecord(comName, nullName) || made == 1;
}

extern "C" __declspec(dllexport) unsigned char WINAPI DeletePair(const char* comName)
{
    if (!validName(comName))
        return 0;
    needSockets();
    int removed = pairDelete(comName) == 1;
    if (removeRecord(comName))
        removed = 1;
    return (unsigned char)removed;
}

extern "C" __declspec(dllexport) unsigned char WINAPI QueryBus(const char* comName, VspdPairInfo* info)
{
    if (!info || info->size < sizeof(VspdPairInfo))
        return 0;
    clearInfo(info);
    if (!validName(comName))
        return 0;
    needSockets();
    PairInfo pair;
    memset(&pair, 0, sizeof pair);
    int answer = pairQuery(comName, &pair);
    if (answer == 1)
        fillFromDaemon(info, &pair);
    else if (answer < 0)
        info->exists = (uint8_t)inRecord(comName);
    return info->exists;
}

// Without a daemon: the record's pairs, by the number in their COM name.
static unsigned fillFromRecord(VspdPairInfo* infos, unsigned count)
{
    HKEY key = openRecord(KEY_QUERY_VALUE);
    if (!key)
        return 0;
    unsigned found = 0;
    for (DWORD index = 0;; index++) {
        char name[64];
        DWORD nameSize = sizeof name;
        DWORD type;
        LONG r = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, nullptr, nullptr);
        if (r == ERROR_MORE_DATA)
            continue;
        if (r != ERROR_SUCCESS)
            break;
        int com = pairComNumber(name);
        if (type != REG_SZ || com <= 0 || (unsigned)com >= count || infos[com].exists)
            continue;
        infos[com].exists = 1;
        found++;
    }
    RegCloseKey(key);
    return found;
}

// Fills infos from a QUERYALL or WAITALL answer (1), the record (-1), or
// nothing (0: the daemon refused).
static unsigned fillAll(VspdPairInfo* infos, unsigned count, int answer, const PairInfo* pairs)
{
    unsigned found = 0;
    if (answer == 1) {
        for (unsigned n = 0; n < count; n++) {
            infos[n].daemon = 1;
            if (n <= PAIR_MAX_COM && pairs[n].exists) {
                fillFromDaemon(&infos[n], &pairs[n]);
                found++;
            }
        }
    }
    if (answer < 0)
        found = fillFromRecord(infos, count);
    return found;
}

static int clearAll(VspdPairInfo* infos, unsigned count)
{
    if (!infos || count == 0 || infos[0].size < sizeof(VspdPairInfo))
        return 0;
    for (unsigned n = 0; n < count; n++)
        clearInfo(&infos[n]);
    return 1;
}

extern "C" __declspec(dllexport) unsigned WINAPI QueryBusAll(VspdPairInfo* infos, unsigned count)
{
    if (!clearAll(infos, count))
        return 0;
    needSockets();
    PairInfo pairs[PAIR_MAX_COM + 1];
    return fillAll(infos, count, pairQueryAll(pairs, PAIR_MAX_COM + 1), pairs);
}

extern "C" __declspec(dllexport) unsigned WINAPI WaitBusChange(VspdPairInfo* infos, unsigned count, unsigned* change,
                                                               unsigned waitMs)
{
    if (!change || !clearAll(infos, count))
        return 0;
    needSockets();
    PairInfo pairs[PAIR_MAX_COM + 1];
    uint32_t seq = *change;
    int answer = pairWaitAll(&seq, pairs, PAIR_MAX_COM + 1, waitMs > PAIR_WAIT_MAX_MS ? PAIR_WAIT_MAX_MS : (int)waitMs);
    if (answer == 1)
        *change = seq;
    return fillAll(infos, count, answer, pairs);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*) { return TRUE; }
