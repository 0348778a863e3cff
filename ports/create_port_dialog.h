// The Create Virtual Serial Port dialog: a new virtual COM port when
// editedEntry is -1, the link settings of entry editedEntry otherwise.
#pragma once
#include <windows.h>

#include "ports/create_port_ids.h"

enum {
    COM_CHOICES = 256,         // COM1..COM256 in the Virtual COM list
    ADDRESS_TEXT_MAX = 127,    // what remoteAddress holds
    PORT_TEXT_MAX = 31,        // what remotePort and localPort hold
};

// Runs the dialog modally; 1 after OK, 2 after Cancel, 0 or -1 when it
// could not be shown (no table, no template).
INT_PTR runCreatePortDialog(HWND owner);

extern int editedEntry;  // entry the dialog edits, -1 creates

// The main window's entry: runs the dialog for editedEntry.
void openCreatePortDialog(HWND owner);

INT_PTR CALLBACK createPortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
