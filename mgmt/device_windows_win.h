// The device configuration windows that the Scan Online Devices window opens.
#pragma once

#include <windows.h>

// Network Configurations (144) for selectedDevice. Returns IDOK when the
// window sent new settings (the caller then scans again), otherwise another
// value; 0 when the window is not available.
INT_PTR openNetworkConfigDialog(HWND owner);

// Configure Device (146) for selectedDevice, from PortConfigTable. Returns
// the window's result; 0 when the window is not available.
INT_PTR openConfigureDeviceDialog(HWND owner);

// What the scan window calls; tests put recorders here.
extern INT_PTR (*showNetworkConfig)(HWND owner);
extern INT_PTR (*showConfigureDevice)(HWND owner);
