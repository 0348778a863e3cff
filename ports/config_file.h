// parlo.ini: the text copy of the configured ports, one line per entry in use.
#pragma once
#include <cstdio>

#include "ports/port_table.h"

#define CONFIG_FILE_NAME "parlo.ini"

// Writes the lines "entry_v1_%d=%s %s %s %s %s %s" (CR LF) for every entry
// whose inUse is set, numbered from 1. Returns 0 on a write error.
int writeConfigLines(const PortTable* table, FILE* file);

// Rewrites the file from the table without ever leaving a torn or empty
// file behind: the lines go to a temporary file beside it, which then
// replaces the old one. Returns 1 on success.
int writeConfigFileAt(const PortTable* table, const char* path);

// Win32: rewrites parlo.ini in the Windows directory from portTable.
void writeConfigFile();
