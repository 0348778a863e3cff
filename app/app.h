// Process-wide state of the manager's user-interface thread.
#pragma once
#include <windows.h>

extern HINSTANCE appInstance;   // recorded once the host side is up
// Where the dialogs, strings and icons are: appInstance, or this executable before it is recorded.
HINSTANCE appResources();
extern HWND mainWindow;
extern HWND portList;           // null when the list could not be created
extern int editedEntry;         // entry the Create Virtual Serial Port dialog edits, -1 creates
extern int monitoredEntry;      // entry the Monitor shows

// The one scratch buffer every list cell and record text is built in; only
// the user-interface thread uses it.
enum { TEXT_SCRATCH_SIZE = 4096 };
extern char textScratch[TEXT_SCRATCH_SIZE];

enum { MAIN_TIMER_ID = 1, MAIN_TIMER_PERIOD_MS = 100, MAIN_LIST_COLUMNS = 9 };

int runManager(HINSTANCE instance, int showCommand);
ATOM registerMainWindowClass(HINSTANCE instance, const char* className);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Main window commands other than About and Exit; returns 0 when the command
// is not one of ours and default processing applies.
int handleMainCommand(HWND window, int command);

// The shell's "open" on a web address; tests may replace it to record calls.
extern void (*openWebAddress)(HWND owner, const char* address);
