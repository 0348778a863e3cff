// The traffic log: one entry per row the Monitor shows, written to a file.
#pragma once

#include <cstdio>

#include "monitor/monitor_rows.h"

// Writes the entries of the shown rows, oldest first and numbered from 0,
// to an open file. Returns 1 when every entry was written.
int writeTrafficLog(FILE* file, const PortEntry* entry, const MonitorRows* rows);

// Writes the log to path, replacing any earlier content. Returns 1 when a log
// was written; 0 when no row is shown (no file is touched then), the file
// cannot be opened, or writing it fails.
int saveTrafficLogTo(const char* path, const PortEntry* entry, const MonitorRows* rows);
