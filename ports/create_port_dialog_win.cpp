// The Create Virtual Serial Port dialog: creates a virtual COM port or
// re-targets the link of an existing one.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ports/config_file.h"
#include "ports/create_port_dialog.h"
#include "ports/host_control.h"
#include "ports/port_checks.h"
#include "ports/port_input.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "ui/ui_thread.h"

int editedEntry = -1;

enum { CHOICE_TEXT_MAX = 64, MESSAGE_MAX = 512 };

static void showError(HWND dialog, const char* text)
{
    MessageBoxA(dialog, text, nullptr, MB_OK | MB_ICONERROR);
}

// Message 111 or 113: a string-table format with one text argument.
static void showStringError(HWND dialog, int id, const char* argument)
{
    char format[256];
    char text[MESSAGE_MAX];
    if (!LoadStringA(appResources(), id, format, sizeof format))
        return;
    snprintf(text, sizeof text, format, argument);
    showError(dialog, text);
}

static void showPortInUse(HWND dialog, int port)
{
    char format[256];
    char text[MESSAGE_MAX];
    if (!LoadStringA(appResources(), IDS_PORT_IN_USE, format, sizeof format))
        return;
    snprintf(text, sizeof text, format, port);
    showError(dialog, text);
}

// The entry being edited, or -1 in create mode (or for an index outside the table).
static int editedIndex()
{
    if (!portTable || editedEntry < 0 || editedEntry >= PORT_TABLE_ENTRIES)
        return -1;
    return editedEntry;
}

static void setFieldText(HWND dialog, int id, const char* field, size_t fieldSize)
{
    char text[ADDRESS_TEXT_MAX + 1];
    copyField(text, sizeof text, field, fieldSize);
    SetDlgItemTextA(dialog, id, text);
}

// Over the owner, or left where the template puts it (centred) without one.
static void centreOnOwner(HWND dialog)
{
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (!owner || !IsWindowVisible(owner) || IsIconic(owner))
        return;
    RECT o, d, work;
    GetWindowRect(owner, &o);
    GetWindowRect(dialog, &d);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int width = d.right - d.left, height = d.bottom - d.top;
    int x = o.left + ((o.right - o.left) - width) / 2;
    int y = o.top + ((o.bottom - o.top) - height) / 2;
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Returns TRUE when the dialog manager should set the focus itself.
static BOOL fillDialog(HWND dialog)
{
    HWND comList = GetDlgItem(dialog, IDC_VIRTUAL_COM);
    HWND connection = GetDlgItem(dialog, IDC_CONNECTION);
    for (int n = 1; n <= COM_CHOICES; n++) {
        char name[16];
        snprintf(name, sizeof name, "COM%d", n);
        SendMessageA(comList, CB_ADDSTRING, 0, (LPARAM)name);
    }
    // Typed texts never outgrow the entry fields they go into.
    SendDlgItemMessageA(dialog, IDC_REMOTE_ADDRESS, EM_LIMITTEXT, ADDRESS_TEXT_MAX, 0);
    SendDlgItemMessageA(dialog, IDC_REMOTE_PORT, EM_LIMITTEXT, PORT_TEXT_MAX, 0);
    SendDlgItemMessageA(dialog, IDC_LOCAL_PORT, EM_LIMITTEXT, PORT_TEXT_MAX, 0);

    int index = editedIndex();
    int udp = 0;
    if (index < 0) {
        SendMessageA(comList, CB_SETCURSEL, 0, 0);
        char port[16];
        snprintf(port, sizeof port, "%d", nextFreeLocalPort());
        SetDlgItemTextA(dialog, IDC_LOCAL_PORT, port);
    } else {
        const PortEntry* e = &portTable->entries[index];
        int number = comNumber(e);
        if (number > 0)
            SendMessageA(comList, CB_SETCURSEL, number <= COM_CHOICES ? number - 1 : -1, 0);
        setFieldText(dialog, IDC_REMOTE_ADDRESS, e->remoteAddress, sizeof e->remoteAddress);
        setFieldText(dialog, IDC_REMOTE_PORT, e->remotePort, sizeof e->remotePort);
        setFieldText(dialog, IDC_LOCAL_PORT, e->localPort, sizeof e->localPort);
        // The COM name of an existing port cannot change.
        EnableWindow(comList, FALSE);
        char protocol[sizeof e->protocol + 1];
        copyField(protocol, sizeof protocol, e->protocol, sizeof e->protocol);
        udp = strcmp(protocol, "tcpc") != 0;
    }
    SendMessageA(connection, CB_ADDSTRING, 0, (LPARAM) "TCP Client");
    SendMessageA(connection, CB_ADDSTRING, 0, (LPARAM) "UDP");
    SendMessageA(connection, CB_SETCURSEL, udp, 0);

    centreOnOwner(dialog);
    if (index < 0)
        return TRUE;
    // The COM list is disabled: start where the user can type.
    SetFocus(GetDlgItem(dialog, IDC_REMOTE_ADDRESS));
    return FALSE;
}

static void createPort(HWND dialog)
{
    char com[CHOICE_TEXT_MAX], address[ADDRESS_TEXT_MAX + 1];
    char remotePort[PORT_TEXT_MAX + 1], localPort[PORT_TEXT_MAX + 1], connection[CHOICE_TEXT_MAX];
    GetDlgItemTextA(dialog, IDC_VIRTUAL_COM, com, sizeof com);
    GetDlgItemTextA(dialog, IDC_REMOTE_ADDRESS, address, sizeof address);
    if (hasSpace(address)) {
        showStringError(dialog, IDS_INVALID_ADDRESS, address);
        return;
    }
    GetDlgItemTextA(dialog, IDC_REMOTE_PORT, remotePort, sizeof remotePort);
    GetDlgItemTextA(dialog, IDC_LOCAL_PORT, localPort, sizeof localPort);
    // A port of ours whose device is not visible (yet) counts as existing too.
    if (findEntryByComName(portTable, com) >= 0 || !isComNameFree(com)) {
        showStringError(dialog, IDS_COM_EXISTS, com);
        return;
    }
    GetDlgItemTextA(dialog, IDC_CONNECTION, connection, sizeof connection);
    const char* protocol = protocolWordFor(connection);
    int index = findFreeEntry(portTable);
    if (index < 0) {
        showError(dialog, "Reached the MAX number of VCOM!");
        return;
    }
    char nullName[CHOICE_TEXT_MAX + 8];
    snprintf(nullName, sizeof nullName, "NULL_%s", com);
    if (!createPortPair(com, nullName)) {
        // Without the driver library the port could never work: keep the table clean.
        char text[MESSAGE_MAX];
        snprintf(text, sizeof text,
                 "Failed to create %s: the virtual serial driver library " DRIVER_LIBRARY_NAME " is not loaded!", com);
        showError(dialog, text);
        return;
    }
    char portName[CHOICE_TEXT_MAX + COM_NAME_PREFIX_LEN];
    snprintf(portName, sizeof portName, PORT_NAME_PREFIX "%s", com);
    writePortEntry(portTable, index, portName, address, remotePort, "enable", protocol, localPort);
    writeConfigFile();
    EndDialog(dialog, IDOK);
}

static void editPort(HWND dialog, int index)
{
    PortEntry* e = &portTable->entries[index];
    char address[ADDRESS_TEXT_MAX + 1];
    GetDlgItemTextA(dialog, IDC_REMOTE_ADDRESS, address, sizeof address);
    if (hasSpace(address)) {
        showStringError(dialog, IDS_INVALID_ADDRESS, address);
        return;
    }
    char remotePort[PORT_TEXT_MAX + 1], localPort[PORT_TEXT_MAX + 1], connection[CHOICE_TEXT_MAX];
    GetDlgItemTextA(dialog, IDC_REMOTE_PORT, remotePort, sizeof remotePort);
    GetDlgItemTextA(dialog, IDC_LOCAL_PORT, localPort, sizeof localPort);
    GetDlgItemTextA(dialog, IDC_CONNECTION, connection, sizeof connection);

    char ownAddress[sizeof e->remoteAddress + 1], ownRemotePort[sizeof e->remotePort + 1];
    char ownLocalPort[sizeof e->localPort + 1], ownProtocol[sizeof e->protocol + 1];
    copyField(ownAddress, sizeof ownAddress, e->remoteAddress, sizeof e->remoteAddress);
    copyField(ownRemotePort, sizeof ownRemotePort, e->remotePort, sizeof e->remotePort);
    copyField(ownLocalPort, sizeof ownLocalPort, e->localPort, sizeof e->localPort);
    copyField(ownProtocol, sizeof ownProtocol, e->protocol, sizeof e->protocol);

    // The port's own local port is held by the host: that one may stay.
    int udp = strcmp(connection, "UDP") == 0;
    const char* protocol = udp ? "udp" : "tcpc";
    int number = leadingNumber(localPort);
    int bindable = udp ? localPortFreeUdp(number) : localPortFreeTcp(number);
    if (!bindable && strcmp(localPort, ownLocalPort) != 0) {
        showPortInUse(dialog, number);
        return;
    }
    if (strcmp(remotePort, ownRemotePort) != 0 || strcmp(address, ownAddress) != 0 ||
        strcmp(protocol, ownProtocol) != 0 || strcmp(localPort, ownLocalPort) != 0)
        retargetPortEntry(portTable, index, remotePort, localPort, protocol, address);
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK createPortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return fillDialog(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            if (!portTable)
                return TRUE;
            int index = editedIndex();
            if (index < 0)
                createPort(dialog);
            else
                editPort(dialog, index);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR runCreatePortDialog(HWND owner)
{
    if (!portTable)
        return 0;
    return DialogBoxParamA(appResources(), MAKEINTRESOURCEA(IDD_CREATE_PORT), owner, createPortDialogProc, 0);
}

void openCreatePortDialog(HWND owner)
{
    runCreatePortDialog(owner);
}
