// Configure Device: a device's serial ports, the virtual COM port bound to
// each, and the way into the automatic port creation.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "devcfg/devcfg_ids.h"
#include "devcfg/devcfg_win.h"
#include "devcfg/device_texts.h"
#include "mgmt/device_ops_win.h"
#include "mgmt/device_table.h"
#include "mgmt/line_settings.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "ui/dpi_win.h"
#include "ui/ui_thread.h"
#include "ui/window_settings.h"

#undef interface

enum { DEVICE_PORT_COLUMNS = 7, REFRESH_WAIT_MS = 1000 };

static const int columnTitles[DEVICE_PORT_COLUMNS] = {
    IDS_COL_SERIAL_PORT, IDS_COL_INTERFACE, IDS_COL_VIRTUAL_COM, IDS_COL_BAUDRATE,
    IDS_COL_DATA_BIT,    IDS_COL_PARITY,    IDS_COL_STOP_BIT,
};
static const int columnWidths[DEVICE_PORT_COLUMNS] = {80, 70, 80, 130, 110, 90, 90};

static HWND devicePortList;
static WNDPROC listViewProc;

static void setCell(int row, int column, const char* text)
{
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(devicePortList, LVM_SETITEMTEXTA, row, (LPARAM)&item);
}

void addDevicePortRow(int i)
{
    if (i < 0 || i >= MAX_DEVICE_PORTS)
        return;
    char text[32];
    snprintf(text, sizeof text, "%d", i + 1);
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = (int)SendMessageA(devicePortList, LVM_GETITEMCOUNT, 0, 0);
    item.pszText = text;
    int row = (int)SendMessageA(devicePortList, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (row < 0)
        return;
    const SerialPortConfig& c = PortConfigTable[i];
    setCell(row, 1, interfaceName(c.interface));
    char com[COM_NAME_MAX + 1];
    if (findPortMapping(i, com) >= 0)
        setCell(row, 2, com);
    snprintf(text, sizeof text, "%u", lineBaudRate(c.lineSettings));
    setCell(row, 3, text);
    setCell(row, 4, dataBitsName(lineDataBits(c.lineSettings)));
    setCell(row, 5, parityName(lineParity(c.lineSettings)));
    setCell(row, 6, stopBitsName(lineStopBits(c.lineSettings)));
}

static void addAllRows()
{
    int count = portConfigCount < MAX_DEVICE_PORTS ? portConfigCount : MAX_DEVICE_PORTS;
    for (int i = 0; i < count; i++)
        addDevicePortRow(i);
}

void refreshDevicePortList(HWND dialog)
{
    SendMessageA(devicePortList, LVM_DELETEALLITEMS, 0, 0);
    Sleep(REFRESH_WAIT_MS);
    if (getSerialPortConfigs(dialog, selectedDevice, 0))
        addAllRows();
}

static void mapSelectedPort(HWND dialog)
{
    if (!devicePortList)
        return;
    int row = (int)SendMessageA(devicePortList, LVM_GETSELECTIONMARK, 0, 0);
    if (row < 0 || row >= portConfigCount)
        return;
    selectedPort = row;
    if (DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_AUTO_CREATE_PORT), dialog, autoCreatePortDialogProc, 0) ==
        IDOK)
        refreshDevicePortList(dialog);
}

static LRESULT CALLBACK devicePortListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LBUTTONDBLCLK)
        mapSelectedPort(GetParent(list));
    return CallWindowProcA(listViewProc, list, message, wParam, lParam);
}

static void setUp(HWND dialog)
{
    devicePortList = GetDlgItem(dialog, IDC_DEVICE_PORT_LIST);
    for (int c = 0; c < DEVICE_PORT_COLUMNS; c++) {
        char title[128];
        LoadStringA(appInstance, columnTitles[c], title, sizeof title);
        LVCOLUMNA col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        col.fmt = LVCFMT_LEFT;
        col.cx = scaleToDpi(columnWidths[c], windowDpi(devicePortList));
        col.pszText = title;
        col.iSubItem = c;
        if (SendMessageA(devicePortList, LVM_INSERTCOLUMNA, c, (LPARAM)&col) == -1)
            return;
    }
    SendMessageA(devicePortList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    listViewProc = (WNDPROC)SetWindowLongPtrA(devicePortList, GWLP_WNDPROC, (LONG_PTR)devicePortListProc);
    addAllRows();
}

INT_PTR CALLBACK configureDeviceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        setUp(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_MAP_SERIAL_PORT:
            mapSelectedPort(dialog);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            offerDeviceReboot(dialog);
            devicePortList = nullptr;
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
