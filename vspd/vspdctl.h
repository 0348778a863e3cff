// VSPDCTL.DLL: control of the virtual serial driver's port pairs.
//
// Under Wine a pair is made by the pair daemon (vspd/pair_client.h): two
// ptys mapped into the prefix as COMn and NULL_COMn. The library also keeps
// a record of its pairs in the registry (VSPD_RECORD_KEY), so that create
// and delete round-trip across processes even when no daemon runs.
//
// Exports (stdcall, undecorated):
//   unsigned char CreatePair(const char* comName, const char* nullName)
//       Makes the pair: comName (e.g. "COM5") is the side applications open,
//       nullName ("NULL_COM5") the far end the host opens. Asks the daemon
//       and writes the record. 1 when the daemon made the pair (or already
//       had it), and also when no daemon answered: then only the record is
//       written, and QueryBus says so with daemon 0. 0 when the names are
//       unusable or the daemon refused them (no record is then kept).
//   unsigned char DeletePair(const char* comName)
//       Removes the pair from the daemon and from the record. 1 when either
//       of them held it.
//   unsigned char QueryBus(const char* comName, VspdPairInfo* info)
//       Fills info for comName (info->size must be set first). With the
//       daemon answering (daemon 1) every field is live; without it (daemon
//       0) only exists is filled, from the record. Returns exists.
//   unsigned QueryBusAll(VspdPairInfo* infos, unsigned count)
//       The same for every pair in one request to the daemon: infos[n]
//       describes COMn for 0 <= n < count (infos[0] never exists). The
//       caller sets infos[0].size; every entry comes back with size set.
//       Returns the number of pairs that exist, 0 on a bad argument.
//   unsigned WaitBusChange(VspdPairInfo* infos, unsigned count, unsigned* change, unsigned waitMs)
//       As QueryBusAll, but the daemon answers only once its change number
//       differs from *change (an open, a close, a line-settings change, a
//       create or a delete), or after waitMs (at most 10000); *change is
//       then its new number. Start with any number: the first call returns
//       at once. Without a daemon it returns the record at once and leaves
//       *change alone (infos[0].daemon is 0), so a caller that loops on it
//       waits itself before the next call.
//
// No call is made from DllMain. Windows Sockets are started once, on the
// first call that needs them, and stay started while the library is loaded.
// A daemon that does not answer costs at most 1 s per call (connect and
// reply time-outs); none at all when nothing listens on its port.
#pragma once
#include <cstdint>

struct VspdPairInfo {
    uint32_t size;        // caller sets sizeof(VspdPairInfo)
    uint8_t exists;       // the pair exists (daemon 1) or is in our record (daemon 0)
    uint8_t daemon;       // the pair daemon answered: the fields below are live
    uint8_t open;         // an application has the COM side open
    uint8_t dataBits;     // 5..8 (a pty always reads 8)
    uint32_t baudRate;
    uint8_t parity;       // DCB codes: 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits;     // DCB codes: 0 one, 1 one and a half, 2 two
    uint8_t reserved[2];
};
static_assert(sizeof(VspdPairInfo) == 16, "VspdPairInfo layout");

#define VSPD_RECORD_KEY "SOFTWARE\\Quorvat\\VSPD\\Pairs"

// Entry point types, for callers that bind the library at run time.
#ifdef _WIN32
typedef unsigned char(__stdcall* VspdCreatePairFn)(const char*, const char*);
typedef unsigned char(__stdcall* VspdDeletePairFn)(const char*);
typedef unsigned char(__stdcall* VspdQueryBusFn)(const char*, VspdPairInfo*);
typedef unsigned(__stdcall* VspdQueryBusAllFn)(VspdPairInfo*, unsigned);
typedef unsigned(__stdcall* VspdWaitBusChangeFn)(VspdPairInfo*, unsigned, unsigned*, unsigned);
#endif
