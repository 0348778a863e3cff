// What the device configuration windows share: the PC's address, the bound
// virtual port of a device port, and the reboot question.
#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "devcfg/devcfg_win.h"
#include "devcfg/port_mapping.h"
#include "mgmt/device_ops_win.h"
#include "mgmt/device_table.h"
#include "mgmt/scan_dialog_win.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "ui/ui_thread.h"

int getLocalAddress(uint32_t* address)
{
    char name[80];
    if (gethostname(name, sizeof name) != 0)
        return 0;
    name[sizeof name - 1] = '\0';
    hostent* host = gethostbyname(name);
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list[0])
        return 0;
    memcpy(address, host->h_addr_list[0], 4);
    return 1;
}

int findPortMapping(int port, char* comNameOut)
{
    uint32_t local;
    if (!getLocalAddress(&local) || !portTable)
        return -1;
    DeviceRecord device;
    if (port < 0 || port >= MAX_DEVICE_PORTS || copySelectedDevice(&device) <= 0)
        return -1;
    int entry = findPortMappingIn(portTable, device.network.ipAddress, PortConfigTable[port].devicePort);
    if (entry >= 0 && comNameOut)
        comName(&portTable->entries[entry], comNameOut, COM_NAME_MAX + 1);
    return entry;
}

void offerDeviceReboot(HWND owner)
{
    char text[256];
    LoadStringA(appInstance, IDS_REBOOT_ADVICE, text, sizeof text);
    if (MessageBoxA(owner, text, "WARNING", MB_OKCANCEL | MB_ICONWARNING) == IDOK)
        rebootDevice(owner, selectedDevice);
}
