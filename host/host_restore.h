// Recreating the configured ports from parlo.ini when the host starts with an
// empty table (the section did not survive, e.g. after a reboot).
#pragma once

#include "ports/config_read.h"
#include "ports/port_table.h"

// 1 when any entry is in use: then the table is live and nothing is restored.
int tableInUse(const PortTable* table);

// Asks the driver for a pair: the COM name and "NULL_" followed by it.
typedef void (*PairCreator)(void* context, const char* comName, const char* nullName);

// Writes entries[0..count) into table entries 0, 1, 2... as the manager
// would: the pair first (when createPair is set), then writePortEntry with
// the port name "\\.\NULL_" + COM name. Does nothing when the table is in
// use. Returns the number of entries written.
int restoreEntries(PortTable* table, const ConfigEntry* entries, int count, PairCreator createPair,
                   void* context);

// Win32: reads %WINDIR%\parlo.ini and restores it into portTable, with the
// pairs asked of VSPDCTL.DLL when it loads. Returns the number restored.
int restorePortsFromConfigFile();
