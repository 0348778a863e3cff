// The shared port table: the one interface between the manager and the host service.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    PORT_TABLE_ENTRIES = 128,
    CAPTURE_RING_SLOTS = 1024,
    CAPTURE_DATA_BYTES = 512,
    COM_NAME_PREFIX_LEN = 9,   // "\\.\NULL_"
    COM_NAME_MAX = 22,         // what portName leaves after the prefix
};

// command: requests from the manager; the host writes 0 when a delete is done.
enum { PORT_START = 1, PORT_STOP = 2, PORT_RESTART = 3, PORT_DELETE = 4 };

// linkState codes published by the host.
enum : uint32_t {
    LINK_FAILED = 0x1000000,
    LINK_CONNECTING = 0x1000001,
    LINK_CONNECTED = 0x1000002,
    LINK_DISCONNECTED = 0x1000003,
    LINK_STOPPED = 0x1000004,
};

// captureCommand values written by the Monitor.
enum { CAPTURE_START = 1, CAPTURE_STOP = 2, CAPTURE_CLEAR = 3 };

#define PORT_TABLE_SECTION_NAME "Global\\ParloMapTbl"
#define PORT_NAME_PREFIX "\\\\.\\NULL_"

struct CaptureRecord {
    int64_t recordTime;
    uint32_t recordDirection;  // non-zero: received from the network
    uint32_t recordLength;     // 0 marks an empty slot
    uint8_t recordData[CAPTURE_DATA_BYTES];
};

struct PortEntry {
    uint32_t inUse;            // manager
    uint32_t present;          // host
    char portName[32];         // manager: "\\.\NULL_COMn"
    char remoteAddress[128];
    char remotePort[32];
    char localPort[32];
    char protocol[32];         // "tcpc" or "udp"
    int32_t command;           // manager; host writes 0 after a delete
    uint32_t linkState;        // host
    uint32_t linkDetail;       // host
    uint32_t comBaudRate;      // host
    uint8_t comStopBits;
    uint8_t comParity;
    uint8_t comDataBits;
    uint8_t comOpen;
    uint32_t captureDropped;   // host: records dropped on a full ring; the manager never reads it
    int64_t rxBytes;           // host; the manager zeroes it
    int64_t txBytes;
    int32_t captureWriteIndex; // host
    int32_t captureReadIndex;  // manager
    int64_t captureStartTime;  // host
    int64_t captureTickRate;   // host
    int32_t captureCommand;    // manager
    int32_t captureActive;     // host
    CaptureRecord captureRing[CAPTURE_RING_SLOTS];
};

struct PortTable {
    PortEntry entries[PORT_TABLE_ENTRIES];
};

static_assert(sizeof(CaptureRecord) == 528, "CaptureRecord layout");
static_assert(offsetof(CaptureRecord, recordTime) == 0, "CaptureRecord layout");
static_assert(offsetof(CaptureRecord, recordDirection) == 8, "CaptureRecord layout");
static_assert(offsetof(CaptureRecord, recordLength) == 12, "CaptureRecord layout");
static_assert(offsetof(CaptureRecord, recordData) == 16, "CaptureRecord layout");

static_assert(sizeof(PortEntry) == 541008, "PortEntry layout");
static_assert(offsetof(PortEntry, inUse) == 0, "PortEntry layout");
static_assert(offsetof(PortEntry, present) == 4, "PortEntry layout");
static_assert(offsetof(PortEntry, portName) == 8, "PortEntry layout");
static_assert(offsetof(PortEntry, remoteAddress) == 40, "PortEntry layout");
static_assert(offsetof(PortEntry, remotePort) == 168, "PortEntry layout");
static_assert(offsetof(PortEntry, localPort) == 200, "PortEntry layout");
static_assert(offsetof(PortEntry, protocol) == 232, "PortEntry layout");
static_assert(offsetof(PortEntry, command) == 264, "PortEntry layout");
static_assert(offsetof(PortEntry, linkState) == 268, "PortEntry layout");
static_assert(offsetof(PortEntry, linkDetail) == 272, "PortEntry layout");
static_assert(offsetof(PortEntry, comBaudRate) == 276, "PortEntry layout");
static_assert(offsetof(PortEntry, comStopBits) == 280, "PortEntry layout");
static_assert(offsetof(PortEntry, comParity) == 281, "PortEntry layout");
static_assert(offsetof(PortEntry, comDataBits) == 282, "PortEntry layout");
static_assert(offsetof(PortEntry, comOpen) == 283, "PortEntry layout");
static_assert(offsetof(PortEntry, captureDropped) == 284, "PortEntry layout");
static_assert(offsetof(PortEntry, rxBytes) == 288, "PortEntry layout");
static_assert(offsetof(PortEntry, txBytes) == 296, "PortEntry layout");
static_assert(offsetof(PortEntry, captureWriteIndex) == 304, "PortEntry layout");
static_assert(offsetof(PortEntry, captureReadIndex) == 308, "PortEntry layout");
static_assert(offsetof(PortEntry, captureStartTime) == 312, "PortEntry layout");
static_assert(offsetof(PortEntry, captureTickRate) == 320, "PortEntry layout");
static_assert(offsetof(PortEntry, captureCommand) == 328, "PortEntry layout");
static_assert(offsetof(PortEntry, captureActive) == 332, "PortEntry layout");
static_assert(offsetof(PortEntry, captureRing) == 336, "PortEntry layout");
static_assert(sizeof(PortTable) == 69249024, "PortTable layout");

// The process-wide view of the table; null until mapped.
extern PortTable* portTable;

// Single 32-bit reads and writes of fields the other process changes.
inline int32_t readShared(const volatile int32_t* p) { return *p; }
inline uint32_t readShared(const volatile uint32_t* p) { return *p; }
inline void writeShared(volatile int32_t* p, int32_t v) { *p = v; }
inline void writeShared(volatile uint32_t* p, uint32_t v) { *p = v; }

// The word a writer stores last (release) and a reader loads first (acquire):
// whatever the writer stored before it is in place for the reader after it.
inline void publishShared(volatile int32_t* p, int32_t v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }
inline void publishShared(volatile uint32_t* p, uint32_t v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }
inline int32_t acquireShared(const volatile int32_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline uint32_t acquireShared(const volatile uint32_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }

// Copies a fixed-width text field into out (outSize > 0), stopping at the
// field's width even when the field carries no terminator.
size_t copyField(char* out, size_t outSize, const char* field, size_t fieldSize);

// Writes text into a fixed-width field, cut to fit and always terminated.
// Bytes after the terminator are left as they were. Returns 0 when cut.
int storeField(char* field, size_t fieldSize, const char* text);

// The COM name of an entry (portName after "\\.\NULL_"), copied into out.
// Returns its length. An out of COM_NAME_MAX + 1 bytes always suffices.
size_t comName(const PortEntry* entry, char* out, size_t outSize);

// The COM number after "COM" in the entry's name (entry offset 20), or 0.
int comNumber(const PortEntry* entry);

int writePortEntry(PortTable* table, int index, const char* portName, const char* remoteAddress,
                   const char* remotePort, const char* stateWord, const char* protocolWord,
                   const char* localPort);
int retargetPortEntry(PortTable* table, int index, const char* remotePort, const char* localPort,
                      const char* protocolWord, const char* remoteAddress);
void restartPort(PortTable* table, int index);
int findFreeEntry(const PortTable* table);
int findEntryByComName(const PortTable* table, const char* name);
const char* linkStateText(uint32_t linkState);

// A ring index read from the host, brought into 0..1023 so it can never
// address outside the ring.
inline int ringSlot(int32_t index) { return (int)((uint32_t)index % CAPTURE_RING_SLOTS); }
