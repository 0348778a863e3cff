// The devices found by the last scan, and the texts the scan window shows for them.
#pragma once

#include <cstdint>

#include "mgmt/device_records.h"

enum { MAX_DEVICES = 1024 };

// Slot i holds the device of row i of the scan list. The scan thread clears
// the table and appends to it; the user-interface thread reads it. A slot is
// complete before deviceCount counts it, so a counted slot is always whole.
extern DeviceRecord DeviceTable[MAX_DEVICES];
extern int deviceCount;
extern int selectedDevice;   // the device the current operation acts on
// The record of the device the user picked for the current operation: the
// operation acts on this device (by serial number) wherever a later scan puts it.
extern DeviceRecord selectedRecord;

void clearDeviceTable();

// Copies `record` into slot deviceCount and only then counts it. Returns the
// slot, or -1 when all slots are taken.
int storeDeviceRecord(const DeviceRecord* record);

// Forgets the most recently stored record (its row could not be listed).
void dropLastDeviceRecord();

// deviceCount as another thread published it.
int storedDeviceCount();

// The counted slot holding the device with `serialNumber`, `hint` tried
// first; -1 when the table no longer has it.
int findStoredDevice(const uint8_t serialNumber[12], int hint);

// The slot behind list row `row`, or -1 when that row has no stored record
// (a row beyond the 1024th, or one not stored yet).
int deviceForRow(int row);

// Columns of the scan list.
enum { DEVICE_COLUMN_MODEL, DEVICE_COLUMN_SN, DEVICE_COLUMN_FIRMWARE, DEVICE_COLUMN_IP, DEVICE_COLUMN_WEB_PORT,
       DEVICE_COLUMNS };

enum {
    DEVICE_MODEL_TEXT = 17,    // 16 bytes, terminated even when the device sent none
    DEVICE_SERIAL_TEXT = 13,   // 12 bytes and the terminator
    DEVICE_ADDRESS_TEXT = 16,  // "255.255.255.255"
    DEVICE_CELL_TEXT = 32,
};

void deviceModelText(const DeviceRecord* record, char text[DEVICE_MODEL_TEXT]);
void deviceSerialText(const DeviceRecord* record, char text[DEVICE_SERIAL_TEXT]);
void deviceAddressText(const DeviceRecord* record, char text[DEVICE_ADDRESS_TEXT]);
int deviceWebPort(const DeviceRecord* record);

// The text of one cell of the scan list; an unknown column gives "".
void formatDeviceCell(const DeviceRecord* record, int column, char* text, int size);

// "http://ADDRESS:PORT" of the device's web page.
void formatDeviceWebAddress(const DeviceRecord* record, char* text, int size);

// The reboot question: `format` takes the model and the serial number, in that order.
void formatRebootPrompt(const char* format, const DeviceRecord* record, char* text, int size);
