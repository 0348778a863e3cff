// The simulated serial device behind each port: echoes bytes back, a prefix before each line.
#pragma once

#include <cstdint>

// Copies `in` to `out`, putting `prefix` before the first byte of every
// line (at the start, when *atLineStart, and after each '\n'). Stops before
// overflowing outSize; returns the bytes written and sets *consumed to the
// input bytes that went out whole.
int echoTransform(const uint8_t* in, int inLength, const char* prefix, int* atLineStart, uint8_t* out, int outSize,
                  int* consumed);
