// Helpers of the Create Virtual Serial Port tests: running the dialog with a
// script, the driver library's pair record, parlo.ini, sockets held by "another
// program" and DOS device names made in the Wine prefix.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/win32/support/win32_test.h"

// What one run of the dialog gave.
struct DialogRun {
    INT_PTR result = -1;
    bool stayedOpen = false;    // still open once OK and its message boxes were done
    std::vector<SeenBox> boxes;
    HWND dialog = nullptr;
};

// Opens dialog 131 modally (owner none), lets fill() set its controls, then
// presses OK (or Cancel when pressOk is false). When the dialog stays open
// after OK, afterOk() may look at it before Cancel closes it.
DialogRun runCreateDialog(const std::function<void(HWND)>& fill, bool pressOk = true,
                          const std::function<void(HWND)>& afterOk = nullptr);

std::string controlText(HWND dialog, int id);
void selectComboText(HWND dialog, int id, const char* text);
std::string comboItem(HWND dialog, int id, int index);

std::string windowsFile(const char* name);
bool fileExists(const std::string& path);
std::string readFile(const std::string& path);

// The pair record of VSPDCTL.DLL, through its QueryBus and DeletePair.
bool pairExists(const char* com);
void deletePair(const char* com);

// The first port from `from` on that this process can bind for UDP and TCP.
int firstBindablePort(int from);

// A socket bound to the wildcard address and port (TCP ones also listen), as
// another program would hold it; closed by the destructor.
struct HeldPort {
    SOCKET s = INVALID_SOCKET;
    HeldPort(int port, bool udp);
    ~HeldPort();
    bool held() const { return s != INVALID_SOCKET; }
};

// Makes \\.\<name> exist as a DOS device of the Wine prefix (a link to
// target in dosdevices); returns false outside Wine or when it does not show.
bool makeDosDevice(const char* lowerName, const char* target);
void removeDosDevice(const char* lowerName);

// Writes an entry as the manager does and marks it present, as the host would.
void presentEntry(int index, const char* com, const char* address, const char* remotePort,
                  const char* protocol, const char* localPort);
