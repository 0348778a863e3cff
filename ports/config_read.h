// Reading parlo.ini back: the host recreates the configured ports from it
// when it starts with an empty table.
#pragma once
#include <cstddef>
#include <cstdio>

#include "ports/port_table.h"

enum {
    CONFIG_LINE_MAX = 512,          // longer lines are dropped whole
    CONFIG_READ_MAX = 1024 * 1024,  // bytes looked at, per line and per file, so a huge file cannot stall the host
    CONFIG_LINE_END = -1,
    CONFIG_LINE_TOO_LONG = -2,
};

// One line "entry_v1_N=COM REMOTEADDR REMOTEPORT STATE PROTO LOCALPORT".
struct ConfigEntry {
    char comName[COM_NAME_MAX + 1];
    char remoteAddress[128];
    char remotePort[32];
    char stateWord[8];   // "enable" or "disable"
    char protocol[8];    // "tcpc" or "udp"
    char localPort[32];
};

// 1 for "COM" followed by 1..256 without leading zeros.
int isComPortName(const char* name);

// Parses one line without its line end. length counts every byte, so a NUL
// inside the line is seen. Returns 1 and fills out when the line is whole
// and sound, 0 otherwise (out may then hold parts of it).
int parseConfigLine(const char* line, size_t length, ConfigEntry* out);

// Reads the next line into line (NUL-terminated, CR LF or LF removed) and
// returns its length, CONFIG_LINE_END at the end of the file, or
// CONFIG_LINE_TOO_LONG when it did not fit (the line is consumed).
// consumed receives the bytes taken from the file.
int readConfigLine(FILE* file, char* line, size_t size, size_t* consumed);

// Why a line was not read back.
enum {
    CONFIG_FAULT_NONE = 0,
    CONFIG_FAULT_TOO_LONG = 1,       // over CONFIG_LINE_MAX bytes
    CONFIG_FAULT_NOT_ENTRY = 2,      // no "entry_v1_N=" key
    CONFIG_FAULT_FIELDS = 3,         // not six fields separated by single spaces
    CONFIG_FAULT_CONTROL = 4,        // a control character or a NUL
    CONFIG_FAULT_FIELD_LONG = 5,     // a field longer than the table's field
    CONFIG_FAULT_COM_NAME = 6,       // not COM1 to COM256
    CONFIG_FAULT_STATE = 7,          // neither "enable" nor "disable"
    CONFIG_FAULT_PROTOCOL = 8,       // neither "tcpc" nor "udp"
    CONFIG_FAULT_REPEATED = 9,       // an earlier line has its COM name
    CONFIG_FAULT_NO_ROOM = 10,       // more sound lines than entries wanted
    CONFIG_FAULT_FILE_TOO_BIG = 11,  // reading stopped after CONFIG_READ_MAX bytes
};

// Told about each line that was not read back. lineNumber counts every line
// from 1, blank ones too (which are passed over without a word); comName is
// the line's COM name when it has a sound one, else "".
struct ConfigReport {
    void* context;
    void (*rejected)(void* context, int lineNumber, int fault, const char* comName);
};

// Why parseConfigLine refuses a line: a CONFIG_FAULT_*, or CONFIG_FAULT_NONE
// when it takes it. comName (COM_NAME_MAX + 1 bytes, or null) receives the
// line's COM name when its first field is a sound one.
int configLineFault(const char* line, size_t length, char* comName);

// Reads the sound lines of a file in order into out, at most maxEntries,
// looking at no more than CONFIG_READ_MAX bytes: a line that does not end
// within them (or with the file) is not taken. Malformed lines, and later
// lines naming a COM name already read, are skipped. Returns the number of
// entries. With a report, every line left out is told, and reading goes on
// past maxEntries to tell the rest.
int readConfigEntries(FILE* file, ConfigEntry* out, int maxEntries, const ConfigReport* report = nullptr);
