// Control commands of the simulator: one text line in, response text and effects out.
#pragma once

#include <cstdint>

#include "devsim/sim_model.h"

enum {
    SIM_CONTROL_OUTPUT = 256 * 1024,
    SIM_MAX_INJECT = 1024,
};

struct ControlOutput {
    char text[SIM_CONTROL_OUTPUT];
    int length;
    int truncated;
};

// What the network side must do after a command.
struct ControlEffects {
    int quit;
    uint8_t refresh[SIM_MAX_DEVICES];  // rebuild the device's data side from its current state
    uint8_t reboot[SIM_MAX_DEVICES];   // reboot the device now
    int injectDevice;                  // -1: nothing to inject
    int injectPort;                    // 0-based
    int injectLength;
    uint8_t injectData[SIM_MAX_INJECT];
};

// State the network side reports for "info" and "data".
struct ControlView {
    int mgmtPort;
    // Describes device d's port p data side into out (one line, no newline).
    void (*describePort)(void* context, int device, int port, char* out, int outSize);
    void* context;
    int64_t nowMs;
    int64_t lastSentMs;  // when the last management datagram left, 0 before one
};

void resetControlEffects(ControlEffects* fx);

// Runs one command line against the world. The response ends with a line
// "OK" or "ERR reason". Returns 1 when the command succeeded.
int runControlCommand(SimWorld* world, const ControlView* view, const char* line, ControlOutput* out,
                      ControlEffects* fx);

// One request log entry as a text line (no newline).
int formatLogEntry(const LogEntry* e, char* out, int outSize);
