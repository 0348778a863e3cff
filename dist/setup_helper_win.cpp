// ParloSetup.exe: the installer's and uninstaller's hands on the service and
// the driver's pairs, through the manager's own code.
//
//   ParloSetup install DIR     register PARLOSVR for DIR\ParloHost.exe and start it
//   ParloSetup stop            stop PARLOSVR and wait until it has stopped
//   ParloSetup uninstall DIR   remove the pairs of the configured ports (the
//                              table and %WINDIR%\parlo.ini) with DIR\VSPDCTL.DLL,
//                              then stop and delete PARLOSVR and its event source
//   ParloSetup firewall-add DIR
//                              let inbound UDP reach DIR\ParloHost.exe (a Windows
//                              Firewall rule, all profiles)
//   ParloSetup firewall-remove remove that rule
//
// Exit status 0 on success; uninstall also succeeds when there is nothing
// left to remove. What was done goes to standard output (the installer's log).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ports/config_read.h"
#include "ports/host_control.h"
#include "ports/host_firewall.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"

enum {
    STOP_WAIT_MS = 20000,
    STOP_POLL_MS = 100,
};

// Stops the service and waits for it. 1 when it is stopped or not running.
static int stopService(SC_HANDLE service)
{
    SERVICE_STATUS st = {};
    if (!QueryServiceStatus(service, &st))
        return 0;
    if (st.dwCurrentState == SERVICE_STOPPED)
        return 1;
    ControlService(service, SERVICE_CONTROL_STOP, &st);
    for (int waited = 0; waited < STOP_WAIT_MS; waited += STOP_POLL_MS) {
        if (!QueryServiceStatus(service, &st))
            return 0;
        if (st.dwCurrentState == SERVICE_STOPPED)
            return 1;
        Sleep(STOP_POLL_MS);
    }
    return 0;
}

// Opens PARLOSVR; nullptr (and *missing set) when it is not registered.
static SC_HANDLE openHostService(SC_HANDLE* manager, int* missing)
{
    *missing = 0;
    *manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!*manager) {
        printf("no access to the service manager (error %lu)\n", GetLastError());
        return nullptr;
    }
    SC_HANDLE service = OpenServiceA(*manager, HOST_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!service) {
        *missing = GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        CloseServiceHandle(*manager);
        *manager = nullptr;
    }
    return service;
}

static int commandStop()
{
    SC_HANDLE manager;
    int missing;
    SC_HANDLE service = openHostService(&manager, &missing);
    if (!service)
        return missing ? 0 : 1;
    int ok = stopService(service);
    printf(ok ? HOST_SERVICE_NAME " stopped\n" : HOST_SERVICE_NAME " did not stop\n");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}

static int commandInstall(const char* directory)
{
    // A service left by an earlier installation elsewhere runs our files from now on.
    SC_HANDLE manager;
    int missing;
    SC_HANDLE service = openHostService(&manager, &missing);
    if (service) {
        static char path[32768 + 32];
        if (!buildHostServicePath(directory, path, sizeof path) ||
            !ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, path,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            printf("the path of " HOST_SERVICE_NAME " was not changed (error %lu)\n", GetLastError());
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        // One registered by an earlier version gets its description and recovery.
        if (!describeHostService())
            printf("the description or recovery of " HOST_SERVICE_NAME " was not set (error %lu)\n",
                   GetLastError());
    }
    int result = registerHostService(directory);
    if (result == HOST_SERVICE_CREATED || result == HOST_SERVICE_EXISTED) {
        printf(HOST_SERVICE_NAME " registered and started\n");
        return 0;
    }
    printf(HOST_SERVICE_NAME " could not be registered\n");
    return 1;
}

// The COM names of the configured ports, each once.
struct PortNames {
    char names[2 * PORT_TABLE_ENTRIES][COM_NAME_MAX + 1];
    int count;
};

static void addName(PortNames* set, const char* name)
{
    if (!isComPortName(name))
        return;
    for (int i = 0; i < set->count; i++)
        if (strcmp(set->names[i], name) == 0)
            return;
    if (set->count < (int)(sizeof set->names / sizeof set->names[0]))
        snprintf(set->names[set->count++], COM_NAME_MAX + 1, "%s", name);
}

static void namesFromTable(PortNames* set)
{
    if (!mapPortTable())
        return;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &portTable->entries[i];
        if (!readShared(&e->inUse))
            continue;
        char name[COM_NAME_MAX + 1];
        comName(e, name, sizeof name);
        addName(set, name);
    }
    unmapPortTable();
}

static void namesFromConfigFile(PortNames* set)
{
    char directory[MAX_PATH];
    UINT n = GetWindowsDirectoryA(directory, sizeof directory);
    if (n == 0 || n >= sizeof directory)
        return;
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%s\\parlo.ini", directory);
    FILE* file = fopen(path, "rb");
    if (!file)
        return;
    static ConfigEntry entries[PORT_TABLE_ENTRIES];
    int count = readConfigEntries(file, entries, PORT_TABLE_ENTRIES);
    fclose(file);
    for (int i = 0; i < count; i++)
        addName(set, entries[i].comName);
}

static int commandUninstall(const char* directory)
{
    // The table only exists while the service (or a manager) runs: read it first.
    static PortNames ports;
    namesFromTable(&ports);
    namesFromConfigFile(&ports);

    SC_HANDLE manager;
    int missing;
    SC_HANDLE service = openHostService(&manager, &missing);
    // The host holds the far ends open: it stops before the pairs go.
    if (service && !stopService(service))
        printf(HOST_SERVICE_NAME " did not stop\n");

    int failed = 0;
    if (ports.count > 0) {
        SetDllDirectoryA(directory);
        if (!bindDriverLibrary()) {
            printf("%s not found in %s: %d pairs left\n", DRIVER_LIBRARY_NAME, directory, ports.count);
        } else {
            for (int i = 0; i < ports.count; i++) {
                unsigned char held = deletePortPair(ports.names[i]);
                printf("pair %s %s\n", ports.names[i], held ? "removed" : "was not there");
            }
        }
    }
    if (service) {
        if (DeleteService(service)) {
            printf(HOST_SERVICE_NAME " deleted\n");
        } else if (GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            printf(HOST_SERVICE_NAME " not deleted (error %lu)\n", GetLastError());
            failed = 1;
        }
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    } else if (!missing) {
        failed = 1;
    }
    if (unregisterHostEventSource())
        printf(HOST_SERVICE_NAME " event source removed\n");
    else
        printf(HOST_SERVICE_NAME " event source not removed (error %lu)\n", GetLastError());
    return failed;
}

// The rule is a convenience of the installer: its failure is told, and the
// installer carries on.
static int commandFirewall(const char* directory)
{
    long hr = directory ? addHostFirewallRule(directory, &windowsFirewall) : removeHostFirewallRule(&windowsFirewall);
    if (hr >= 0) {
        if (directory)
            printf("firewall rule \"%s\" lets UDP reach %s\\%s\n", HOST_FIREWALL_RULE_NAME, directory, HOST_EXE_NAME);
        else
            printf("firewall rule \"%s\" removed\n", HOST_FIREWALL_RULE_NAME);
        return 0;
    }
    printf("firewall rule \"%s\" not %s (error 0x%08lx)\n", HOST_FIREWALL_RULE_NAME, directory ? "added" : "removed",
           (unsigned long)hr);
    return 1;
}

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "stop") == 0)
        return commandStop();
    if (argc == 3 && strcmp(argv[1], "install") == 0)
        return commandInstall(argv[2]);
    if (argc == 3 && strcmp(argv[1], "uninstall") == 0)
        return commandUninstall(argv[2]);
    if (argc == 3 && strcmp(argv[1], "firewall-add") == 0)
        return commandFirewall(argv[2]);
    if (argc == 2 && strcmp(argv[1], "firewall-remove") == 0)
        return commandFirewall(nullptr);
    fprintf(stderr, "usage: ParloSetup install DIR | stop | uninstall DIR | firewall-add DIR | firewall-remove\n");
    return 2;
}
