// The Authentication dialog: new credentials when a device asks for them.
#pragma once

#include <windows.h>

#include <cstdint>

// Shows `serialNumber` (12 bytes, the device that asked; null: the device at
// selectedDevice) and asks for a user name and password. Both credentials are
// cleared when the dialog closes; OK then stores what was typed. Returns
// IDOK or IDCANCEL (also when the dialog could not be shown).
INT_PTR openAuthenticationDialog(HWND owner, const uint8_t* serialNumber);

INT_PTR CALLBACK authDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
