// Which virtual COM port is bound to a device serial port.
#pragma once
#include <cstdint>

#include "ports/port_table.h"

// The lowest present entry whose remoteAddress is the device's address as
// dotted-decimal text and whose remotePort is the device port in decimal,
// both compared exactly (the protocol is not compared); -1 when none.
int findPortMappingIn(const PortTable* table, uint32_t deviceAddress, uint16_t devicePort);
