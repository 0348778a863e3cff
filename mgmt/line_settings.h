// Packing of a device serial port's baud rate, parity, data and stop bits into one word.
#pragma once

#include <cstdint>

enum { DEVICE_PARITY_NONE = 0, DEVICE_PARITY_EVEN = 1, DEVICE_PARITY_ODD = 2 };
enum { DEVICE_DATA_BITS_5 = 0, DEVICE_DATA_BITS_6 = 1, DEVICE_DATA_BITS_7 = 2, DEVICE_DATA_BITS_8 = 3 };
enum { DEVICE_STOP_BITS_0_5 = 0, DEVICE_STOP_BITS_1 = 1, DEVICE_STOP_BITS_1_5 = 2, DEVICE_STOP_BITS_2 = 3 };

enum : uint32_t {
    LINE_BAUD_MASK = 0xFFFFFu,     // bits 0-19
    LINE_FIELD_MASK = 0x7u,        // each 3-bit field
    LINE_PARITY_SHIFT = 20,
    LINE_DATA_BITS_SHIFT = 23,
    LINE_STOP_BITS_SHIFT = 26,
    LINE_KEPT_MASK = 0xE0000000u,  // bits 29-31 belong to the device
};

inline uint32_t lineBaudRate(uint32_t line) { return line & LINE_BAUD_MASK; }
inline uint32_t lineParity(uint32_t line) { return (line >> LINE_PARITY_SHIFT) & LINE_FIELD_MASK; }
inline uint32_t lineDataBits(uint32_t line) { return (line >> LINE_DATA_BITS_SHIFT) & LINE_FIELD_MASK; }
inline uint32_t lineStopBits(uint32_t line) { return (line >> LINE_STOP_BITS_SHIFT) & LINE_FIELD_MASK; }

// Builds a new word from the given codes, keeping bits 29-31 of `previous`
// as the device reported them. Each value is cut to its field's width.
uint32_t packLineSettings(uint32_t previous, uint32_t baudRate, uint32_t parity, uint32_t dataBits,
                          uint32_t stopBits);
