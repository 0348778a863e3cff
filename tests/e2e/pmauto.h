// pmauto's parts: the window search the commands share, and the command groups
// kept in files of their own. A group returns -1 for a command it does not know.
#pragma once
#include <windows.h>

HWND pmFindWindow(const char* cls, const char* title);
int pmDialogCommand(int argc, char** argv);     // pmauto_dialogs.cpp
int pmScenarioCommand(int argc, char** argv);   // pmauto_scenarios.cpp
int pmDeviceCommand(int argc, char** argv);     // pmauto_devices.cpp

// Memory inside the process that owns a window, for messages whose argument
// points at a structure the system does not carry from one process to
// another (list view items, item rectangles, header items, addresses).
// pmauto_remote.cpp
class RemoteMemory {
public:
    RemoteMemory(HWND owner, size_t bytes);
    ~RemoteMemory();
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;
    bool ok() const { return base != nullptr; }
    char* at(size_t offset = 0) const { return base + offset; }
    bool put(const void* data, size_t bytes, size_t offset = 0);
    bool get(void* data, size_t bytes, size_t offset = 0);

private:
    HANDLE process = nullptr;
    char* base = nullptr;
};

// A list view row's rectangle (LVIR_BOUNDS, LVIR_LABEL ...) in list client
// coordinates, read from another process; false when the row has none.
bool pmItemRect(HWND list, int row, int part, RECT* out);
