// The request-authenticate-retry exchange that every authenticated device command runs.
#pragma once

#include <cstdint>

#include "mgmt/device_records.h"
#include "mgmt/mgmt_receive.h"

// The network side of one command, so the exchange runs over any transport.
struct MgmtTransport {
    void* context;
    int (*open)(void* context);  // 1 when the socket is ready
    void (*send)(void* context, const uint8_t* datagram, int length);  // result not examined
    MgmtReceiveFn receive;
    void (*close)(void* context);
};

// Asks the user for new credentials after the device demanded them.
// Returns 1 when they were entered (OK), 0 when the user cancelled.
typedef int (*MgmtAuthenticateFn)(void* context);

enum { RECEIVE_STATUS = 0, RECEIVE_CONFIG = 1 };

struct MgmtCommand {
    uint16_t code;
    const DeviceRecord* device;
    const uint8_t* commandBytes;
    int commandLength;
    int receiver;                // RECEIVE_STATUS or RECEIVE_CONFIG
    SerialPortConfig* configs;   // RECEIVE_CONFIG: where a list reply goes
    int configCapacity;
    int* configCount;            // 0 once the socket is open; N when a list reply was taken
};

enum {
    COMMAND_DONE = 0,         // device reported status 0
    COMMAND_NO_SOCKET = 1,    // nothing was sent; no message
    COMMAND_FAILED = 2,       // show the command's failure message
    COMMAND_CANCELLED = 3,    // authentication cancelled; no message
};

// Authentication requests answered with OK beyond this many end the command
// as failed, so no loop of sends can run unbounded.
enum { MGMT_MAX_AUTH_ROUNDS = 100 };

struct MgmtCommandResult {
    int result;        // COMMAND_*
    int outcome;       // last receive outcome 0-4
    uint32_t status;   // last status (0 after a list reply)
    int requestsSent;
};

// Runs the exchange on the calling thread. Returns 1 for COMMAND_DONE, else 0.
int runDeviceCommand(const MgmtTransport* transport, const MgmtCommand* command,
                     MgmtAuthenticateFn authenticate, void* authContext, MgmtCommandResult* result);
