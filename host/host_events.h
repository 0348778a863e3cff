// What the host tells the Application log, and when: which event, its
// strings, once per failure streak, and a bound on each port's rate. The
// service hands the events to ReportEvent (host_eventlog_win.cpp); the
// sentences around the strings are ParloHost.exe's message table,
// host/host_messages.mc.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ports/port_table.h"

// Event ids: the MessageIds of host_messages.mc.
enum {
    HOST_EVENT_STARTED = 1,
    HOST_EVENT_STOPPING = 2,
    HOST_EVENT_CONFIG_LINE = 3,
    HOST_EVENT_CONFIG_LINE_PORT = 4,
    HOST_EVENT_CONFIG_MORE = 5,
    HOST_EVENT_FAR_END = 6,
    HOST_EVENT_LINK_FAILED = 7,
    HOST_EVENT_LINK_BACK = 8,
    HOST_EVENT_BAD_SETTINGS = 9,
    HOST_EVENT_BAD_NAME = 10,
    HOST_EVENT_BAD_COMMAND = 11,
    HOST_EVENT_BAD_CAPTURE = 12,
    HOST_EVENT_SUPPRESSED = 13,
};

// Event types: the Severity of each message in host_messages.mc.
enum { HOST_EVENT_INFORMATION = 1, HOST_EVENT_WARNING = 2, HOST_EVENT_ERROR = 3 };

enum {
    HOST_EVENT_STRINGS = 4,
    HOST_EVENT_STRING_MAX = 200,      // what Windows shows of one string, and more
    HOST_EVENT_BURST = 10,            // events of one port logged at once
    HOST_EVENT_REFILL_MS = 300000,    // then one more every 5 minutes
    HOST_CONFIG_EVENTS_MAX = 16,      // lines of parlo.ini reported per start
};

struct HostEvent {
    int id;
    int type;
    int port;                         // table entry, or -1
    int stringCount;
    char strings[HOST_EVENT_STRINGS][HOST_EVENT_STRING_MAX];
};

// Where events go: the Event Log, or a test's recorder.
struct HostEventSink {
    void* context;
    void (*report)(void* context, const HostEvent* event);
};

// What has been told about one table entry.
struct HostPortEvents {
    int tokens;                       // events it may still log now
    int64_t refillAt;                 // ms: when it gets one more
    int suppressed;                   // events not logged since the last that was
    int started;                      // the gate has been filled
    int linkFailed;                   // a failure of this streak was logged
    int farEndFailed;                 // the far end's failure was logged
    uint32_t lastState;               // linkState and linkDetail last seen
    uint32_t lastDetail;
    int32_t refusedCommand;           // the unknown request last logged (0: none)
};

struct HostEventLog {
    HostEventSink sink;
    HostPortEvents ports[PORT_TABLE_ENTRIES];
    int configLines;                  // lines of parlo.ini not restored at this start
};

void initHostEvents(HostEventLog* log, HostEventSink sink);

// The service started: ports restored from the file at iniPath, ports taken
// over from a live table.
void hostEventStarted(HostEventLog* log, const char* iniPath, int restored, int adopted);
void hostEventStopping(HostEventLog* log, int held);

// A line of parlo.ini that was not restored (fault: a CONFIG_FAULT_* of
// ports/config_read.h; comName empty when the line names none). The first
// HOST_CONFIG_EVENTS_MAX are logged; hostEventConfigDone tells how many more.
void hostEventConfigLine(HostEventLog* log, const char* iniPath, int lineNumber, int fault, const char* comName);
void hostEventConfigDone(HostEventLog* log, const char* iniPath);

// The entry was taken up: a new streak for everything, and a port name the
// host will not open is told.
void hostEventTakenUp(HostEventLog* log, int index, const PortEntry* entry, int64_t nowMs);

// The far end was opened (opened 1), or could not be (error: the system's
// code and its text). A failure is told once until the far end opens.
void hostEventFarEnd(HostEventLog* log, int index, const PortEntry* entry, int opened, uint32_t error,
                     const char* errorText, int64_t nowMs);

// The link state and detail the host publishes for a held entry. A failure
// is told once per streak, and the link's return after it; settings the
// host cannot use are told each time a start meets them.
void hostEventLink(HostEventLog* log, int index, const PortEntry* entry, uint32_t state, uint32_t detail,
                   int64_t nowMs);

// An entry in use whose command the host does not know; held tells whether
// the host holds the port (it then stays enabled) or leaves it alone. Each
// such value is told once.
void hostEventCommand(HostEventLog* log, int index, const PortEntry* entry, int held, int64_t nowMs);

// A capture request the host consumed without knowing it.
void hostEventCapture(HostEventLog* log, int index, const PortEntry* entry, int32_t request, int64_t nowMs);

// The reason of a failed link (linkDetail) in words, or null for none.
const char* linkDetailText(uint32_t detail);
// Why a line of parlo.ini was not restored (CONFIG_FAULT_*), in words.
const char* configFaultText(int fault);

// Puts the event's strings into a message of host_messages.mc (%1 to %4,
// %n a line break, %% a percent sign); the whole sentence, as the Event
// Viewer shows it. Returns 0 when it had to be cut to fit out.
int renderHostEvent(const char* message, const HostEvent* event, char* out, size_t outSize);
