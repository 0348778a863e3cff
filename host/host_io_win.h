// The host's Win32 internals: one I/O completion port for every serial handle
// and socket, worked by the service's own thread, plus two helper threads
// (name lookups, the pair state from the driver library) that only post
// results to it. Nothing here blocks on a single port.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "vspd/vspdctl.h"

// Completion keys.
enum { HOST_KEY_IO = 0, HOST_KEY_WAKE = 1, HOST_KEY_RESOLVED = 2, HOST_KEY_CONTINUE = 3, HOST_KEY_PAIRS = 4 };

// host_io_win.cpp
int startHostIo();                 // completion port and Windows Sockets
void stopHostIo();
HANDLE hostCompletionPort();
void wakeHostIo();                 // any thread: ends the current wait at once
void continueLater(int index);     // the port's relay goes on after what is queued now
void publishPairsSoon();           // any thread: a new pair snapshot is there to publish
void runHostIo(DWORD waitMs);      // waits up to waitMs, then handles what completed
int64_t hostNowMs();
int64_t hostNowTicks();
int64_t hostTickRate();

// host_port_io_win.cpp: one port's serial side, network link and relay.
void initPorts();
int portOpen(int index);           // 1 when the pair's far end is open
void portClose(int index);
void portStartLink(int index);
void portStopLink(int index);
void portPass(int index);          // time-outs, retries, publishing
void portCompletion(OVERLAPPED* overlapped, DWORD bytes, DWORD error);
void portContinue(int index);
void portResolved(int index);
void portPublishPair(int index);   // the pair snapshot's open state and settings of a held port
int portIdle(int index);           // nothing in flight: the slot may be reused

// host_resolve_win.cpp: host-name lookups off the I/O thread.
int startResolver();
void stopResolver();
void requestResolve(int index, uint32_t generation, const char* host);
// 1 found (address in *out), 0 not found, -1 no answer yet for this generation.
int takeResolved(int index, uint32_t generation, in_addr* out);

// host_pairs_win.cpp: the pairs' open state and line settings, refreshed
// a few times a second by one request to the driver library.
int startPairRefresh();
void stopPairRefresh();
void currentPairInfo(int com, VspdPairInfo* out);

// host_ports_win.cpp
void publishAllPairs();            // every held port's pair state, from the snapshot
