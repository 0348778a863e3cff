// The discovered devices' table and the texts shown for a device.
#include "mgmt/device_table.h"

#include <cstdio>
#include <cstring>

#include "mgmt/mgmt_packet.h"

DeviceRecord DeviceTable[MAX_DEVICES];
int deviceCount;
int selectedDevice = -1;
DeviceRecord selectedRecord;

void clearDeviceTable()
{
    __atomic_store_n(&deviceCount, 0, __ATOMIC_RELEASE);
    memset(DeviceTable, 0, sizeof DeviceTable);
}

int storeDeviceRecord(const DeviceRecord* record)
{
    int slot = __atomic_load_n(&deviceCount, __ATOMIC_ACQUIRE);
    if (slot < 0 || slot >= MAX_DEVICES)
        return -1;
    memcpy(&DeviceTable[slot], record, sizeof *record);
    // Published only once the copy is complete.
    __atomic_store_n(&deviceCount, slot + 1, __ATOMIC_RELEASE);
    return slot;
}

void dropLastDeviceRecord()
{
    int count = __atomic_load_n(&deviceCount, __ATOMIC_ACQUIRE);
    if (count <= 0)
        return;
    __atomic_store_n(&deviceCount, count - 1, __ATOMIC_RELEASE);
    memset(&DeviceTable[count - 1], 0, sizeof DeviceTable[0]);
}

int storedDeviceCount()
{
    return __atomic_load_n(&deviceCount, __ATOMIC_ACQUIRE);
}

int findStoredDevice(const uint8_t serialNumber[12], int hint)
{
    int count = storedDeviceCount();
    if (count > MAX_DEVICES)
        count = MAX_DEVICES;
    if (hint >= 0 && hint < count && memcmp(DeviceTable[hint].serialNumber, serialNumber, 12) == 0)
        return hint;
    for (int slot = 0; slot < count; slot++)
        if (memcmp(DeviceTable[slot].serialNumber, serialNumber, 12) == 0)
            return slot;
    return -1;
}

int deviceForRow(int row)
{
    if (row < 0 || row >= MAX_DEVICES || row >= storedDeviceCount())
        return -1;
    return row;
}

// A fixed-size text field that may fill its bytes without a terminator.
static void fieldText(const void* field, int fieldSize, char* text)
{
    const char* bytes = (const char*)field;
    int n = 0;
    while (n < fieldSize && bytes[n] != '\0')
        n++;
    memcpy(text, bytes, (size_t)n);
    text[n] = '\0';
}

void deviceModelText(const DeviceRecord* record, char text[DEVICE_MODEL_TEXT])
{
    fieldText(record->model, (int)sizeof record->model, text);
}

void deviceSerialText(const DeviceRecord* record, char text[DEVICE_SERIAL_TEXT])
{
    fieldText(record->serialNumber, (int)sizeof record->serialNumber, text);
}

void deviceAddressText(const DeviceRecord* record, char text[DEVICE_ADDRESS_TEXT])
{
    // Network byte order: the octets sit in memory in their dotted order.
    const uint8_t* a = (const uint8_t*)&record->network.ipAddress;
    snprintf(text, DEVICE_ADDRESS_TEXT, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
}

int deviceWebPort(const DeviceRecord* record)
{
    return getLe16((const uint8_t*)&record->webPort);
}

void formatDeviceCell(const DeviceRecord* record, int column, char* text, int size)
{
    if (size <= 0)
        return;
    char field[DEVICE_MODEL_TEXT];
    switch (column) {
    case DEVICE_COLUMN_MODEL:
        deviceModelText(record, field);
        snprintf(text, (size_t)size, "%s", field);
        return;
    case DEVICE_COLUMN_SN:
        deviceSerialText(record, field);
        snprintf(text, (size_t)size, "%s", field);
        return;
    case DEVICE_COLUMN_FIRMWARE:
        snprintf(text, (size_t)size, "%d.%d.%02d\n", record->firmwareVersion[0], record->firmwareVersion[1],
                 record->firmwareVersion[2]);
        return;
    case DEVICE_COLUMN_IP:
        deviceAddressText(record, field);
        snprintf(text, (size_t)size, "%s", field);
        return;
    case DEVICE_COLUMN_WEB_PORT:
        snprintf(text, (size_t)size, "%d", deviceWebPort(record));
        return;
    }
    text[0] = '\0';
}

void formatDeviceWebAddress(const DeviceRecord* record, char* text, int size)
{
    char address[DEVICE_ADDRESS_TEXT];
    deviceAddressText(record, address);
    snprintf(text, (size_t)size, "http://%s:%d", address, deviceWebPort(record));
}

void formatRebootPrompt(const char* format, const DeviceRecord* record, char* text, int size)
{
    char model[DEVICE_MODEL_TEXT];
    char serial[DEVICE_SERIAL_TEXT];
    deviceModelText(record, model);
    deviceSerialText(record, serial);
    snprintf(text, (size_t)size, format, model, serial);
}
