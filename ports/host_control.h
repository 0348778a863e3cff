// Bringing up the host service and driving the virtual serial driver's pairs.
#pragma once

enum {
    HOST_MAP_ATTEMPTS = 51,
    HOST_MAP_RETRY_MS = 100,
    PAIR_CREATE_WAIT_MS = 50,
};

#define HOST_SERVICE_NAME "PARLOSVR"
#define HOST_EXE_NAME "ParloHost.exe"
#define DRIVER_LIBRARY_NAME "VSPDCTL.DLL"

int bindDriverLibrary();
int driverLibraryBound();
int startHostAndMapTable();
void installHostService();

enum {
    HOST_SERVICE_NO_MANAGER = -1,   // no access to the service manager
    HOST_SERVICE_NOT_CREATED = 0,
    HOST_SERVICE_CREATED = 1,
    HOST_SERVICE_EXISTED = 2,       // left as it was, and started
};
// Registers PARLOSVR for ParloHost.exe in directory (nullptr: no usable
// directory) and starts it; an existing service is only started. The one
// registration the manager and the installer share.
int registerHostService(const char* directory);
// Returns 1 when the pair was asked for, 0 when the driver library is not
// loaded (no entry point is then called).
int createPortPair(const char* comName, const char* nullName);
// The library's one-byte result; 0 without calling when it is not loaded.
unsigned char deletePortPair(const char* comName);

// Builds the service executable path for a directory: the directory plus
// "\ParloHost.exe", quoted when it holds a space so the service manager
// cannot mistake a prefix of it for the program. Returns 0 when out is too small.
int buildHostServicePath(const char* directory, char* out, unsigned outSize);
