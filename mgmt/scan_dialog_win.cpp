// Scan Online Devices: the device list, the scan thread and the row buttons.
#include "mgmt/scan_dialog_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "mgmt/device_ops_win.h"
#include "mgmt/device_table.h"
#include "mgmt/device_windows_win.h"
#include "mgmt/discovery_reply.h"
#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_ids.h"
#include "mgmt/mgmt_packet.h"
#include "mgmt/mgmt_socket_win.h"
#include "res/resource.h"
#include "ui/dpi_win.h"
#include "ui/ui_thread.h"
#include "ui/window_settings.h"

namespace {

// What the scan thread tells the window; wParam is the scan's number.
enum {
    WM_SCAN_BEGIN = WM_APP + 40,  // the table was cleared for this scan
    WM_SCAN_ROWS,                 // records were stored: list every slot not listed yet
    WM_SCAN_EXTRA_ROW,            // lParam: a heap copy of a reply beyond the table
    WM_SCAN_END,
    WM_SCAN_DRAW,                 // sent, and the probe waits: draw the window now
};

// Shared by the scan thread and the user-interface thread; held only for
// short copies and posts, never while waiting for the other thread.
SRWLOCK scanLock = SRWLOCK_INIT;
HWND scanWindow;           // where rows go; null once that window closed
unsigned requestedScan;    // bumped by every startScan
unsigned tableScan;        // the scan whose records DeviceTable holds
unsigned abandonedScan;    // a scan whose rows can no longer be listed
int scanRunning;
int rowsPosted;            // a WM_SCAN_ROWS is on its way: later records ride on it
int rowsWaiting;           // records stored that no WM_SCAN_ROWS on its way covers

// The window is told of stored records whenever no further reply waits to be
// read. While replies keep waiting (a burst from a whole plant floor), it is
// told at most this often, as often as the list is repainted anyway: listing
// rows while the burst is read would take the machine (and under Wine the
// server both threads share) from reading it.
enum { SCAN_ROWS_WAIT_MS = 100 };

// The second of silence that ends a discovery.
enum { SCAN_SILENCE_MS = 1000 };

// The longest a probe waits for its window to be drawn: a window busy
// elsewhere does not hold the scan up for long.
enum { SCAN_DRAW_WAIT_MS = 500 };

// Replies come back to back from a whole plant floor: the scan socket holds a
// burst of 1024 while the thread stores them.
enum { SCAN_RECEIVE_BUFFER = 2 * 1024 * 1024 };

// The scan whose rows the window shows; user-interface thread only.
unsigned shownScan;

// While replies stream in, the list is repainted at most every 100 ms:
// painting after every row would take the machine away from receiving.
enum { LIST_PAINT_TIMER = 1, LIST_PAINT_MS = 100 };
bool listPaintingHeld;

// The list's own procedure, kept where every message can reach it without a
// window-property look-up: under Wine that is a round trip to the server,
// paid by each of the messages that list a row.
WNDPROC oldListProc;

struct Locked {
    Locked() { AcquireSRWLockExclusive(&scanLock); }
    ~Locked() { ReleaseSRWLockExclusive(&scanLock); }
};

// Under the lock: the scan is still the one asked for and may go on.
bool scanWanted(unsigned scan)
{
    return requestedScan == scan && abandonedScan != scan;
}

struct ScanContext {
    SOCKET s;
    unsigned scan;
    DWORD waitingSince;   // when the oldest record the window was not told of was stored
};

// Tells the window about the records stored since it was last told, unless
// a message on its way already covers them. Nothing is posted under the
// lock. Returns 0 when the rows can never be listed: the discovery then
// ends, as a failed insertion ends it, and their records go, so that rows
// and slots agree.
int tellWindow(ScanContext* c)
{
    HWND window;
    int told;
    {
        Locked lock;
        if (!rowsWaiting || rowsPosted)
            return 1;
        window = scanWindow;
        if (!window || !scanWanted(c->scan))
            return 1;
        told = rowsWaiting;
        rowsWaiting = 0;
        rowsPosted = 1;
    }
    if (PostMessageA(window, WM_SCAN_ROWS, c->scan, 0))
        return 1;
    Locked lock;
    rowsPosted = 0;
    while (told-- > 0)
        dropLastDeviceRecord();
    return 0;
}

// Whether a datagram arrives within ms.
bool replyWithin(SOCKET s, int ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

// The scan's socket does not block: a reply that waits is taken at once, and
// only when none waits is the window told of what came, before the wait for
// the next one. A second without a reply, or a receive that fails (an
// oversized datagram among them), ends the discovery.
int receiveForScan(void* context, uint8_t* buffer, int capacity)
{
    ScanContext* c = (ScanContext*)context;
    for (;;) {
        {
            Locked lock;
            if (!scanWanted(c->scan))
                return -1;
        }
        int received = recv(c->s, (char*)buffer, capacity, 0);
        if (received != SOCKET_ERROR)
            return received > capacity ? -1 : received;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return -1;
        if (!tellWindow(c) || !replyWithin(c->s, SCAN_SILENCE_MS))
            return -1;
    }
}

// Stores the reply before its row is asked for, so a listed row always has
// its record. The window is told by receiveForScan when no reply waits, or
// here when records have waited SCAN_ROWS_WAIT_MS. Returns 0 to end the
// discovery.
int takeReply(void* context, const DeviceRecord* record)
{
    ScanContext* c = (ScanContext*)context;
    HWND window;
    int slot;
    {
        Locked lock;
        if (!scanWanted(c->scan))
            return 0;
        slot = storeDeviceRecord(record);
        window = scanWindow;
        if (!window)
            return 1;
        if (slot >= 0) {
            const DWORD now = GetTickCount();
            if (++rowsWaiting == 1)
                c->waitingSince = now;
            if (now - c->waitingSince < SCAN_ROWS_WAIT_MS)
                return 1;
        }
    }
    if (slot >= 0)
        return tellWindow(c);
    // Beyond the table's 1024 slots a reply is listed but has no record.
    DeviceRecord* extra = (DeviceRecord*)HeapAlloc(GetProcessHeap(), 0, sizeof *record);
    if (!extra)
        return 0;
    memcpy(extra, record, sizeof *record);
    if (PostMessageA(window, WM_SCAN_EXTRA_ROW, c->scan, (LPARAM)extra))
        return 1;
    HeapFree(GetProcessHeap(), 0, extra);
    return 0;
}

// Under the lock: tells the window, if it is still there.
void notifyWindow(UINT message, unsigned scan)
{
    if (scanWindow)
        PostMessageA(scanWindow, message, scan, 0);
}

}  // namespace

int discoverDevices(SOCKET s, const sockaddr_in* destination, unsigned scan)
{
    uint8_t probe[MGMT_HEADER_SIZE + MGMT_DISCOVER_LENGTH];
    int length = buildDiscoveryProbe(probe, (int)sizeof probe);
    sendto(s, (const char*)probe, length, 0, (const sockaddr*)destination, sizeof *destination);
    ScanContext context = {s, scan, 0};
    int taken = collectDiscoveryReplies(receiveForScan, &context, takeReply, &context);
    // Whatever ended the discovery, the rows stored last are listed.
    tellWindow(&context);
    return taken;
}

DWORD WINAPI scanThread(LPVOID)
{
    for (;;) {
        unsigned scan;
        {
            Locked lock;
            scan = requestedScan;
        }
        SOCKET s = openMgmtSocket();
        if (s != INVALID_SOCKET) {
            // The system may grant less; the result is not examined.
            int buffer = SCAN_RECEIVE_BUFFER;
            setsockopt(s, SOL_SOCKET, SO_RCVBUF, (const char*)&buffer, sizeof buffer);
            u_long nonBlocking = 1;
            if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
                closesocket(s);
                s = INVALID_SOCKET;
            }
            bool begun = false;
            HWND window = nullptr;
            {
                Locked lock;
                if (requestedScan == scan) {
                    tableScan = scan;
                    rowsPosted = 0;
                    rowsWaiting = 0;
                    clearDeviceTable();
                    notifyWindow(WM_SCAN_BEGIN, scan);
                    window = scanWindow;
                    begun = true;
                }
            }
            if (begun) {
                // The probe waits until the window has been drawn (or for
                // SCAN_DRAW_WAIT_MS): a window that has just opened would
                // otherwise be drawn while the replies pour in, and take the
                // machine from receiving them.
                DWORD_PTR ignored;
                if (window)
                    SendMessageTimeoutA(window, WM_SCAN_DRAW, scan, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                        SCAN_DRAW_WAIT_MS, &ignored);
                sockaddr_in group = {};
                group.sin_family = AF_INET;
                group.sin_addr.s_addr = inet_addr(MGMT_GROUP_ADDRESS);
                group.sin_port = htons(MGMT_PORT);
                discoverDevices(s, &group, scan);
            }
            closesocket(s);
        }
        // Without a socket the list, the table and the button stay as they were.
        Locked lock;
        if (requestedScan == scan) {
            scanRunning = 0;
            notifyWindow(WM_SCAN_END, scan);
            return 0;
        }
    }
}

void startScan(HWND window)
{
    bool spawn;
    {
        Locked lock;
        requestedScan++;
        scanWindow = window;
        spawn = !scanRunning;
        scanRunning = 1;
    }
    if (!spawn)
        return;
    HANDLE thread = CreateThread(nullptr, 0, scanThread, window, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
        return;
    }
    Locked lock;
    scanRunning = 0;
}

int scanInProgress()
{
    Locked lock;
    return scanRunning;
}

namespace {

// Under the lock.
int bindDevice(int device)
{
    if (deviceForRow(device) < 0) {
        selectedDevice = -1;
        return 0;
    }
    memcpy(&selectedRecord, &DeviceTable[device], sizeof selectedRecord);
    selectedDevice = device;
    return 1;
}

}  // namespace

int selectDevice(int device)
{
    Locked lock;
    return bindDevice(device);
}

int copySelectedDevice(DeviceRecord* record)
{
    Locked lock;
    if (selectedDevice < 0)
        return 0;
    int slot = findStoredDevice(selectedRecord.serialNumber, selectedDevice);
    if (slot < 0)
        return -1;
    selectedDevice = slot;
    memcpy(record, &DeviceTable[slot], sizeof *record);
    return 1;
}

namespace {

// The window closes: the scan may run on, but never reaches it again.
void detachScanWindow(HWND dialog)
{
    {
        Locked lock;
        if (scanWindow == dialog)
            scanWindow = nullptr;
    }
    MSG msg;
    while (PeekMessageA(&msg, dialog, WM_SCAN_EXTRA_ROW, WM_SCAN_EXTRA_ROW, PM_REMOVE))
        HeapFree(GetProcessHeap(), 0, (void*)msg.lParam);
}

// The list has met a row it cannot take: the scan reads no further replies.
void abandonScan(unsigned scan)
{
    Locked lock;
    abandonedScan = scan;
}

// The list is looked up once, when the window opens, and kept with it: under
// Wine every GetDlgItem asks the server for the window's children, and a
// burst of replies lists a row every few microseconds.
HWND deviceList(HWND dialog)
{
    return (HWND)GetWindowLongPtrA(dialog, DWLP_USER);
}

void holdListPainting(HWND dialog)
{
    if (listPaintingHeld)
        return;
    SendMessageA(deviceList(dialog), WM_SETREDRAW, FALSE, 0);
    SetTimer(dialog, LIST_PAINT_TIMER, LIST_PAINT_MS, nullptr);
    listPaintingHeld = true;
}

void releaseListPainting(HWND dialog)
{
    if (!listPaintingHeld)
        return;
    KillTimer(dialog, LIST_PAINT_TIMER);
    HWND list = deviceList(dialog);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    listPaintingHeld = false;
}

int appendDeviceRow(HWND dialog, const DeviceRecord* record)
{
    HWND list = deviceList(dialog);
    holdListPainting(dialog);
    char text[DEVICE_CELL_TEXT];
    formatDeviceCell(record, DEVICE_COLUMN_MODEL, text, sizeof text);
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    item.pszText = text;
    int row = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (row < 0)
        return 0;
    for (int column = DEVICE_COLUMN_SN; column < DEVICE_COLUMNS; column++) {
        formatDeviceCell(record, column, text, sizeof text);
        LVITEMA cell = {};
        cell.iSubItem = column;
        cell.pszText = text;
        SendMessageA(list, LVM_SETITEMTEXTA, row, (LPARAM)&cell);
    }
    return 1;
}

// Lists every record of the shown scan that has no row yet, in slot order.
void listStoredRows(HWND dialog, unsigned scan)
{
    static DeviceRecord records[MAX_DEVICES];
    if (scan != shownScan)
        return;
    HWND list = deviceList(dialog);
    // Rows follow the table's slots one to one.
    const int listed = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    int stored;
    {
        Locked lock;
        // Every record stored so far is listed now.
        rowsPosted = 0;
        rowsWaiting = 0;
        if (tableScan != scan)
            return;
        stored = storedDeviceCount();
        for (int slot = listed; slot < stored; slot++)
            memcpy(&records[slot], &DeviceTable[slot], sizeof records[slot]);
    }
    for (int slot = listed; slot < stored; slot++) {
        if (!appendDeviceRow(dialog, &records[slot])) {
            abandonScan(scan);
            return;
        }
    }
}

void listExtraRow(HWND dialog, unsigned scan, DeviceRecord* record)
{
    HWND list = deviceList(dialog);
    listStoredRows(dialog, scan);
    if (scan == shownScan && SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) >= MAX_DEVICES &&
        !appendDeviceRow(dialog, record))
        abandonScan(scan);
    HeapFree(GetProcessHeap(), 0, record);
}

// Begins showing `scan`, unless this or a later scan is shown already: the
// scan's begin may come twice, posted and with WM_SCAN_DRAW, in either order.
void beginShownScan(HWND dialog, unsigned scan)
{
    if ((int)(scan - shownScan) <= 0)
        return;
    shownScan = scan;
    SendMessageA(deviceList(dialog), LVM_DELETEALLITEMS, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDC_SCAN_DEVICE), FALSE);
}

// The scan's probe waits for this to return: the window is drawn now, not
// while the replies arrive. A dialog box that has just opened is shown here,
// as it would be at its first idle moment.
void drawForScan(HWND dialog, unsigned scan)
{
    beginShownScan(dialog, scan);
    if (!IsWindowVisible(dialog))
        ShowWindow(dialog, SW_SHOWNORMAL);
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void endShownScan(HWND dialog)
{
    releaseListPainting(dialog);
    if (!scanInProgress())
        EnableWindow(GetDlgItem(dialog, IDC_SCAN_DEVICE), TRUE);
}

// Selects the device behind the row holding the selection mark and returns
// its slot, or -1: no mark, a row of a scan whose records are gone, or a row
// beyond the table. `record` receives a copy of its record.
int selectRowDevice(HWND dialog, DeviceRecord* record)
{
    int row = (int)SendMessageA(deviceList(dialog), LVM_GETSELECTIONMARK, 0, 0);
    if (row < 0)
        return -1;
    Locked lock;
    if (tableScan != shownScan || !bindDevice(row))
        return -1;
    memcpy(record, &selectedRecord, sizeof *record);
    return row;
}

// After a prompt: the table still holds the records the rows were made from.
bool sameScanShown(unsigned scan)
{
    Locked lock;
    return tableScan == scan && shownScan == scan;
}

void rebootSelected(HWND dialog)
{
    DeviceRecord record;
    int device = selectRowDevice(dialog, &record);
    if (device < 0)
        return;
    unsigned scan = shownScan;
    char format[256] = "";
    LoadStringA(appResources(), IDS_REBOOT_CONFIRM, format, sizeof format);
    char text[512];
    formatRebootPrompt(format, &record, text, sizeof text);
    if (MessageBoxA(dialog, text, "WARNING", MB_OKCANCEL | MB_ICONWARNING) != IDOK)
        return;
    // A scan that replaced the list while the question was open took the device with it.
    if (!sameScanShown(scan))
        return;
    rebootDevice(dialog, device);
}

void networkSettingsOfSelected(HWND dialog)
{
    DeviceRecord record;
    int device = selectRowDevice(dialog, &record);
    if (device < 0)
        return;
    // The device may answer at new addresses now.
    if (showNetworkConfig(dialog) == IDOK)
        startScan(dialog);
}

void deviceSettingsOfSelected(HWND dialog)
{
    DeviceRecord record;
    int device = selectRowDevice(dialog, &record);
    if (device < 0)
        return;
    if (getSerialPortConfigs(dialog, device, 0))
        showConfigureDevice(dialog);
}

void browseSelected(HWND dialog)
{
    DeviceRecord record;
    int device = selectRowDevice(dialog, &record);
    if (device < 0)
        return;
    char address[64];
    formatDeviceWebAddress(&record, address, sizeof address);
    openWebAddress(dialog, address);
}

LRESULT CALLBACK deviceListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC old = oldListProc;
    if (message == WM_LBUTTONDBLCLK)
        deviceSettingsOfSelected(GetParent(list));
    if (message == WM_NCDESTROY)
        SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)old);
    return CallWindowProcA(old, list, message, wParam, lParam);
}

void setUpDeviceList(HWND dialog)
{
    static const int titles[DEVICE_COLUMNS] = {IDS_COL_MODEL, IDS_COL_SN, IDS_COL_FIRMWARE, IDS_COL_IP_ADDRESS,
                                               IDS_COL_WEB_PORT};
    static const int widths[DEVICE_COLUMNS] = {100, 150, 130, 150, 90};
    HWND list = deviceList(dialog);
    for (int i = 0; i < DEVICE_COLUMNS; i++) {
        char title[128] = "";
        LoadStringA(appResources(), titles[i], title, sizeof title);
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = scaleToDpi(widths[i], windowDpi(list));
        column.pszText = title;
        column.iSubItem = i;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&column) < 0)
            return;
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // Every list view has the same procedure: a window opened again finds it there too.
    oldListProc = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)deviceListProc);
}

}  // namespace

INT_PTR CALLBACK scanDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        shownScan = 0;
        listPaintingHeld = false;
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)GetDlgItem(dialog, IDC_DEVICE_LIST));
        setUpDeviceList(dialog);
        startScan(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SCAN_DEVICE:
            startScan(dialog);
            return TRUE;
        case IDC_REBOOT_DEVICE:
            rebootSelected(dialog);
            return TRUE;
        case IDC_NETWORK_SETTINGS:
            networkSettingsOfSelected(dialog);
            return TRUE;
        case IDC_DEVICE_SETTINGS:
            deviceSettingsOfSelected(dialog);
            return TRUE;
        case IDC_BROWSE_DEVICE:
            browseSelected(dialog);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_SCAN_BEGIN:
        beginShownScan(dialog, (unsigned)wParam);
        return TRUE;
    case WM_SCAN_DRAW:
        drawForScan(dialog, (unsigned)wParam);
        return TRUE;
    case WM_SCAN_ROWS:
        listStoredRows(dialog, (unsigned)wParam);
        return TRUE;
    case WM_SCAN_EXTRA_ROW:
        listExtraRow(dialog, (unsigned)wParam, (DeviceRecord*)lParam);
        return TRUE;
    case WM_SCAN_END:
        endShownScan(dialog);
        return TRUE;
    case WM_TIMER:
        if (wParam != LIST_PAINT_TIMER)
            return FALSE;
        releaseListPainting(dialog);
        return TRUE;
    case WM_DESTROY:
        detachScanWindow(dialog);
        return FALSE;
    }
    return FALSE;
}

void openScanDialog(HWND owner)
{
    DialogBoxParamA(appResources(), MAKEINTRESOURCEA(IDD_SCAN_DEVICES), owner, scanDialogProc, 0);
}
