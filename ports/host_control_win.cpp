// Driver library binding, host service installation and the table mapping wait.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ports/host_control.h"
#include "ports/port_table_win.h"
#include "res/resource.h"

typedef unsigned char(WINAPI* CreatePairFn)(const char*, const char*);
typedef unsigned char(WINAPI* DeletePairFn)(const char*);

static CreatePairFn createPairEntry;
static DeletePairFn deletePairEntry;
static FARPROC queryBusEntry;

int bindDriverLibrary()
{
    HMODULE lib = LoadLibraryA(DRIVER_LIBRARY_NAME);
    if (!lib)
        return 0;
    createPairEntry = reinterpret_cast<CreatePairFn>(reinterpret_cast<void*>(GetProcAddress(lib, "CreatePair")));
    if (!createPairEntry)
        return 0;
    deletePairEntry = reinterpret_cast<DeletePairFn>(reinterpret_cast<void*>(GetProcAddress(lib, "DeletePair")));
    if (!deletePairEntry)
        return 0;
    queryBusEntry = GetProcAddress(lib, "QueryBus");
    if (!queryBusEntry)
        return 0;
    return 1;
}

int driverLibraryBound()
{
    return createPairEntry && deletePairEntry && queryBusEntry;
}

int buildHostServicePath(const char* directory, char* out, unsigned outSize)
{
    const char* quote = strchr(directory, ' ') ? "\"" : "";
    int n = snprintf(out, outSize, "%s%s\\%s%s", quote, directory, HOST_EXE_NAME, quote);
    return n > 0 && (unsigned)n < outSize;
}

int registerHostService(const char* directory)
{
    static char path[32768 + 32];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return HOST_SERVICE_NO_MANAGER;
    SC_HANDLE service = OpenServiceA(manager, HOST_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service) {
        StartServiceA(service, 0, nullptr);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return HOST_SERVICE_EXISTED;
    }
    int pathOk = directory && buildHostServicePath(directory, path, sizeof path);
    service = pathOk ? CreateServiceA(manager, HOST_SERVICE_NAME, HOST_SERVICE_NAME, SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path, nullptr,
                                      nullptr, nullptr, nullptr, nullptr)
                     : nullptr;
    if (service) {
        StartServiceA(service, 0, nullptr);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return service ? HOST_SERVICE_CREATED : HOST_SERVICE_NOT_CREATED;
}

void installHostService()
{
    // The longest path Windows knows, so no working directory is ever cut.
    static char directory[32768];
    DWORD n = GetCurrentDirectoryA(sizeof directory, directory);
    int result = registerHostService(n > 0 && n < sizeof directory ? directory : nullptr);
    if (result == HOST_SERVICE_NO_MANAGER) {
        char text[256];
        LoadStringA(GetModuleHandleA(nullptr), IDS_ACCESS_DENIED, text, sizeof text);
        MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONWARNING);
    } else if (result == HOST_SERVICE_NOT_CREATED) {
        MessageBoxA(nullptr, "CreateService failed\n", nullptr, MB_OK);
    }
}

int startHostAndMapTable()
{
    installHostService();
    for (int attempt = 0; attempt < HOST_MAP_ATTEMPTS; attempt++) {
        if (mapPortTable())
            return 1;
        Sleep(HOST_MAP_RETRY_MS);
    }
    return 0;
}

int createPortPair(const char* comName, const char* nullName)
{
    if (!createPairEntry)
        return 0;
    createPairEntry(comName, nullName);
    Sleep(PAIR_CREATE_WAIT_MS);
    return 1;
}

unsigned char deletePortPair(const char* comName)
{
    if (!deletePairEntry)
        return 0;
    return deletePairEntry(comName);
}

static_assert(SC_MANAGER_ALL_ACCESS == 983103, "service manager access");
static_assert(SERVICE_ALL_ACCESS == 983551, "service access");
static_assert((SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS) == 0x110, "service type");
static_assert(SERVICE_AUTO_START == 2 && SERVICE_ERROR_NORMAL == 1, "service start");
