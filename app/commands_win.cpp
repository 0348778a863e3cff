// Main window commands: port requests through the table, Delete's handshake,
// the modal windows and the maker's web site.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/app.h"
#include "app/port_list.h"
#include "mgmt/scan_dialog_win.h"
#include "monitor/monitor_dialog_win.h"
#include "ports/create_port_dialog.h"
#include "ports/host_control.h"
#include "ports/port_table.h"
#include "res/resource.h"

enum { DELETE_POLL_MS = 100, DELETE_POLLS = 260 };

// The entry of the row holding the selection mark, or -1; name receives the
// row's COM name.
static int selectedEntry(char* name, int nameSize, int* row)
{
    *row = selectedPortRow(portList, name, nameSize);
    if (*row < 0 || !portTable)
        return -1;
    return findEntryByComName(portTable, name);
}

static void deleteSelectedPort(HWND window)
{
    char name[64];
    int row;
    int index = selectedEntry(name, sizeof name, &row);
    if (index < 0)
        return;
    PortEntry* e = &portTable->entries[index];
    char text[160];
    if (e->comOpen) {
        snprintf(text, sizeof text, "%s is being used, Please close it first!", name);
        MessageBoxA(window, text, nullptr, MB_OK | MB_ICONERROR);
        return;
    }
    writeShared(&e->command, PORT_DELETE);
    int polls = 0;
    // Acquired: the host clears present before it writes 0 here.
    while (acquireShared(&e->command) != 0 && polls < DELETE_POLLS) {
        Sleep(DELETE_POLL_MS);
        polls++;
    }
    if (acquireShared(&e->command) != 0) {
        snprintf(text, sizeof text, "Failed to remove %s!", name);
        MessageBoxA(window, text, nullptr, MB_OK | MB_ICONERROR);
        return;
    }
    writeShared(&e->inUse, 0u);
    SendMessageA(portList, LVM_DELETEITEM, row, 0);
    deletePortPair(name);
}

static void writeSelectedCommand(int command)
{
    char name[64];
    int row;
    int index = selectedEntry(name, sizeof name, &row);
    if (index >= 0)
        writeShared(&portTable->entries[index].command, command);
}

static void clearSelectedCounters()
{
    char name[64];
    int row;
    int index = selectedEntry(name, sizeof name, &row);
    if (index < 0)
        return;
    // Two 32-bit halves each, as the host's own counter updates are not locked.
    volatile int32_t* rx = reinterpret_cast<volatile int32_t*>(&portTable->entries[index].rxBytes);
    volatile int32_t* tx = reinterpret_cast<volatile int32_t*>(&portTable->entries[index].txBytes);
    rx[0] = 0; rx[1] = 0;
    tx[0] = 0; tx[1] = 0;
}

static void monitorSelectedPort(HWND window)
{
    char name[64];
    int row;
    monitoredEntry = selectedEntry(name, sizeof name, &row);
    if (monitoredEntry < 0)
        return;
    writeShared(&portTable->entries[monitoredEntry].captureCommand, CAPTURE_START);
    openMonitorDialog(window);
}

int handleMainCommand(HWND window, int command)
{
    char name[64];
    int row;
    switch (command) {
    case IDM_MANUALLY_ADD:
        editedEntry = -1;
        openCreatePortDialog(window);
        return 1;
    case IDM_DELETE:
        deleteSelectedPort(window);
        return 1;
    case IDM_START_CONNECTION:
        writeSelectedCommand(PORT_START);
        return 1;
    case IDM_STOP_CONNECTION:
        writeSelectedCommand(PORT_STOP);
        return 1;
    case IDM_RESTART_CONNECTION: {
        int index = selectedEntry(name, sizeof name, &row);
        if (index >= 0)
            restartPort(portTable, index);
        return 1;
    }
    case IDM_RESTART_ALL:
        restartPort(portTable, -1);
        return 1;
    case IDM_CLEAR_COUNTERS:
        clearSelectedCounters();
        return 1;
    case IDM_MONITOR_COM:
        monitorSelectedPort(window);
        return 1;
    case IDM_VISIT_WEBSITE:
        openWebAddress(window, MAKER_WEB_ADDRESS);
        return 1;
    case IDM_AUTOMATICALLY_ADD:
    case IDM_SCAN_DEVICES:
        openScanDialog(window);
        return 1;
    }
    return 0;
}
