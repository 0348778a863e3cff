// pmauto's parts: the window search the commands share, and the command groups
// kept in files of their own. A group returns -1 for a command it does not know.
#pragma once
#include <windows.h>

HWND pmFindWindow(const char* cls, const char* title);
int pmDialogCommand(int argc, char** argv);     // pmauto_dialogs.cpp
int pmScenarioCommand(int argc, char** argv);   // pmauto_scenarios.cpp
int pmDeviceCommand(int argc, char** argv);     // pmauto_devices.cpp
