// The four authenticated device operations, and the serial-port settings they read and write.
#pragma once

#include <windows.h>

#include <cstdint>

#include "mgmt/device_records.h"

// Serial-port settings of the device most recently queried: slot i is its
// serial port i + 1.
extern SerialPortConfig PortConfigTable[MAX_DEVICE_PORTS];
extern int portConfigCount;
extern int selectedPort;   // slot of the port being configured

// Each operation acts on the stored device at `device` (callers set
// selectedDevice to it first), runs the request-authenticate-retry exchange
// on the calling thread and shows its own failure message, owned by `owner`.
// A device index without a stored record sends nothing.
void rebootDevice(HWND owner, int device);
void setDeviceNetwork(HWND owner, int device, const NetworkConfig* config);

// Fills PortConfigTable and portConfigCount. Returns 1 when the device
// reported its ports (or plainly status 0).
int getSerialPortConfigs(HWND owner, int device, uint8_t argument);

// Writes `config` to port selectedPort + 1 of device selectedDevice. Returns
// 1 when the device reported status 0.
int setSerialPortConfig(HWND owner, const SerialPortConfig* config);
