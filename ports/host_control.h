// Bringing up the host service and driving the virtual serial driver's pairs.
#pragma once

enum {
    HOST_MAP_ATTEMPTS = 51,
    HOST_MAP_RETRY_MS = 100,
    PAIR_CREATE_WAIT_MS = 50,
};

#define HOST_SERVICE_NAME "PARLOSVR"
#define HOST_SERVICE_DESCRIPTION                                                                        \
    "Carries the data of ParloMgr's virtual COM ports over TCP and UDP to serial device servers, and " \
    "publishes their link state, counters and traffic to ParloMgr."
// The Application log's registration of PARLOSVR as an event source.
#define HOST_EVENT_SOURCE_KEY "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" HOST_SERVICE_NAME

// Recovery: the service manager restarts a crashed host after 1 s, 5 s and
// 30 s, and forgets the failures after a day without one.
enum {
    HOST_RESTART_FIRST_MS = 1000,
    HOST_RESTART_SECOND_MS = 5000,
    HOST_RESTART_LATER_MS = 30000,
    HOST_FAILURE_RESET_S = 86400,
};
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
// directory), with its description and recovery, and starts it; an existing
// service is only started. Either way the event source names the program the
// service runs. The one registration the manager and the installer share.
int registerHostService(const char* directory);

// Gives the registered PARLOSVR its description and recovery (the installer
// does so over an earlier installation). Returns 1 when both were set.
int describeHostService();

// Registers PARLOSVR as an event source of the Application log whose
// messages are in exePath; returns 1 on success. unregister removes it.
int registerHostEventSource(const char* exePath);
int unregisterHostEventSource();

// What registerHostService passes to ChangeServiceConfig2: a test may see
// it (and decide the result) instead of the service manager. null: the
// service manager's own.
typedef int (*ServiceConfigSeam)(void* service, unsigned long infoLevel, void* info);
void setServiceConfigSeam(ServiceConfigSeam seam);
// Returns 1 when the pair was asked for, 0 when the driver library is not
// loaded (no entry point is then called).
int createPortPair(const char* comName, const char* nullName);
// The library's one-byte result; 0 without calling when it is not loaded.
unsigned char deletePortPair(const char* comName);

// Builds the service executable path for a directory: the directory plus
// "\ParloHost.exe", quoted when it holds a space so the service manager
// cannot mistake a prefix of it for the program. Returns 0 when out is too small.
int buildHostServicePath(const char* directory, char* out, unsigned outSize);
