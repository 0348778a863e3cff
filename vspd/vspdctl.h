// VSPDCTL.DLL: control of the virtual serial driver's port pairs.
//
// Exports (stdcall, undecorated):
//   unsigned char CreatePair(const char* comName, const char* nullName)
//       Makes the pair: comName (e.g. "COM5") is the side applications open,
//       nullName ("NULL_COM5") the far end the host opens. 1 on success.
//   unsigned char DeletePair(const char* comName)
//       Removes the pair of comName. 1 on success.
//   unsigned char QueryBus(const char* comName, VspdPairInfo* info)
//       Fills info for comName. Returns 1 when the pair is known. With no
//       pair daemon reachable, only `exists` is filled (from our record) and
//       `daemon` is 0.
#pragma once
#include <cstdint>

struct VspdPairInfo {
    uint32_t size;        // caller sets sizeof(VspdPairInfo)
    uint8_t exists;       // the pair is in our record
    uint8_t daemon;       // the pair daemon answered: the fields below are live
    uint8_t open;         // an application has the COM side open
    uint8_t dataBits;     // 5..8
    uint32_t baudRate;
    uint8_t parity;       // DCB codes: 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits;     // DCB codes: 0 one, 1 one and a half, 2 two
    uint8_t reserved[2];
};
static_assert(sizeof(VspdPairInfo) == 16, "VspdPairInfo layout");

#define VSPD_RECORD_KEY "SOFTWARE\\Quorvat\\VSPD\\Pairs"
