// Helpers shared by the win32 tests: watching message boxes and dialogs,
// the host service, a stand-in table section and temporary folders.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SeenBox {
    std::string caption;
    std::string text;
    std::string icon;   // "error", "warning", "information", "question" or ""
    HWND owner;
};

// Answers every message box and dialog that opens on this thread while it
// lives. Message boxes are recorded and pressed with `answer`; other dialogs
// go to onDialog (which must end them) when set, or are cancelled.
class DialogWatcher {
public:
    explicit DialogWatcher(int answer = IDOK);
    ~DialogWatcher();
    std::vector<SeenBox> boxes;
    std::function<void(HWND)> onDialog;
    int answer;
};

// Reads a message box's text, caption and icon; empty text when the window
// is not a message box.
SeenBox readMessageBox(HWND box);

// Stops and deletes the PARLOSVR service when it exists; waits for the stop.
void removeHostService();

// Creates the table section in this process, as the host would, and maps it.
// The section stays until releaseStandInTable.
bool createStandInTable();
void releaseStandInTable();

// A fresh empty folder under the temp directory.
std::string makeTempFolder(const char* tag);
void removeFolder(const std::string& path);

// Pumps this thread's messages for ms milliseconds.
void pumpMessages(DWORD ms);

// Pumps messages until done() holds or ms pass; returns done().
bool waitFor(const std::function<bool()>& done, DWORD ms = 3000);

// Pumps messages until `ticks` timer messages of `window` have been handled
// (or ms pass): whatever the window does on its timer has then seen every
// change made before. Returns whether they came.
bool pumpTicks(HWND window, int ticks, DWORD ms = 10000);

// The dialog's control as placed, minus `want` = {x, y, width, height} in
// dialog units, each mapped on its own as the dialog manager does: all zero
// when the control sits exactly there.
RECT placedOff(HWND dialog, int id, RECT want);

// Directory of the running test program (where the built binaries are).
std::string programDirectory();

// Starts the manager on this thread (runManager), runs body once its main
// window shows, and returns the exit code. body usually ends by closing the
// window; anything it posts runs through the manager's own message loop.
int runManagerWith(std::function<void(HWND)> body);

// Saves a picture of a window as it is on screen to a .bmp file.
bool saveWindowShot(HWND window, const std::string& path);

// The folder for screenshots of the win32 tier (created when missing).
std::string shotFolder();

// List views of this process: a column title, a cell's text, the row count,
// and selecting (and focusing) one row as a click would.
std::string listHeader(HWND list, int column);
std::string listCell(HWND list, int row, int column);
int listRows(HWND list);
void selectListRow(HWND list, int row);
