// Building the serial port settings that the automatic port creation writes.
#include "devcfg/auto_port.h"

#include <cstring>

#include "devcfg/device_texts.h"
#include "mgmt/line_settings.h"

#pragma push_macro("interface")
#undef interface

SerialPortConfig buildWorkingCopy(const SerialPortConfig* reported, const AutoPortChoice* c,
                                  uint32_t localAddress, uint16_t localPort, const char** protocol)
{
    // Every byte this program does not interpret goes back as the device sent it.
    SerialPortConfig copy = *reported;
    if (strcmp(c->connection, "UDP") == 0) {
        *protocol = "udp";
        addressText(localAddress, copy.peerAddress, sizeof copy.peerAddress);
        copy.peerPort = localPort;
        copy.workMode = WORK_MODE_UDP;
    } else {
        *protocol = "tcpc";
        copy.workMode = WORK_MODE_TCP;
    }
    int iface = interfaceCode(c->interfaceText);
    if (iface > 0)
        copy.interface = (uint8_t)iface;
    uint32_t baud = leadingNumber(c->baudRate, LINE_BAUD_MASK) & LINE_BAUD_MASK;
    copy.lineSettings = packLineSettings(reported->lineSettings, baud, parityCode(c->parity),
                                         dataBitsCode(c->dataBits), stopBitsCode(c->stopBits));
    return copy;
}

#pragma pop_macro("interface")
