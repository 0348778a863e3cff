// Saving the Monitor's shown records as a traffic log file the user names.
#pragma once
#include <windows.h>

// Options of the save-file dialog: confirm overwriting, no read-only box,
// leave the current directory alone, long names.
enum { TRAFFIC_LOG_DIALOG_FLAGS = 0x20000E };

// Asks for a file name and writes the log of the rows the Monitor shows.
// Returns 1 when a log was written; 0 when no row is shown (no dialog opens),
// the user cancelled or the file could not be written.
int saveTrafficLog(HWND owner);
