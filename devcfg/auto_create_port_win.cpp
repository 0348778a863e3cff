// Automatically create serial port: writes a device port's settings to the
// device, then creates (or re-targets) the virtual COM port bound to it.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "devcfg/auto_port.h"
#include "devcfg/devcfg_ids.h"
#include "devcfg/devcfg_win.h"
#include "devcfg/device_texts.h"
#include "mgmt/device_ops_win.h"
#include "mgmt/device_table.h"
#include "mgmt/line_settings.h"
#include "mgmt/scan_dialog_win.h"
#include "ports/config_file.h"
#include "ports/host_control.h"
#include "ports/port_checks.h"
#include "ports/port_table.h"

#undef interface

enum { AUTO_COM_CHOICES = 128, AUTO_TEXT = 32 };

static void addItem(HWND combo, const char* text) { SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text); }

static void selectText(HWND combo, const char* text)
{
    int i = (int)SendMessageA(combo, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
    // FINDSTRINGEXACT ignores case; the item must equal the text exactly.
    char item[AUTO_TEXT] = "";
    if (i >= 0 && SendMessageA(combo, CB_GETLBTEXTLEN, i, 0) < AUTO_TEXT)
        SendMessageA(combo, CB_GETLBTEXT, i, (LPARAM)item);
    if (i >= 0 && strcmp(item, text) == 0)
        SendMessageA(combo, CB_SETCURSEL, i, 0);
}

static void fillCombos(HWND dialog)
{
    const SerialPortConfig& c = PortConfigTable[selectedPort];
    char com[COM_NAME_MAX + 1];
    int mapped = findPortMapping(selectedPort, com);

    HWND comCombo = GetDlgItem(dialog, IDC_AUTO_COM);
    if (mapped >= 0) {
        addItem(comCombo, com);
        SendMessageA(comCombo, CB_SETCURSEL, 0, 0);
        EnableWindow(comCombo, FALSE);
    } else {
        for (int n = 1; n <= AUTO_COM_CHOICES; n++) {
            char name[16];
            snprintf(name, sizeof name, "COM%d", n);
            addItem(comCombo, name);
        }
        int first = firstFreeComNumber();
        if (first >= 0)
            SendMessageA(comCombo, CB_SETCURSEL, first, 0);
    }

    HWND connection = GetDlgItem(dialog, IDC_AUTO_CONNECTION);
    addItem(connection, "UDP");
    addItem(connection, "TCP Client");
    // The host shares this field: read it within its width.
    char protocol[sizeof portTable->entries[0].protocol + 1] = "udp";
    if (mapped >= 0)
        copyField(protocol, sizeof protocol, portTable->entries[mapped].protocol,
                  sizeof portTable->entries[mapped].protocol);
    if (strcmp(protocol, "udp") == 0)
        SendMessageA(connection, CB_SETCURSEL, 0, 0);
    else if (strcmp(protocol, "tcpc") == 0)
        SendMessageA(connection, CB_SETCURSEL, 1, 0);

    HWND iface = GetDlgItem(dialog, IDC_AUTO_INTERFACE);
    const unsigned bits[3] = {1, 2, 4};
    for (unsigned bit : bits) {
        if (!(c.supportedInterfaces & bit))
            continue;
        int item = (int)SendMessageA(iface, CB_ADDSTRING, 0, (LPARAM)interfaceName(bit));
        if (c.interface & bit)
            SendMessageA(iface, CB_SETCURSEL, item, 0);  // the last match wins
    }

    HWND baud = GetDlgItem(dialog, IDC_AUTO_BAUD);
    for (const char* b : baudRateTable)
        addItem(baud, b);
    char text[AUTO_TEXT];
    snprintf(text, sizeof text, "%u", lineBaudRate(c.lineSettings));
    selectText(baud, text);

    struct { int id; const char* const* table; int count; const char* current; } lists[] = {
        {IDC_AUTO_DATA, dataBitsTable, DATA_BITS_CHOICES, dataBitsName(lineDataBits(c.lineSettings))},
        {IDC_AUTO_PARITY, parityTable, PARITY_CHOICES, parityName(lineParity(c.lineSettings))},
        {IDC_AUTO_STOP, stopBitsTable, STOP_BITS_CHOICES, stopBitsName(lineStopBits(c.lineSettings))},
    };
    for (auto& l : lists) {
        HWND combo = GetDlgItem(dialog, l.id);
        for (int i = 0; i < l.count; i++)
            addItem(combo, l.table[i]);
        selectText(combo, l.current);
    }
}

static void warn(HWND dialog, const char* text) { MessageBoxA(dialog, text, "WARNING", MB_OK | MB_ICONERROR); }

// The OK steps in their order; every path ends the dialog with OK.
static void createOrRetarget(HWND dialog)
{
    if (!portTable || selectedPort < 0 || selectedPort >= portConfigCount)
        return;
    // The port is bound to the device this window was opened for, wherever
    // a scan since has put it; gone from the table, nothing is written.
    DeviceRecord device;
    int found = copySelectedDevice(&device);
    if (found < 0)
        MessageBoxA(dialog, "Failed to configure serial port!", nullptr, MB_OK);
    if (found <= 0)
        return;
    const SerialPortConfig reported = PortConfigTable[selectedPort];
    char com[AUTO_TEXT], connection[AUTO_TEXT], iface[AUTO_TEXT], baud[AUTO_TEXT], data[AUTO_TEXT],
        parity[AUTO_TEXT], stop[AUTO_TEXT];
    GetDlgItemTextA(dialog, IDC_AUTO_COM, com, sizeof com);
    GetDlgItemTextA(dialog, IDC_AUTO_CONNECTION, connection, sizeof connection);
    GetDlgItemTextA(dialog, IDC_AUTO_INTERFACE, iface, sizeof iface);
    GetDlgItemTextA(dialog, IDC_AUTO_BAUD, baud, sizeof baud);
    GetDlgItemTextA(dialog, IDC_AUTO_DATA, data, sizeof data);
    GetDlgItemTextA(dialog, IDC_AUTO_PARITY, parity, sizeof parity);
    GetDlgItemTextA(dialog, IDC_AUTO_STOP, stop, sizeof stop);

    int mapped = findPortMapping(selectedPort, nullptr);
    char text[160];
    // A port of ours whose device is not visible (yet) counts as existing too:
    // two entries must never carry one COM name.
    if (mapped < 0 && (findEntryByComName(portTable, com) >= 0 || !isComNameFree(com))) {
        snprintf(text, sizeof text, "%s already exist, please select another COM port!", com);
        warn(dialog, text);
        return;
    }
    uint32_t local;
    if (!getLocalAddress(&local)) {
        warn(dialog, "Failed to get local IP address");
        return;
    }
    int localPort = nextFreeLocalPort();

    AutoPortChoice choice = {connection, iface, baud, data, parity, stop};
    const char* protocol = "tcpc";
    SerialPortConfig copy = buildWorkingCopy(&reported, &choice, local, (uint16_t)localPort, &protocol);
    if (!setSerialPortConfig(dialog, &copy))
        return;

    char remoteAddress[16], remotePort[8], localText[8];
    addressText(device.network.ipAddress, remoteAddress, sizeof remoteAddress);
    snprintf(remotePort, sizeof remotePort, "%u", reported.devicePort);
    snprintf(localText, sizeof localText, "%d", localPort);

    if (mapped >= 0) {
        retargetPortEntry(portTable, mapped, remotePort, localText, protocol, remoteAddress);
        return;
    }
    int index = findFreeEntry(portTable);
    if (index < 0) {
        MessageBoxA(dialog, "Reached the MAX number of VCOM!", nullptr, MB_OK | MB_ICONERROR);
        return;
    }
    char nullName[AUTO_TEXT + 8];
    snprintf(nullName, sizeof nullName, "NULL_%s", com);
    if (!createPortPair(com, nullName)) {
        // Without the driver library the port could never work: keep the table clean.
        snprintf(text, sizeof text,
                 "Failed to create %s: the virtual serial driver library " DRIVER_LIBRARY_NAME " is not loaded!", com);
        MessageBoxA(dialog, text, nullptr, MB_OK | MB_ICONERROR);
        return;
    }
    char portName[AUTO_TEXT + 16];
    snprintf(portName, sizeof portName, "\\\\.\\NULL_%s", com);
    writePortEntry(portTable, index, portName, remoteAddress, remotePort, "enable", protocol, localText);
    writeConfigFile();
}

INT_PTR CALLBACK autoCreatePortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        if (selectedPort >= 0 && selectedPort < portConfigCount && selectedPort < MAX_DEVICE_PORTS && portTable)
            fillCombos(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            createOrRetarget(dialog);
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
