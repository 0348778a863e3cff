// Texts of the port list's cells that are built from the host's serial and counter fields.
#pragma once

#include <cstdint>

#include "ports/port_table.h"

// Parity of the open COM port, by the low byte of its code: "N", "O", "E", else " ".
const char* parityLetter(unsigned code);

// Stop bits of the open COM port, by the low byte of its code: "1", "1.5", "2", else " ".
const char* stopBitsText(unsigned code);

// The Open State cell: " " while the COM port is closed, else baud,
// data bits, parity and stop bits as in 9600,8N1. Returns the length built;
// out is always terminated and never overrun.
int openStateText(char* out, int outSize, unsigned comOpen, uint32_t baudRate, unsigned dataBits,
                  unsigned parity, unsigned stopBits);

// The same for an entry, each host field read once.
int openStateText(const PortEntry* entry, char* out, int outSize);

// A byte counter in full signed 64-bit decimal.
int counterText(int64_t count, char* out, int outSize);
