// Device description and settings records carried by the management protocol.
#pragma once

#include <cstddef>
#include <cstdint>

// Some Windows headers define `interface` as a macro; keep the field name
// usable here whatever was included before.
#pragma push_macro("interface")
#undef interface

// A device's network settings; also embedded in every DeviceRecord.
struct NetworkConfig {
    uint32_t ipAddress;      // network byte order, as all addresses here
    uint32_t netmask;
    uint32_t gateway;
    uint32_t primaryDns;
    uint32_t secondaryDns;
    uint8_t addressMode;     // 1 static, 2 DHCP
    uint8_t reserved[7];
};
static_assert(sizeof(NetworkConfig) == 28, "NetworkConfig size");
static_assert(offsetof(NetworkConfig, ipAddress) == 0, "NetworkConfig.ipAddress");
static_assert(offsetof(NetworkConfig, netmask) == 4, "NetworkConfig.netmask");
static_assert(offsetof(NetworkConfig, gateway) == 8, "NetworkConfig.gateway");
static_assert(offsetof(NetworkConfig, primaryDns) == 12, "NetworkConfig.primaryDns");
static_assert(offsetof(NetworkConfig, secondaryDns) == 16, "NetworkConfig.secondaryDns");
static_assert(offsetof(NetworkConfig, addressMode) == 20, "NetworkConfig.addressMode");
static_assert(offsetof(NetworkConfig, reserved) == 21, "NetworkConfig.reserved");

enum { ADDRESS_STATIC = 1, ADDRESS_DHCP = 2 };

// The payload of a discovery reply, kept byte for byte.
struct DeviceRecord {
    uint8_t serialNumber[12];   // text, not terminated when it fills all 12 bytes
    uint8_t reserved1[8];
    char model[16];
    uint8_t firmwareVersion[3]; // major, minor, build
    uint8_t reserved2;
    NetworkConfig network;
    uint8_t reserved3[16];
    uint16_t webPort;
    uint8_t reserved4[26];
};
static_assert(sizeof(DeviceRecord) == 112, "DeviceRecord size");
static_assert(offsetof(DeviceRecord, serialNumber) == 0, "DeviceRecord.serialNumber");
static_assert(offsetof(DeviceRecord, reserved1) == 12, "DeviceRecord.reserved1");
static_assert(offsetof(DeviceRecord, model) == 20, "DeviceRecord.model");
static_assert(offsetof(DeviceRecord, firmwareVersion) == 36, "DeviceRecord.firmwareVersion");
static_assert(offsetof(DeviceRecord, reserved2) == 39, "DeviceRecord.reserved2");
static_assert(offsetof(DeviceRecord, network) == 40, "DeviceRecord.network");
static_assert(offsetof(DeviceRecord, network.ipAddress) == 40, "DeviceRecord.network.ipAddress");
static_assert(offsetof(DeviceRecord, network.netmask) == 44, "DeviceRecord.network.netmask");
static_assert(offsetof(DeviceRecord, network.gateway) == 48, "DeviceRecord.network.gateway");
static_assert(offsetof(DeviceRecord, network.primaryDns) == 52, "DeviceRecord.network.primaryDns");
static_assert(offsetof(DeviceRecord, network.secondaryDns) == 56, "DeviceRecord.network.secondaryDns");
static_assert(offsetof(DeviceRecord, network.addressMode) == 60, "DeviceRecord.network.addressMode");
static_assert(offsetof(DeviceRecord, reserved3) == 68, "DeviceRecord.reserved3");
static_assert(offsetof(DeviceRecord, webPort) == 84, "DeviceRecord.webPort");
static_assert(offsetof(DeviceRecord, reserved4) == 86, "DeviceRecord.reserved4");

// The settings of one device serial port.
struct SerialPortConfig {
    uint32_t lineSettings;      // bit-packed, see line_settings.h
    char peerAddress[32];       // NUL-terminated dotted address text
    uint16_t peerPort;
    uint16_t devicePort;        // the device's own TCP or UDP port
    uint8_t workMode;           // 2 TCP server, 4 UDP
    uint8_t reserved1;
    uint8_t interface;          // 1 RS-232, 2 RS-485, 4 TTL
    uint8_t supportedInterfaces;
    uint8_t reserved2[24];
};
static_assert(sizeof(SerialPortConfig) == 68, "SerialPortConfig size");
static_assert(offsetof(SerialPortConfig, lineSettings) == 0, "SerialPortConfig.lineSettings");
static_assert(offsetof(SerialPortConfig, peerAddress) == 4, "SerialPortConfig.peerAddress");
static_assert(offsetof(SerialPortConfig, peerPort) == 36, "SerialPortConfig.peerPort");
static_assert(offsetof(SerialPortConfig, devicePort) == 38, "SerialPortConfig.devicePort");
static_assert(offsetof(SerialPortConfig, workMode) == 40, "SerialPortConfig.workMode");
static_assert(offsetof(SerialPortConfig, reserved1) == 41, "SerialPortConfig.reserved1");
static_assert(offsetof(SerialPortConfig, interface) == 42, "SerialPortConfig.interface");
static_assert(offsetof(SerialPortConfig, supportedInterfaces) == 43, "SerialPortConfig.supportedInterfaces");
static_assert(offsetof(SerialPortConfig, reserved2) == 44, "SerialPortConfig.reserved2");

#pragma pop_macro("interface")

enum { WORK_MODE_TCP = 2, WORK_MODE_UDP = 4 };
enum { INTERFACE_RS232 = 1, INTERFACE_RS485 = 2, INTERFACE_TTL = 4 };

enum { MAX_DEVICE_PORTS = 32 };  // slots of the manager's port settings table
