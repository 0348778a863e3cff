// Packing of a device serial port's line settings word.
#include "mgmt/line_settings.h"

uint32_t packLineSettings(uint32_t previous, uint32_t baudRate, uint32_t parity, uint32_t dataBits,
                          uint32_t stopBits)
{
    return (previous & LINE_KEPT_MASK) | (baudRate & LINE_BAUD_MASK) |
           ((parity & LINE_FIELD_MASK) << LINE_PARITY_SHIFT) |
           ((dataBits & LINE_FIELD_MASK) << LINE_DATA_BITS_SHIFT) |
           ((stopBits & LINE_FIELD_MASK) << LINE_STOP_BITS_SHIFT);
}
