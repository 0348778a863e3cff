// Texts of a device serial port's settings, and the choices the automatic
// port creation offers, in both directions (code to text, text to code).
#pragma once
#include <cstdint>

// Code to text; a code outside the table gives " ".
const char* interfaceName(unsigned code);  // 1 RS-232, 2 RS-485, 4 TTL
const char* dataBitsName(unsigned code);   // 0..3 -> 5..8
const char* parityName(unsigned code);     // 0 None, 1 Even, 2 Odd
const char* stopBitsName(unsigned code);   // 0 0.5, 1 1, 2 1.5, 3 2

enum { BAUD_RATE_CHOICES = 11, DATA_BITS_CHOICES = 4, PARITY_CHOICES = 3, STOP_BITS_CHOICES = 4 };
extern const char* const baudRateTable[BAUD_RATE_CHOICES];
extern const char* const dataBitsTable[DATA_BITS_CHOICES];
extern const char* const parityTable[PARITY_CHOICES];
extern const char* const stopBitsTable[STOP_BITS_CHOICES];

// Text to code; any text outside the table gives the default (3, 0, 1).
unsigned dataBitsCode(const char* text);
unsigned parityCode(const char* text);
unsigned stopBitsCode(const char* text);
// "RS-232" 1, "RS-485" 2, "TTL" 4; any other text -1 (keep the device's).
int interfaceCode(const char* text);

// The leading decimal digits of text, 0 when there are none; stops growing
// past limit so a long digit run cannot overflow.
uint32_t leadingNumber(const char* text, uint32_t limit);

// Dotted-decimal text of an IPv4 address held in network byte order.
void addressText(uint32_t networkOrderAddress, char* out, int outSize);
