// Process-wide state of the manager's user-interface thread.
#pragma once
#include <windows.h>

#include "ui/ui_thread.h"

extern HWND mainWindow;
extern HWND portList;           // null when the list could not be created

enum { MAIN_TIMER_ID = 1, MAIN_TIMER_PERIOD_MS = 100, MAIN_LIST_COLUMNS = 9 };

int runManager(HINSTANCE instance, int showCommand);
ATOM registerMainWindowClass(HINSTANCE instance, const char* className);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Main window commands other than About and Exit; returns 0 when the command
// is not one of ours and default processing applies.
int handleMainCommand(HWND window, int command);
