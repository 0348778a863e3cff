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

static ServiceConfigSeam configSeam;

void setServiceConfigSeam(ServiceConfigSeam seam)
{
    configSeam = seam;
}

static BOOL changeServiceConfig2(SC_HANDLE service, DWORD level, void* info)
{
    if (configSeam)
        return configSeam(service, level, info) ? TRUE : FALSE;
    return ChangeServiceConfig2A(service, level, info);
}

// The description and the recovery; what the service was created with stays.
static int describeService(SC_HANDLE service)
{
    SERVICE_DESCRIPTIONA description = {const_cast<char*>(HOST_SERVICE_DESCRIPTION)};
    SC_ACTION actions[] = {{SC_ACTION_RESTART, HOST_RESTART_FIRST_MS},
                           {SC_ACTION_RESTART, HOST_RESTART_SECOND_MS},
                           {SC_ACTION_RESTART, HOST_RESTART_LATER_MS}};
    SERVICE_FAILURE_ACTIONSA failure = {};
    failure.dwResetPeriod = HOST_FAILURE_RESET_S;
    failure.cActions = sizeof actions / sizeof actions[0];
    failure.lpsaActions = actions;
    int described = changeServiceConfig2(service, SERVICE_CONFIG_DESCRIPTION, &description) != 0;
    int recovers = changeServiceConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) != 0;
    return described && recovers;
}

int describeHostService()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, HOST_SERVICE_NAME, SERVICE_CHANGE_CONFIG | SERVICE_START)
                                : nullptr;
    int done = service ? describeService(service) : 0;
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return done;
}

int registerHostEventSource(const char* exePath)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, HOST_EVENT_SOURCE_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    int ok = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exePath),
                            (DWORD)strlen(exePath) + 1) == ERROR_SUCCESS &&
             RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                            sizeof types) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

int unregisterHostEventSource()
{
    LONG r = RegDeleteKeyA(HKEY_LOCAL_MACHINE, HOST_EVENT_SOURCE_KEY);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

// The program a registered service runs: its command line's first word,
// unquoted. Returns 0 when it cannot be read.
static int serviceProgram(SC_HANDLE service, char* out, size_t outSize)
{
    static union {
        QUERY_SERVICE_CONFIGA config;
        char bytes[65536];
    } buffer;
    DWORD needed = 0;
    if (!QueryServiceConfigA(service, &buffer.config, sizeof buffer, &needed) || !buffer.config.lpBinaryPathName)
        return 0;
    const char* path = buffer.config.lpBinaryPathName;
    size_t length = strlen(path);
    if (path[0] == '"') {
        const char* close = strchr(path + 1, '"');
        path++;
        length = close ? (size_t)(close - path) : strlen(path);
    }
    if (length == 0 || length >= outSize)
        return 0;
    memcpy(out, path, length);
    out[length] = '\0';
    return 1;
}

int registerHostService(const char* directory)
{
    static char path[32768 + 32];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return HOST_SERVICE_NO_MANAGER;
    SC_HANDLE service = OpenServiceA(manager, HOST_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service) {
        // The service's settings stay as they are. Its event source is not
        // one of them: it follows the program the service runs, so that a
        // service registered before there was one gets its sentences too.
        if (serviceProgram(service, path, sizeof path))
            registerHostEventSource(path);
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
        describeService(service);
        if (serviceProgram(service, path, sizeof path))
            registerHostEventSource(path);
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
