// Process-wide state every window of the manager's user-interface thread shares.
#pragma once
#include <windows.h>

extern HINSTANCE appInstance;  // recorded once the host side is up
// Where the dialogs, strings and icons are: appInstance, or this executable before it is recorded.
HINSTANCE appResources();

// The one scratch buffer every list cell and record text is built in; only
// the user-interface thread uses it.
enum { TEXT_SCRATCH_SIZE = 4096 };
extern char textScratch[TEXT_SCRATCH_SIZE];

// The shell's "open" on a web address; tests may replace it to record calls.
extern void (*openWebAddress)(HWND owner, const char* address);
