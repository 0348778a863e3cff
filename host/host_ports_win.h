// The host's table section and its per-port work (Win32).
#pragma once
#include <windows.h>

// Creates "Global\ParloMapTbl" at full size, open to every local user, and
// maps it into portTable. Returns the section, or null; *existed tells
// whether it was there already (a manager kept it while no host ran).
HANDLE createPortTableSection(int* existed);
void closePortTableSection(HANDLE section);

int startHostPorts();
// Marks the ports an earlier host left in a table that outlived it, to be
// taken over as they are on the first pass. Returns how many.
int adoptHostPorts();
// How many ports the host holds.
int heldPorts();
// How serial ports wait for data: "read" (a pending read) or "event".
const char* serialWaitName();
// One pass over the table; the service runs it every 20 ms.
void serviceAllPorts();
// Carries data until waitMs have passed or wakeHost is called.
void waitForHostIo(DWORD waitMs);
void wakeHost();
void stopHostPorts();
