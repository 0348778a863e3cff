// Recreating the configured ports from parlo.ini when the host starts with no
// table (the section did not survive, e.g. after a reboot).
#pragma once

#include "ports/config_read.h"
#include "ports/port_table.h"

// Asks the driver for a pair: the COM name and "NULL_" followed by it.
typedef void (*PairCreator)(void* context, const char* comName, const char* nullName);

// Asks for the pair of each of entries[0..count).
void createEntryPairs(const ConfigEntry* entries, int count, PairCreator createPair, void* context);

// Writes entries[0..count) into the table as the manager would (writePortEntry
// with the port name "\\.\NULL_" + COM name), each into the next slot it can
// claim: a slot whose inUse is already set holds a port the manager wrote and
// is skipped. Returns the number of entries written.
int restoreEntries(PortTable* table, const ConfigEntry* entries, int count);

// Win32: the path of %WINDIR%\parlo.ini into path; 0 when it does not fit.
int configuredPortsPath(char* path, size_t size);

// Win32: when no table is published yet, reads the file at path into
// `entries` (PORT_TABLE_ENTRIES of them), telling report (may be null) about
// every line left out, and asks VSPDCTL.DLL, when it loads, for their pairs,
// so that only restoreEntries is left once the table exists. Returns the
// number of entries read; 0 when a table is already published.
int loadConfiguredPorts(const char* path, ConfigEntry* entries, const ConfigReport* report);
