// Loading and saving the window settings (the record itself lives in ui/).
#pragma once

#include "ui/window_settings.h"

#ifdef _WIN32
#include <windows.h>

// Fills windowSettings from the registry or the defaults, then makes listFont.
void loadSettings();

// Stores the main window's normal placement and portList's column widths,
// then writes the whole record to the registry. Failures are silent. Values
// are stored as at 96 DPI: the window's own DPI is taken out.
void saveSettings(HWND mainWindow, HWND portList);
#endif
