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

int configuredPortsPath(char* path, size_t size)
{
    char directory[MAX_PATH];
    UINT n = GetWindowsDirectoryA(directory, sizeof directory);
    if (n == 0 || n >= sizeof directory)
        return 0;
    int written = snprintf(path, size, "%s\\parlo.ini", directory);
    return written > 0 && (size_t)written < size;
}

int loadConfiguredPorts(const char* path, ConfigEntry* entries, const ConfigReport* report)
{
    // A published table is live (the manager still holds it): nothing to restore.
    HANDLE live = OpenFileMappingA(FILE_MAP_READ, FALSE, PORT_TABLE_SECTION_NAME);
    if (live) {
        CloseHandle(live);
        return 0;
    }
    FILE* file = path && path[0] ? fopen(path, "rb") : nullptr;
    if (!file)
        return 0;
    int count = readConfigEntries(file, entries, PORT_TABLE_ENTRIES, report);
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
