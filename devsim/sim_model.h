// The simulated device servers: their records, ports, authentication policy, misbehaviour and request log.
#pragma once

#include <cstdint>

#include "mgmt/device_records.h"

enum {
    SIM_MAX_DEVICES = 1024,
    SIM_MAX_PORTS = 32,
    SIM_LOG_ENTRIES = 32,      // last requests kept per device
    SIM_LOG_PAYLOAD = 96,      // command bytes kept per logged request
    SIM_PREFIX_SIZE = 32,      // echo prefix, terminated
    SIM_MAX_JUNK = 8,
    SIM_MAX_DUPLICATES = 8,
    SIM_MAX_DELAY_MS = 10000,
    SIM_MAX_REBOOT_MS = 60000,
    SIM_OVERSIZE_BYTES = 1100, // one datagram too long for the manager's 1024-byte buffer
};

// How a device treats the digest of an authenticated request.
enum { AUTH_CHECK = 0, AUTH_ANY = 1, AUTH_REFUSE = 2 };

// Which replies a misbehaviour applies to.
enum { SCOPE_ALL = 0, SCOPE_DISCOVER = 1, SCOPE_COMMAND = 2 };

struct Misbehaviour {
    int active;
    int scope;
    int badCrc;               // corrupt the CRC of the reply
    int wrongSerial;          // reply carries otherSerial instead of the device's
    int foreignFirst;         // send the reply with otherSerial before the real one
    int duplicates;           // extra copies of the reply
    int delayMs;              // wait before replying
    int junk;                 // unrelated datagrams sent before the reply
    int oversize;             // an oversized datagram sent before the reply
    int silent;               // do not reply at all
    int remaining;            // replies left to affect; -1 until cleared
    uint8_t otherSerial[12];
};

struct LogEntry {
    uint32_t sequence;
    int64_t timeMs;           // wall clock, milliseconds since the epoch
    char from[24];            // sender "a.b.c.d:port"
    uint16_t code;
    int length;               // header's payload length
    int crcOk;
    int hasPrefix;            // serial number and digest present
    uint8_t serial[12];
    uint8_t digest[16];
    int payloadLength;        // command bytes after the prefix (or whole payload)
    uint8_t payload[SIM_LOG_PAYLOAD];
    int replyCode;            // 0: no reply
    uint32_t replyStatus;
    int replyCount;           // records in a list reply
};

struct SimPort {
    SerialPortConfig config;
    char echoPrefix[SIM_PREFIX_SIZE];
};

struct SimDevice {
    int inUse;
    DeviceRecord record;          // what discovery reports: the settings in effect
    int networkPending;
    NetworkConfig pendingNetwork; // written by a request, in effect after a reboot
    int portCount;
    SimPort ports[SIM_MAX_PORTS];
    int auth;
    char userName[16];
    char password[16];
    uint32_t refuseStatus;
    Misbehaviour misbehaviour;
    int dataDown;                 // data side taken away on request
    int rebootMs;
    int64_t rebootingUntilMs;     // answers nothing before this time
    int rebootCount;
    uint32_t logSequence;
    int logCount;
    int logNext;
    LogEntry log[SIM_LOG_ENTRIES];
};

struct SimWorld {
    int deviceCount;
    SimDevice devices[SIM_MAX_DEVICES];
};

// A device with every field at its documented default.
void initSimDevice(SimDevice* device);

// Index of the device whose address is `ipAddress` (network order), or -1.
int findDeviceByAddress(const SimWorld* world, uint32_t ipAddress);

// Appends an entry to the device's log ring and returns it for filling.
LogEntry* appendLogEntry(SimDevice* device);

// The n-th oldest kept entry (0 = oldest), or null.
const LogEntry* logEntryAt(const SimDevice* device, int n);
