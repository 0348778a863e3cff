// The Scan Online Devices window: discovery on a thread of its own, and the row buttons.
#pragma once

#include <winsock2.h>
#include <windows.h>

// Asks for a scan reporting to `window`. A scan already running is given up
// at its next datagram (or time-out) and the new one starts in its place, so
// the list and DeviceTable are only ever written by one scan.
void startScan(HWND window);

// The scan thread: runs scans until no newer one is asked for.
DWORD WINAPI scanThread(LPVOID window);

// Sends the probe to `destination` and stores and lists every valid reply
// of scan `scan` until one second passes in silence. Returns the replies taken.
int discoverDevices(SOCKET s, const sockaddr_in* destination, unsigned scan);

// 1 while a scan thread runs.
int scanInProgress();

struct DeviceRecord;
// Copies the stored record of `device`, never while a scan is rewriting the
// table. Returns 0 when that slot holds no record.
int copyStoredDevice(int device, DeviceRecord* record);

INT_PTR CALLBACK scanDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// void openScanDialog(HWND owner), the main window's entry, is declared in app/app.h.
