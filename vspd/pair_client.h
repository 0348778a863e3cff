// Client side of the pair daemon's control channel, and the protocol it speaks.
//
// Under Wine a virtual pair is two Linux ptys held by the native pair daemon
// (parlo-paird). The daemon maps them into the Wine prefix as
//   dosdevices/com5      -> /dev/pts/N   (the side applications open as \\.\COM5)
//   dosdevices/null_com5 -> /dev/pts/M   (the side the host opens as \\.\NULL_COM5)
// and relays bytes between the two pty masters like a null-modem cable.
//
// Control protocol
//   TCP on 127.0.0.1 only, port 47311 (PARLO_PAIRD_PORT in the environment
//   overrides it on the client side; the daemon takes --port).
//   A request is one line of at most 128 characters ending in "\n" ("\r\n" is
//   accepted). Words are separated by spaces or tabs; the command word is not
//   case-sensitive, nor are the names. Each request gets exactly one reply line,
//   in order, starting with "OK" or "ERR <reason>". A client may send several
//   requests on one connection. A longer line is answered "ERR line too long"
//   and the connection is closed; a connection idle for 30 s is closed.
//
//   PING                  -> OK
//   CREATE COM5 NULL_COM5 -> OK        (also when the pair already exists: the
//                                       same pair, its links put back if missing)
//   DELETE COM5           -> OK | ERR no such pair
//   QUERY COM5            -> OK exists=0
//                          | OK exists=1 open=<0|1> baud=<bit/s> data=<5..8>
//                               parity=<0..4> stop=<0..2> nullopen=<0|1>
//   LIST                  -> OK COM5 COM7 ...   (the pairs, by COM number;
//                                                  "OK" alone when none)
//   QUERYALL              -> OK COM5=<open>,<baud>,<data>,<parity>,<stop>,<nullopen> COM7=...
//                            (every pair as QUERY reports it, by COM number;
//                             "OK" alone when none; a reader skips values
//                             added after the sixth)
//   WAITALL <seq> <ms>    -> OK <seq'> COM5=... COM7=...
//                            (as QUERYALL, with the daemon's change number:
//                             answered once it differs from seq, at once when
//                             it already does, else after ms, at most 10000.
//                             It moves on every open or close of a side, every
//                             change of an open port's line settings (compared
//                             every 10 ms while someone waits), every create
//                             and delete. Requests after it on the same
//                             connection wait for its answer.)
//
//   Bytes written to a side that nobody has open are dropped, as on a cable
//   with nothing at the far end, and a side starts empty when it is opened.
//   A side that is open but not read holds the other side's writer back.
//
//   Names: COM followed by 1 to 256 without leading zeros; the second CREATE
//   name must be NULL_ followed by the first. Anything else is "ERR bad name"
//   or "ERR name mismatch". Other errors: "ERR unknown command",
//   "ERR bad request", "ERR name in use" (the dosdevices name is taken by
//   something that is not a pty link, e.g. com1 -> /dev/ttyS0), "ERR no pty",
//   "ERR link failed", "ERR busy" (too many clients; then closed).
//
//   QUERY: open is 1 while an application has COM5 open, nullopen while the
//   host has NULL_COM5 open. The line settings are those of the pair as the
//   application last set them, in Windows DCB terms: parity 0 none, 1 odd,
//   2 even, 3 mark, 4 space; stop 0 one, 1 one and a half (5 data bits with
//   two stop bits, as the UART does it), 2 two. Linux ptys keep CS8 whatever
//   is set, so data is 8 and one and a half stop bits reads as 2; parity is
//   read from the flags Wine sets with it (INPCK, PARODD, CMSPAR).
#pragma once

#include <cstdint>

enum {
    PAIRD_DEFAULT_PORT = 47311,
    PAIR_TIMEOUT_MS = 500,       // for the connect, and again for the reply
    PAIR_MAX_COM = 256,
    PAIR_REQUEST_MAX = 128,      // characters in a request line, without "\n"
    PAIR_REPLY_MAX = 8192,       // longest reply line, "\n" included (QUERYALL of 256 pairs fits)
    PAIR_WAIT_MAX_MS = 10000,    // longest WAITALL
};

struct PairInfo {
    int32_t exists;    // 1 when the daemon holds the pair
    int32_t open;      // 1 while an application has the COM side open
    uint32_t baudRate; // bit/s
    int32_t dataBits;  // 5..8
    int32_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int32_t stopBits;  // 0 one, 1 one and a half, 2 two
};
static_assert(sizeof(PairInfo) == 24, "PairInfo layout");

// Each returns 1 on success, 0 when the daemon refused the request (or the
// names are invalid, in which case the daemon is not asked), and -1 when no
// daemon answered: at once when nothing listens, else after at most
// PAIR_TIMEOUT_MS for the connection and PAIR_TIMEOUT_MS for the reply.
// The caller has started Windows Sockets where there are any.
int pairCreate(const char* com, const char* nullName);
int pairDelete(const char* com);
int pairQuery(const char* com, PairInfo* out);
int pairPing();
// Fills out[n] for COMn, 0 <= n < count (out[0] and pairs the daemon does
// not hold read exists=0). Same results as the calls above.
int pairQueryAll(PairInfo* out, int count);
// As pairQueryAll, once the daemon's change number differs from *seq (at
// once when it already does), or after waitMs (at most PAIR_WAIT_MAX_MS);
// *seq is then the new change number. Start with any number: the first
// answer comes at once unless it happens to match.
int pairWaitAll(uint32_t* seq, PairInfo* out, int count, int waitMs);

// The control port: PARLO_PAIRD_PORT when it holds 1..65535, else 47311.
int pairControlPort();

// "COM5" (any case) -> 5; 0 unless COM1..COM256 without leading zeros.
int pairComNumber(const char* name);
// "NULL_COM5" (any case) -> 5; 0 otherwise.
int pairNullComNumber(const char* name);

// Parses the text of a QUERY reply (without its line end). Returns 1 and
// fills *out when it is a well-formed "OK exists=..." line, 0 otherwise.
int pairParseQueryReply(const char* line, PairInfo* out);
// Parses a QUERYALL reply into out[0..count-1] as pairQueryAll describes.
// Pairs numbered count or above are skipped. Returns 1 when the whole line
// is well formed, 0 otherwise (out is then all exists=0).
int pairParseQueryAllReply(const char* line, PairInfo* out, int count);
// Parses a WAITALL reply: "OK <seq>" and then what QUERYALL reports.
int pairParseWaitAllReply(const char* line, uint32_t* seq, PairInfo* out, int count);
