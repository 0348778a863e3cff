// Network Configurations: a device's address mode and IP settings.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "devcfg/devcfg_ids.h"
#include "devcfg/devcfg_win.h"
#include "devcfg/device_texts.h"
#include "mgmt/device_ops_win.h"
#include "mgmt/device_table.h"
#include "mgmt/scan_dialog_win.h"

static const int addressControls[5] = {IDC_NET_IP, IDC_NET_MASK, IDC_NET_GATEWAY, IDC_NET_DNS1, IDC_NET_DNS2};

static void fill(HWND dialog)
{
    DeviceRecord device;
    if (copySelectedDevice(&device) <= 0)
        return;
    const NetworkConfig& n = device.network;
    const uint32_t addresses[5] = {n.ipAddress, n.netmask, n.gateway, n.primaryDns, n.secondaryDns};
    for (int i = 0; i < 5; i++) {
        char text[16];
        addressText(addresses[i], text, sizeof text);
        SetDlgItemTextA(dialog, addressControls[i], text);
        // Not every address control shows its fields from the text alone.
        SendDlgItemMessageA(dialog, addressControls[i], IPM_SETADDRESS, 0, (LPARAM)ntohl(addresses[i]));
    }
    HWND mode = GetDlgItem(dialog, IDC_NET_MODE);
    SendMessageA(mode, CB_ADDSTRING, 0, (LPARAM) "STATIC IP");
    SendMessageA(mode, CB_ADDSTRING, 0, (LPARAM) "DHCP");
    if (n.addressMode == ADDRESS_STATIC)
        SendMessageA(mode, CB_SETCURSEL, 0, 0);
    else if (n.addressMode == ADDRESS_DHCP)
        SendMessageA(mode, CB_SETCURSEL, 1, 0);
}

static void sendSettings(HWND dialog)
{
    NetworkConfig config;
    memset(&config, 0, sizeof config);
    char text[64];
    GetDlgItemTextA(dialog, IDC_NET_MODE, text, sizeof text);
    config.addressMode = strcmp(text, "STATIC IP") == 0 ? ADDRESS_STATIC : ADDRESS_DHCP;
    uint32_t* fields[5] = {&config.ipAddress, &config.netmask, &config.gateway, &config.primaryDns,
                           &config.secondaryDns};
    for (int i = 0; i < 5; i++) {
        GetDlgItemTextA(dialog, addressControls[i], text, sizeof text);
        *fields[i] = inet_addr(text);  // not a dotted address: all ones
    }
    setDeviceNetwork(dialog, selectedDevice, &config);
    offerDeviceReboot(dialog);
}

INT_PTR CALLBACK networkConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        fill(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            sendSettings(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
