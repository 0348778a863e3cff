// ParloHost.exe: the PARLOSVR service that owns the port table and the ports.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host/host_eventlog_win.h"
#include "host/host_logic.h"
#include "host/host_ports_win.h"
#include "host/host_restore.h"
#include "ports/port_table.h"

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopEvent;

enum { HOST_PASS_MS = 20 };

static void reportStatus(DWORD state, DWORD exitCode = NO_ERROR)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING ? 0 : 5000;
    if (statusHandle)
        SetServiceStatus(statusHandle, &status);
}

static int console;

static DWORD WINAPI controlHandler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        reportStatus(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
        wakeHost();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

static char configPath[MAX_PATH + 16];

static void lineNotRestored(void*, int lineNumber, int fault, const char* comName)
{
    hostEventConfigLine(hostEvents(), configPath, lineNumber, fault, comName);
}

// Runs until the stop event is set; the table lives exactly as long.
static DWORD runHost()
{
    // The slow part of the restore (the file, the pairs) is done before the
    // table is published, the entries are written the moment it is: the
    // manager finds the restored ports in place rather than free slots.
    static ConfigEntry configured[PORT_TABLE_ENTRIES];
    if (!configuredPortsPath(configPath, sizeof configPath))
        configPath[0] = '\0';
    ConfigReport report = {nullptr, lineNotRestored};
    int count = loadConfiguredPorts(configPath, configured, &report);
    hostEventConfigDone(hostEvents(), configPath);
    int existed = 0;
    HANDLE section = createPortTableSection(&existed);
    if (!section)
        return GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    int restored = restoreEntries(portTable, configured, count);
    if (!startHostPorts()) {
        closePortTableSection(section);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // A table that outlived the last host (the manager kept it) goes on as it is.
    int adopted = existed ? adoptHostPorts() : 0;
    reportStatus(SERVICE_RUNNING);
    if (console)
        printf("ParloHost: table published; serial ports wait by %s\n", serialWaitName());
    hostEventStarted(hostEvents(), configPath, restored, adopted);
    // Data moves as it completes; the table is looked at every 20 ms.
    int64_t nextPass = 0;
    while (WaitForSingleObject(stopEvent, 0) == WAIT_TIMEOUT) {
        int64_t now = (int64_t)GetTickCount64();
        if (now >= nextPass) {
            serviceAllPorts();
            nextPass = now + HOST_PASS_MS;
        }
        waitForHostIo((DWORD)(nextPass - now));
    }
    hostEventStopping(hostEvents(), heldPorts());
    stopHostPorts();
    closePortTableSection(section);
    return NO_ERROR;
}

static void WINAPI serviceMain(DWORD, char**)
{
    statusHandle = RegisterServiceCtrlHandlerExA("PARLOSVR", controlHandler, nullptr);
    if (!statusHandle)
        return;
    reportStatus(SERVICE_START_PENDING);
    openHostEventLog(0);
    DWORD result = runHost();
    closeHostEventLog();
    reportStatus(SERVICE_STOPPED, result);
}

static BOOL WINAPI consoleHandler(DWORD)
{
    SetEvent(stopEvent);
    wakeHost();
    return TRUE;
}

int main(int argc, char** argv)
{
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // "--console" runs the host in the foreground, for diagnosis.
    if (argc > 1 && strcmp(argv[1], "--console") == 0) {
        console = 1;
        setvbuf(stdout, nullptr, _IONBF, 0);
        SetConsoleCtrlHandler(consoleHandler, TRUE);
        openHostEventLog(1);
        DWORD result = runHost();
        closeHostEventLog();
        return (int)result;
    }
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>("PARLOSVR"), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table))
        return (int)GetLastError();
    return 0;
}
