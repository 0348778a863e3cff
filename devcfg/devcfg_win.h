// The device configuration windows (Win32).
#pragma once
#include <windows.h>

#include <cstdint>

INT_PTR CALLBACK networkConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK configureDeviceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK autoCreatePortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Configure Device's list: appends the row of PortConfigTable slot `index`;
// rebuilds every row from a new query of selectedDevice, a second after asked.
void addDevicePortRow(int index);
void refreshDevicePortList(HWND dialog);

// The PC's IPv4 address (network byte order) from its host name; 1 on success.
int getLocalAddress(uint32_t* address);

// The entry bound to PortConfigTable slot `port` of selectedDevice, or -1;
// comNameOut (COM_NAME_MAX + 1 bytes) receives its COM name when found.
int findPortMapping(int port, char* comNameOut);

// Asks whether to reboot selectedDevice so new settings take effect, and
// reboots it on OK. The question belongs to both configuration windows.
void offerDeviceReboot(HWND owner);
