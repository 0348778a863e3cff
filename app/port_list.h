// The main window's list of virtual COM ports.
#pragma once
#include <windows.h>

HWND createPortList(HWND mainWindow);
void refreshPortList(HWND list);

// Answers the list's request for a cell text (LVN_GETDISPINFO), sent to its parent.
void answerPortListCell(NMHDR* header);

// First-column text (the COM name) of the row holding the selection mark;
// returns the row, or -1 when no row is marked.
int selectedPortRow(HWND list, char* name, int nameSize);
