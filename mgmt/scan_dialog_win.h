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
// Makes the stored device at `device` the one the next operations act on
// (selectedDevice and selectedRecord). Returns 0, leaving no device
// selected, when that slot holds no record.
int selectDevice(int device);

// Copies the current record of the selected device, wherever the scans
// since it was selected have put it (selectedDevice follows it). Returns 1,
// 0 when no device is selected, -1 when the table no longer has it.
int copySelectedDevice(DeviceRecord* record);

INT_PTR CALLBACK scanDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The main window's entry: the window, modal, scanning as it opens.
void openScanDialog(HWND owner);
