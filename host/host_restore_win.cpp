// The host's start-up restore: %WINDIR%\parlo.ini read and the driver's pairs
// asked for again, before the table is published.
#include <windows.h>

#include <cstdio>

#include "host/host_restore.h"
#include "ports/port_table.h"

typedef unsigned char(WINAPI* CreatePairFn)(const char*, const char*);

static void createPairWith(void* context, const char* comName, const char* nullName)
{
    reinterpret_cast<CreatePairFn>(context)(comName, nullName);
}

int loadConfiguredPorts(ConfigEntry* entries)
{
    // A published table is live (the manager still holds it): nothing to restore.
    HANDLE live = OpenFileMappingA(FILE_MAP_READ, FALSE, PORT_TABLE_SECTION_NAME);
    if (live) {
        CloseHandle(live);
        return 0;
    }
    char directory[MAX_PATH];
    UINT n = GetWindowsDirectoryA(directory, sizeof directory);
    if (n == 0 || n >= sizeof directory)
        return 0;
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%s\\parlo.ini", directory);
    FILE* file = fopen(path, "rb");
    if (!file)
        return 0;
    int count = readConfigEntries(file, entries, PORT_TABLE_ENTRIES);
    fclose(file);
    if (count == 0)
        return 0;

    // Without the library the entries still come back; the pairs are skipped.
    HMODULE library = LoadLibraryA("VSPDCTL.DLL");
    CreatePairFn createPair =
        library ? reinterpret_cast<CreatePairFn>(reinterpret_cast<void*>(GetProcAddress(library, "CreatePair")))
                : nullptr;
    createEntryPairs(entries, count, createPair ? createPairWith : nullptr, reinterpret_cast<void*>(createPair));
    if (library)
        FreeLibrary(library);
    return count;
}
