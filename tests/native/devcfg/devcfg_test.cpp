// Device settings texts, the search for a bound port, and the working copy
// that goes back to a device.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

#include "devcfg/auto_port.h"
#include "devcfg/device_texts.h"
#include "devcfg/port_mapping.h"
#include "mgmt/line_settings.h"
#include "tests/native/ports/table_fixture.h"

TEST(DeviceTexts, CodesAndTextsBothWays)
{
    EXPECT_STREQ("RS-232", interfaceName(1));
    EXPECT_STREQ("RS-485", interfaceName(2));
    EXPECT_STREQ("TTL", interfaceName(4));
    EXPECT_STREQ(" ", interfaceName(3));
    EXPECT_STREQ("5", dataBitsName(0));
    EXPECT_STREQ("8", dataBitsName(3));
    EXPECT_STREQ(" ", dataBitsName(4));
    EXPECT_STREQ("Even", parityName(1)) << "device order: None, Even, Odd";
    EXPECT_STREQ("Odd", parityName(2));
    EXPECT_STREQ(" ", parityName(3));
    EXPECT_STREQ("0.5", stopBitsName(0));
    EXPECT_STREQ("2", stopBitsName(3));
    EXPECT_STREQ(" ", stopBitsName(5));

    EXPECT_EQ(0u, dataBitsCode("5"));
    EXPECT_EQ(3u, dataBitsCode("9")) << "default 8 bits";
    EXPECT_EQ(2u, parityCode("Odd"));
    EXPECT_EQ(0u, parityCode("odd")) << "exact text only";
    EXPECT_EQ(2u, stopBitsCode("1.5"));
    EXPECT_EQ(1u, stopBitsCode("")) << "default one stop bit";
    EXPECT_EQ(4, interfaceCode("TTL"));
    EXPECT_EQ(-1, interfaceCode(""));
    EXPECT_STREQ("921600", baudRateTable[10]);

    EXPECT_EQ(115200u, leadingNumber("115200", 0xFFFFF));
    EXPECT_EQ(96u, leadingNumber("96x00", 0xFFFFF));
    EXPECT_EQ(0u, leadingNumber("", 0xFFFFF));
    EXPECT_LE(leadingNumber("99999999999999999999", 0xFFFFF), 0xFFFFFu * 10 + 9);
}

TEST(PortMapping, ExactAddressAndPortOfAPresentEntry)
{
    TablePtr t = newTable();
    uint32_t device = inet_addr("10.231.1.7");
    writePortEntry(t.get(), 2, "\\\\.\\NULL_COM9", "10.231.1.7", "4001", "enable", "udp", "6001");
    EXPECT_EQ(-1, findPortMappingIn(t.get(), device, 4001)) << "not present yet";
    t->entries[2].present = 1;
    EXPECT_EQ(2, findPortMappingIn(t.get(), device, 4001));
    EXPECT_EQ(-1, findPortMappingIn(t.get(), device, 4002));

    // Host names and leading zeros are not recognised.
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM5", "010.231.001.007", "4002", "enable", "tcpc", "1");
    writePortEntry(t.get(), 1, "\\\\.\\NULL_COM6", "device7.example", "4002", "enable", "tcpc", "1");
    t->entries[0].present = 1;
    t->entries[1].present = 1;
    EXPECT_EQ(-1, findPortMappingIn(t.get(), device, 4002));

    // The protocol plays no part; the lowest match wins.
    writePortEntry(t.get(), 1, "\\\\.\\NULL_COM6", "10.231.1.7", "4001", "enable", "tcpc", "1");
    EXPECT_EQ(1, findPortMappingIn(t.get(), device, 4001));
}

TEST(WorkingCopy, UdpAndTcpKeepEveryUninterpretedByte)
{
    SerialPortConfig reported;
    memset(&reported, 0xA5, sizeof reported);
    strcpy(reported.peerAddress, "192.0.2.200");
    reported.peerPort = 9000;
    reported.devicePort = 4001;
    reported.workMode = WORK_MODE_TCP;
    reported.interface = 2;
    reported.supportedInterfaces = 3;
    reported.lineSettings = 0xE0000000u | packLineSettings(0, 9600, 0, 3, 1);

    AutoPortChoice udp = {"UDP", "RS-232", "115200", "8", "None", "1"};
    const char* protocol = nullptr;
    SerialPortConfig copy = buildWorkingCopy(&reported, &udp, inet_addr("10.231.0.1"), 6002, &protocol);
    EXPECT_STREQ("udp", protocol);
    EXPECT_STREQ("10.231.0.1", copy.peerAddress);
    EXPECT_EQ(6002, copy.peerPort);
    EXPECT_EQ(WORK_MODE_UDP, copy.workMode);
    EXPECT_EQ(1, copy.interface);
    EXPECT_EQ(0xE0000000u | 0x0581C200u, copy.lineSettings) << "115200,8N1, top bits kept";
    EXPECT_EQ(4001, copy.devicePort);
    EXPECT_EQ(0, memcmp(reported.reserved2, copy.reserved2, sizeof copy.reserved2));
    EXPECT_EQ(reported.reserved1, copy.reserved1);
    EXPECT_EQ((char)0xA5, copy.peerAddress[31]) << "bytes after the address text stay";

    AutoPortChoice tcp = {"TCP Client", "", "", "7", "Odd", "2"};
    copy = buildWorkingCopy(&reported, &tcp, inet_addr("10.231.0.1"), 6003, &protocol);
    EXPECT_STREQ("tcpc", protocol);
    EXPECT_STREQ("192.0.2.200", copy.peerAddress) << "TCP leaves the peer as reported";
    EXPECT_EQ(9000, copy.peerPort);
    EXPECT_EQ(WORK_MODE_TCP, copy.workMode);
    EXPECT_EQ(2, copy.interface) << "an empty interface choice keeps the device's";
    EXPECT_EQ(0u, lineBaudRate(copy.lineSettings)) << "an empty baud rate sends 0";
    EXPECT_EQ(2u, lineParity(copy.lineSettings));
    EXPECT_EQ(2u, lineDataBits(copy.lineSettings));
    EXPECT_EQ(3u, lineStopBits(copy.lineSettings));
    EXPECT_EQ(0u, memcmp(&reported.reserved2, &copy.reserved2, sizeof copy.reserved2));
}
