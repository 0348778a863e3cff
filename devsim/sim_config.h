// The simulator's text settings: tokens, device and port keys, config files, and their printed form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devsim/sim_model.h"

enum {
    SIM_MAX_TOKENS = 64,
    SIM_MAX_LINE = 4096,
    SIM_MAX_CONFIG_BYTES = 1 << 20,
};

struct SimError {
    char text[160];
};

// Splits a line in place at blanks. Returns the token count, or -1 when
// there are more than maxTokens.
int splitTokens(char* line, char** tokens, int maxTokens);

// Decodes a value's escapes (\s space, \t, \n, \r, \\, \xHH) into out of
// outSize bytes (no terminator added). Returns the byte count or -1.
int unescapeValue(const char* text, uint8_t* out, int outSize);

// Writes bytes as a single token, escaping blanks, backslashes and bytes
// outside printable ASCII. Returns the text length (always terminated).
int escapeValue(const uint8_t* bytes, int length, char* out, int outSize);

// Parses an IPv4 dotted quad into network order. 1 on success.
int parseAddress(const char* text, uint32_t* address);

// Device keys (sn, model, fw, ip, mask, gw, dns1, dns2, addrmode, web,
// ports, auth, user, pass, refuse, rebootms, prefix, bytes) applied to one
// device. `count` and serial-number generation are handled by addDevices.
int applyDeviceKey(SimDevice* device, const char* key, const char* value, SimError* error);

// Port keys (baud, parity, data, stop, top, line, mode, dport, peer, pport,
// if, ifs, prefix) applied to one port.
int applyPortKey(SimPort* port, const char* key, const char* value, SimError* error);

// Misbehaviour keys (crc, serial, foreign, dup, delay, junk, oversize,
// silent, count, other, on); "none" clears.
int applyMisbehaviourKey(SimDevice* device, const char* key, const char* value, SimError* error);

// Adds the devices described by key=value tokens (with count=N, N devices
// with generated serial numbers and consecutive addresses). Stores the new
// index range in *first..*last. All or nothing.
int addDevices(SimWorld* world, char** tokens, int tokenCount, int* first, int* last, SimError* error);

// Applies "port N|all key=value..." tokens (after the word "port") to the
// devices first..last.
int applyPortTokens(SimWorld* world, int first, int last, char** tokens, int tokenCount, SimError* error);

// Loads a whole config text (device and port lines, # comments). All or
// nothing: on failure the world is left as it was and the error names the line.
int loadConfigText(SimWorld* world, const char* text, SimError* error);

// The device (and its ports) as config lines that load back to the same
// state. Returns the length written; output is cut, but terminated, at outSize.
int formatDevice(const SimDevice* device, char* out, int outSize);

// Names of an authentication mode.
const char* authModeName(int mode);
