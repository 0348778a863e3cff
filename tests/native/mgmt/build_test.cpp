// Datagram building: the probe, authenticated requests and the line settings word.
#include <gtest/gtest.h>

#include "mgmt/credentials.h"
#include "mgmt/crc32.h"
#include "mgmt/device_records.h"
#include "mgmt/line_settings.h"
#include "mgmt_test_util.h"

TEST(DiscoveryProbe, ExactBytes)
{
    uint8_t buf[64];
    ASSERT_EQ(12, buildDiscoveryProbe(buf, sizeof buf));
    EXPECT_EQ("80000400a701b455aabbccdd", hex(buf, 12));
    EXPECT_EQ(0, buildDiscoveryProbe(buf, 11));
}

static DeviceRecord deviceWithSerial(const char* serial)
{
    DeviceRecord d = {};
    memcpy(d.serialNumber, serial, strnlen(serial, 12));
    return d;
}

TEST(AuthenticatedRequest, SizesOfEveryCommand)
{
    DeviceRecord d = deviceWithSerial("ABCDEFGHIJKL");
    uint8_t buf[MGMT_MAX_DATAGRAM];
    uint8_t one = 1, zero = 0;
    NetworkConfig net = {};
    uint8_t portWrite[1 + sizeof(SerialPortConfig)] = {1};

    EXPECT_EQ(37, buildAuthenticatedRequest(buf, sizeof buf, MGMT_REBOOT, &d, &one, 1));
    EXPECT_EQ(64, buildAuthenticatedRequest(buf, sizeof buf, MGMT_SET_NETWORK, &d, (const uint8_t*)&net, sizeof net));
    EXPECT_EQ(37, buildAuthenticatedRequest(buf, sizeof buf, MGMT_GET_SERIAL_CONFIG, &d, &zero, 1));
    EXPECT_EQ(105, buildAuthenticatedRequest(buf, sizeof buf, MGMT_SET_SERIAL_CONFIG, &d, portWrite, sizeof portWrite));
    EXPECT_EQ(MGMT_REBOOT_LENGTH + 8, 37);
    EXPECT_EQ(MGMT_SET_SERIAL_CONFIG_LENGTH + 8, 105);
}

TEST(AuthenticatedRequest, LayoutOfASerialPortWrite)
{
    DeviceRecord d = deviceWithSerial("SN0123456789");  // all 12 bytes, no terminator
    SerialPortConfig cfg = {};
    cfg.lineSettings = packLineSettings(0, 115200, DEVICE_PARITY_NONE, DEVICE_DATA_BITS_8, DEVICE_STOP_BITS_1);
    strcpy(cfg.peerAddress, "10.231.0.1");
    cfg.devicePort = 4001;
    cfg.workMode = WORK_MODE_TCP;
    uint8_t command[1 + sizeof cfg];
    command[0] = 1;  // first serial port
    memcpy(command + 1, &cfg, sizeof cfg);

    uint8_t buf[MGMT_MAX_DATAGRAM];
    int n = buildAuthenticatedRequest(buf, sizeof buf, MGMT_SET_SERIAL_CONFIG, &d, command, sizeof command);
    ASSERT_EQ(105, n);
    EXPECT_EQ("1400", hex(buf, 2));
    EXPECT_EQ(97, getLe16(buf + 2));
    EXPECT_EQ(crc32(buf + 8, 97), getLe32(buf + 4));
    EXPECT_EQ(0, memcmp(buf + 8, "SN0123456789", 12));
    EXPECT_EQ("c677aaaa435000708ba5dd50ccc3affc", hex(buf + 20, 16));
    EXPECT_EQ(1, buf[36]);
    EXPECT_EQ("00c28105", hex(buf + 37, 4));           // 115200 8N1, little-endian
    EXPECT_STREQ("10.231.0.1", (const char*)buf + 41);
    EXPECT_EQ(4001, getLe16(buf + 37 + 38));
    EXPECT_EQ(WORK_MODE_TCP, buf[37 + 40]);
}

TEST(AuthenticatedRequest, DigestIsTakenFreshFromTheCredentials)
{
    DeviceRecord d = deviceWithSerial("X1");
    uint8_t zero = 0, buf[64];
    buildAuthenticatedRequest(buf, sizeof buf, MGMT_GET_SERIAL_CONFIG, &d, &zero, 1);
    EXPECT_EQ("c677aaaa435000708ba5dd50ccc3affc", hex(buf + 20, 16));
    memset(deviceUserName, 0, sizeof deviceUserName);
    memset(devicePassword, 0, sizeof devicePassword);
    buildAuthenticatedRequest(buf, sizeof buf, MGMT_GET_SERIAL_CONFIG, &d, &zero, 1);
    EXPECT_EQ("99b9e831884e2834356efe90aebdf5be", hex(buf + 20, 16));
    strcpy(deviceUserName, "tolmo");
    strcpy(devicePassword, "tolmo");
}

TEST(AuthenticatedRequest, RefusesWhatDoesNotFit)
{
    DeviceRecord d = deviceWithSerial("X");
    uint8_t buf[MGMT_MAX_DATAGRAM + 100];
    uint8_t big[MGMT_MAX_DATAGRAM] = {};
    EXPECT_EQ(0, buildAuthenticatedRequest(buf, 36, MGMT_REBOOT, &d, big, 1));
    EXPECT_EQ(0, buildAuthenticatedRequest(buf, sizeof buf, MGMT_REBOOT, &d, big, MGMT_MAX_PAYLOAD - 27));
    EXPECT_EQ(MGMT_MAX_DATAGRAM,
              buildAuthenticatedRequest(buf, sizeof buf, MGMT_REBOOT, &d, big, MGMT_MAX_PAYLOAD - 28));
    EXPECT_EQ(0, buildAuthenticatedRequest(buf, sizeof buf, MGMT_REBOOT, &d, big, -1));
}

TEST(LineSettings, PackAndUnpack)
{
    uint32_t w = packLineSettings(0, 115200, DEVICE_PARITY_NONE, DEVICE_DATA_BITS_8, DEVICE_STOP_BITS_1);
    EXPECT_EQ(0x0581C200u, w);
    uint8_t wire[4];
    putLe32(wire, w);
    EXPECT_EQ("00c28105", hex(wire, 4));

    w = packLineSettings(0, 9600, DEVICE_PARITY_ODD, DEVICE_DATA_BITS_7, DEVICE_STOP_BITS_2);
    EXPECT_EQ(9600u, lineBaudRate(w));
    EXPECT_EQ((uint32_t)DEVICE_PARITY_ODD, lineParity(w));
    EXPECT_EQ((uint32_t)DEVICE_DATA_BITS_7, lineDataBits(w));
    EXPECT_EQ((uint32_t)DEVICE_STOP_BITS_2, lineStopBits(w));

    // Highest baud rate fits, and no field spills into its neighbour.
    w = packLineSettings(0, 1048575, 0, 0, 0);
    EXPECT_EQ(0x000FFFFFu, w);
    w = packLineSettings(0, 0x1FFFFF, 9, 9, 9);
    EXPECT_EQ(0xFFFFFu, lineBaudRate(w));
    EXPECT_EQ(1u, lineParity(w));
    EXPECT_EQ(0u, w & LINE_KEPT_MASK);
}

TEST(LineSettings, KeepsTheDevicesTopBits)
{
    uint32_t fromDevice = 0xA0000000u | packLineSettings(0, 300, DEVICE_PARITY_EVEN, DEVICE_DATA_BITS_5, DEVICE_STOP_BITS_0_5);
    uint32_t w = packLineSettings(fromDevice, 115200, DEVICE_PARITY_NONE, DEVICE_DATA_BITS_8, DEVICE_STOP_BITS_1);
    EXPECT_EQ(0xA581C200u, w);
}
