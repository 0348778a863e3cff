// The host's start-up restore: %WINDIR%\parlo.ini into an empty table, with
// the driver's pairs asked for again.
#include <windows.h>

#include <cstdio>

#include "host/host_restore.h"
#include "ports/port_table.h"

typedef unsigned char(WINAPI* CreatePairFn)(const char*, const char*);

static void createPairWith(void* context, const char* comName, const char* nullName)
{
    reinterpret_cast<CreatePairFn>(context)(comName, nullName);
}

int restorePortsFromConfigFile()
{
    if (!portTable || tableInUse(portTable))
        return 0;
    char directory[MAX_PATH];
    UINT n = GetWindowsDirectoryA(directory, sizeof directory);
    if (n == 0 || n >= sizeof directory)
        return 0;
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%s\\parlo.ini", directory);
    FILE* file = fopen(path, "rb");
    if (!file)
        return 0;
    static ConfigEntry entries[PORT_TABLE_ENTRIES];
    int count = readConfigEntries(file, entries, PORT_TABLE_ENTRIES);
    fclose(file);
    if (count == 0)
        return 0;

    // Without the library the entries still come back; the pairs are skipped.
    HMODULE library = LoadLibraryA("VSPDCTL.DLL");
    CreatePairFn createPair =
        library ? reinterpret_cast<CreatePairFn>(reinterpret_cast<void*>(GetProcAddress(library, "CreatePair")))
                : nullptr;
    int restored = restoreEntries(portTable, entries, count, createPair ? createPairWith : nullptr,
                                  reinterpret_cast<void*>(createPair));
    if (library)
        FreeLibrary(library);
    return restored;
}
