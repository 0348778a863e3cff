// The settings the automatic port creation sends to a device: a copy of what
// the device reported, with only the chosen fields changed.
#pragma once
#include <cstdint>

#include "mgmt/device_records.h"

struct AutoPortChoice {
    const char* connection;  // "UDP" or anything else (TCP Client)
    const char* interfaceText;
    const char* baudRate;
    const char* dataBits;
    const char* parity;
    const char* stopBits;
};

// Builds the working copy from the reported record and the combo texts.
// localAddress (network order) and localPort are what the device is told to
// exchange datagrams with in UDP mode. protocol receives "udp" or "tcpc".
SerialPortConfig buildWorkingCopy(const SerialPortConfig* reported, const AutoPortChoice* choice,
                                  uint32_t localAddress, uint16_t localPort, const char** protocol);
