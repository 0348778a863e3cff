// The device table's slots and the texts shown for a device in the scan list.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "mgmt/device_table.h"

namespace {

DeviceRecord makeRecord(const char* serial, const char* model)
{
    DeviceRecord r;
    memset(&r, 0, sizeof r);
    memcpy(r.serialNumber, serial, strnlen(serial, sizeof r.serialNumber));
    memcpy(r.model, model, strnlen(model, sizeof r.model));
    return r;
}

std::string cell(const DeviceRecord& r, int column)
{
    char text[DEVICE_CELL_TEXT];
    memset(text, 'X', sizeof text);
    formatDeviceCell(&r, column, text, sizeof text);
    return text;
}

}  // namespace

TEST(DeviceCells, ShowModelSerialFirmwareAddressAndWebPort)
{
    DeviceRecord r = makeRecord("SN42", "DS-2");
    r.firmwareVersion[0] = 3, r.firmwareVersion[1] = 1, r.firmwareVersion[2] = 7;
    uint8_t address[4] = {10, 231, 1, 200};
    memcpy(&r.network.ipAddress, address, 4);
    uint8_t* port = (uint8_t*)&r.webPort;
    port[0] = 0x90, port[1] = 0x1F;   // 8080, little-endian

    EXPECT_EQ("DS-2", cell(r, DEVICE_COLUMN_MODEL));
    EXPECT_EQ("SN42", cell(r, DEVICE_COLUMN_SN));
    EXPECT_EQ("3.1.07\n", cell(r, DEVICE_COLUMN_FIRMWARE));
    EXPECT_EQ("10.231.1.200", cell(r, DEVICE_COLUMN_IP));
    EXPECT_EQ("8080", cell(r, DEVICE_COLUMN_WEB_PORT));
    EXPECT_EQ("", cell(r, DEVICE_COLUMNS));

    // Each firmware byte prints unsigned, the build always with two digits.
    r.firmwareVersion[0] = 255, r.firmwareVersion[1] = 0, r.firmwareVersion[2] = 123;
    EXPECT_EQ("255.0.123\n", cell(r, DEVICE_COLUMN_FIRMWARE));
    memset(&r.network.ipAddress, 0xFF, 4);
    EXPECT_EQ("255.255.255.255", cell(r, DEVICE_COLUMN_IP));
    port[0] = 0xFF, port[1] = 0xFF;
    EXPECT_EQ("65535", cell(r, DEVICE_COLUMN_WEB_PORT));
}

TEST(DeviceCells, FullWidthTextFieldsStopAtTheirOwnBytes)
{
    DeviceRecord r = makeRecord("ABCDEFGHIJKL", "0123456789ABCDEF");
    // Whatever follows each field must not run into its text.
    memset(r.reserved1, 'z', sizeof r.reserved1);
    r.firmwareVersion[0] = 'q';
    EXPECT_EQ("ABCDEFGHIJKL", cell(r, DEVICE_COLUMN_SN));
    EXPECT_EQ("0123456789ABCDEF", cell(r, DEVICE_COLUMN_MODEL));

    char serial[DEVICE_SERIAL_TEXT];
    deviceSerialText(&r, serial);
    EXPECT_STREQ("ABCDEFGHIJKL", serial);
    char model[DEVICE_MODEL_TEXT];
    deviceModelText(&r, model);
    EXPECT_STREQ("0123456789ABCDEF", model);

    // A NUL inside the serial number ends it there.
    r.serialNumber[4] = '\0';
    EXPECT_EQ("ABCD", cell(r, DEVICE_COLUMN_SN));
}

TEST(DeviceCells, SmallBuffersAreCutNotOverrun)
{
    DeviceRecord r = makeRecord("ABCDEFGHIJKL", "0123456789ABCDEF");
    char text[8];
    memset(text, 'X', sizeof text);
    formatDeviceCell(&r, DEVICE_COLUMN_MODEL, text, 5);
    EXPECT_STREQ("0123", text);
    EXPECT_EQ('X', text[5]);
    formatDeviceCell(&r, DEVICE_COLUMN_SN, text, 0);
    EXPECT_EQ('0', text[0]);
}

TEST(DeviceTexts, WebAddressAndRebootQuestion)
{
    DeviceRecord r = makeRecord("ABCDEFGHIJKL", "0123456789ABCDEF");
    uint8_t address[4] = {10, 231, 1, 3};
    memcpy(&r.network.ipAddress, address, 4);
    r.webPort = 80;
    char text[128];
    formatDeviceWebAddress(&r, text, sizeof text);
    EXPECT_STREQ("http://10.231.1.3:80", text);

    formatRebootPrompt("Are you sure to reboot the device %s %s ?", &r, text, sizeof text);
    EXPECT_STREQ("Are you sure to reboot the device 0123456789ABCDEF ABCDEFGHIJKL ?", text);
}

TEST(DeviceTableSlots, StoresInOrderUpToTheLastSlotThenRefuses)
{
    clearDeviceTable();
    EXPECT_EQ(0, storedDeviceCount());
    EXPECT_EQ(-1, deviceForRow(0));
    DeviceRecord r = makeRecord("S", "M");
    for (int i = 0; i < MAX_DEVICES; i++) {
        r.webPort = (uint16_t)i;
        ASSERT_EQ(i, storeDeviceRecord(&r));
    }
    EXPECT_EQ(-1, storeDeviceRecord(&r));
    EXPECT_EQ(MAX_DEVICES, storedDeviceCount());
    EXPECT_EQ(5, DeviceTable[5].webPort);
    EXPECT_EQ(MAX_DEVICES - 1, deviceForRow(MAX_DEVICES - 1));
    EXPECT_EQ(-1, deviceForRow(MAX_DEVICES));
    EXPECT_EQ(-1, deviceForRow(-1));

    dropLastDeviceRecord();
    EXPECT_EQ(MAX_DEVICES - 1, storedDeviceCount());
    EXPECT_EQ(-1, deviceForRow(MAX_DEVICES - 1));
    EXPECT_EQ(0, DeviceTable[MAX_DEVICES - 1].webPort);

    clearDeviceTable();
    EXPECT_EQ(0, storedDeviceCount());
    EXPECT_EQ(0, DeviceTable[5].webPort);
    dropLastDeviceRecord();
    EXPECT_EQ(0, storedDeviceCount());
}

// A reader that sees a slot counted also sees its whole record.
TEST(DeviceTableSlots, CountedSlotIsCompleteForAnotherThread)
{
    clearDeviceTable();
    std::atomic<int> torn{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            int n = storedDeviceCount();
            for (int i = 0; i < n; i++) {
                const DeviceRecord& r = DeviceTable[i];
                if (r.webPort != (uint16_t)(i + 1) || r.reserved4[25] != (uint8_t)(i + 1))
                    torn++;
            }
        }
    });
    DeviceRecord r = makeRecord("S", "M");
    for (int i = 0; i < MAX_DEVICES; i++) {
        r.webPort = (uint16_t)(i + 1);
        r.reserved4[25] = (uint8_t)(i + 1);
        storeDeviceRecord(&r);
    }
    done = true;
    reader.join();
    EXPECT_EQ(0, torn.load());
    clearDeviceTable();
}
