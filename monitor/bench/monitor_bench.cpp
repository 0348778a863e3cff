// How many records a second the Monitor shows without losing one: a thread
// standing in for the host writes numbered records into the capture ring at
// rising rates while the real Monitor dialog follows the ring.
//
//   monitor_bench                     the paced steps against the stand-in host
//   monitor_bench host COM SECONDS    through the real host: a serial program
//                                     writes single bytes to COM at full speed
//                                     while the Monitor shows its port
//   monitor_bench write COM SECONDS FILE   that serial program (run by "host")
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "monitor/monitor_dialog_win.h"
#include "monitor/monitor_ids.h"
#include "monitor/monitor_rows.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"
#include "ui/window_settings.h"

enum { BENCH_ENTRY = 0, RECORD_BYTES = 16, STEP_MS = 4000, TARGET_STEP_MS = 10000, DRAIN_MS = 5000, STEP_ATTEMPTS = 3 };

// The last step is a program writing byte by byte to a 921,600-baud port,
// held for TARGET_STEP_MS.
static const int rates[] = {1000, 5000, 10000, 20000, 30000, 50000, 75000, 92160};
static const int RATE_COUNT = sizeof rates / sizeof rates[0];

// The Monitor as on a first run: default widths and the default list font.
static void useDefaultSettings()
{
    setDefaultSettings(&windowSettings, nullptr);
    makeListFont();
}

struct StepResult {
    int rate;            // records a second asked of the host; 0 for the flat-out step
    long long written;   // records offered to the host (written or dropped)
    long long shown;     // rows the Monitor added for them
    int overruns;        // records that found the ring full: the host drops them
    int misnumbered;     // rows whose record is not the one their "#" promises
    double seconds;      // from the first write until the Monitor had shown the last
    int maxPending;      // most records waiting in the ring at one time
    double writerGapMs;  // longest the writer thread went without a turn
    int lateDrops;       // drops while the writer was a whole ring behind its pace:
                         // a burst after the writer itself stalled, not the Monitor
    int attempts;        // runs of this step (see hostThread)
};

static StepResult results[RATE_COUNT + 1];
static int resultCount;
static HWND monitorDialog;
static LARGE_INTEGER frequency;

static double now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)frequency.QuadPart;
}

static int benchEntryIndex = BENCH_ENTRY;
static PortEntry* benchEntry() { return &portTable->entries[benchEntryIndex]; }

static int pending()
{
    const PortEntry* e = benchEntry();
    return (readShared(&e->captureWriteIndex) - readShared(&e->captureReadIndex) + CAPTURE_RING_SLOTS) %
           CAPTURE_RING_SLOTS;
}

// The host's side of one record: fill the write slot, then publish the index.
static void writeRecord(uint32_t number)
{
    PortEntry* e = benchEntry();
    const int slot = readShared(&e->captureWriteIndex);
    CaptureRecord* r = &e->captureRing[slot];
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    r->recordTime = t.QuadPart;
    r->recordDirection = number & 1;
    r->recordLength = RECORD_BYTES;
    memcpy(r->recordData, &number, sizeof number);
    memset(r->recordData + sizeof number, 0x55, RECORD_BYTES - sizeof number);
    MemoryBarrier();
    writeShared(&e->captureWriteIndex, (slot + 1) % CAPTURE_RING_SLOTS);
}

static int listCell(HWND list, int row, int column, char* text, int size)
{
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = size;
    text[0] = '\0';
    return (int)SendMessageA(list, LVM_GETITEMTEXTA, row, (LPARAM)&item);
}

// Each remaining row must show the record numbered as its "#" cell says.
static int countMisnumbered(HWND list)
{
    const int rows = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    int wrong = 0;
    for (int row = 0; row < rows; row++) {
        char number[32], data[128];
        listCell(list, row, 0, number, sizeof number);
        listCell(list, row, 4, data, sizeof data);
        unsigned b[4] = {};
        if (sscanf(data, "%02X %02X %02X %02X", &b[0], &b[1], &b[2], &b[3]) != 4) {
            wrong++;
            continue;
        }
        const unsigned shownNumber = b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24);
        if (shownNumber != (unsigned)strtoul(number, nullptr, 10))
            wrong++;
    }
    return wrong;
}

// One step: `rate` records a second for STEP_MS, or with rate 0 as fast as
// the ring lets the host write without overrunning it.
static StepResult runStep(int rate, int stepMs)
{
    HWND list = GetDlgItem(monitorDialog, IDC_MONITOR_LIST);
    SendMessageA(monitorDialog, WM_COMMAND, IDC_MONITOR_CLEAR, 0);
    StepResult result = {};
    result.rate = rate;
    const double start = now();
    uint32_t number = 0;
    double last = start;
    for (;;) {
        const double at = now();
        if ((at - last) * 1000 > result.writerGapMs)
            result.writerGapMs = (at - last) * 1000;
        last = at;
        const double elapsed = at - start;
        if (elapsed * 1000 >= stepMs)
            break;
        const long long due = rate ? (long long)(elapsed * rate) : -1;
        if (rate && number >= due) {
            Sleep(1);
            continue;
        }
        const int waiting = pending();
        if (waiting > result.maxPending)
            result.maxPending = waiting;
        if (waiting >= CAPTURE_RING_SLOTS - 1) {
            if (!rate) {
                Sleep(1);
                continue;
            }
            // As the host does: the record is dropped, never written over unread ones.
            result.overruns++;
            if (due - number >= CAPTURE_RING_SLOTS)
                result.lateDrops++;
            number++;
            continue;
        }
        writeRecord(number++);
    }
    result.written = number;
    const double drainEnd = now() + DRAIN_MS / 1000.0;
    while (pending() != 0 && now() < drainEnd)
        Sleep(1);
    result.seconds = now() - start;
    // The list follows the rows on the Monitor's next tick; until then its
    // items may move under two reads of the same row.
    Sleep(200);
    result.shown = monitorRows.shownCount;
    result.misnumbered = countMisnumbered(list);
    return result;
}

static DWORD WINAPI hostThread(void*)
{
    // The writer's Sleep(1) is otherwise a whole system tick.
    timeBeginPeriod(1);
    while (!(monitorDialog = FindWindowA("#32770", "Monitor")))
        Sleep(10);
    Sleep(300);
    for (int i = 0; i < RATE_COUNT; i++) {
        StepResult r = {};
        // A step in which the writer itself went without a turn for longer
        // than the ring lasts at that rate measured the machine, not the
        // Monitor (the whole process stood still): it is run again, twice at most.
        for (int attempt = 1; attempt <= STEP_ATTEMPTS; attempt++) {
            r = runStep(rates[i], i == RATE_COUNT - 1 ? TARGET_STEP_MS : STEP_MS);
            r.attempts = attempt;
            const bool lossless = !r.overruns && r.shown == r.written && !r.misnumbered;
            const bool disturbed = r.writerGapMs * rates[i] / 1000 >= CAPTURE_RING_SLOTS - 1;
            if (lossless || !disturbed)
                break;
        }
        results[resultCount++] = r;
        if (r.overruns || r.shown != r.written || r.misnumbered)
            break;
    }
    results[resultCount++] = runStep(0, STEP_MS);
    PostMessageA(monitorDialog, WM_COMMAND, IDOK, 0);
    return 0;
}

// ---- through the real host ----

// Every record the Monitor takes passes here (the link wraps pollCaptureRing):
// its bytes are counted per direction, and each sent record must continue
// the writer's byte sequence where the last one ended.
struct Tally {
    long long records;
    long long bytes[2];   // by recordDirection: 0 sent by the program, 1 received
    long long broken;     // sent records that do not continue the sequence
    unsigned nextSent;    // the sequence value the next sent byte must have
};
static Tally tally;
enum { SEQUENCE = 251 };  // the writer's bytes: 0, 1, ... 250, 0, 1, ...

// The link's --wrap of pollCaptureRing(PortEntry*, MonitorRows*), by its
// mangled name; i686 symbols carry one more leading underscore.
#ifdef _WIN64
#define CAPTURE_SYMBOL(prefix) #prefix "_Z15pollCaptureRingP9PortEntryP11MonitorRows"
#else
#define CAPTURE_SYMBOL(prefix) "_" #prefix "_Z15pollCaptureRingP9PortEntryP11MonitorRows"
#endif
int realPollCaptureRing(PortEntry* entry, MonitorRows* rows) __asm__(CAPTURE_SYMBOL(__real_));
int tallyPollCaptureRing(PortEntry* entry, MonitorRows* rows) __asm__(CAPTURE_SYMBOL(__wrap_));
int tallyPollCaptureRing(PortEntry* entry, MonitorRows* rows)
{
    const int added = realPollCaptureRing(entry, rows);
    // At most 1023 records wait in the ring: the new rows are the last `added`.
    for (int k = rows->count - added; k < rows->count; k++) {
        const CaptureRecord* r = &monitorRow(rows, k)->record;
        const int dir = r->recordDirection ? 1 : 0;
        tally.records++;
        tally.bytes[dir] += r->recordLength;
        if (dir)
            continue;
        for (uint32_t b = 0; b < r->recordLength && b < CAPTURE_DATA_BYTES; b++) {
            if (r->recordData[b] != tally.nextSent) {
                tally.broken++;
                tally.nextSent = r->recordData[b];
            }
            tally.nextSent = (tally.nextSent + 1) % SEQUENCE;
        }
    }
    return added;
}

// The serial program: single bytes to COM, one WriteFile each, as fast as
// they go, for `seconds`; the device's echo is read and thrown away. The
// count of bytes written goes to `out`.
static HANDLE writerPort;
static volatile LONG writerDone;

static DWORD WINAPI echoReader(void*)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    static char sink[4096];
    while (!InterlockedCompareExchange(&writerDone, 0, 0)) {
        DWORD got = 0;
        ResetEvent(ov.hEvent);
        if (!ReadFile(writerPort, sink, sizeof sink, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
            break;
        if (WaitForSingleObject(ov.hEvent, 200) != WAIT_OBJECT_0) {
            CancelIo(writerPort);
            GetOverlappedResult(writerPort, &ov, &got, TRUE);
            continue;
        }
        GetOverlappedResult(writerPort, &ov, &got, FALSE);
    }
    return 0;
}

static int writeSingleBytes(const char* com, int seconds, const char* out)
{
    char path[64];
    snprintf(path, sizeof path, "\\\\.\\%s", com);
    writerPort = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                             nullptr);
    if (writerPort == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "monitor_bench: cannot open %s: error %lu\n", com, GetLastError());
        return 1;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(writerPort, &dcb);
    dcb.BaudRate = 921600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    COMMTIMEOUTS timeouts = {1, 0, 0, 0, 0};
    SetCommState(writerPort, &dcb);
    SetCommTimeouts(writerPort, &timeouts);
    HANDLE reader = CreateThread(nullptr, 0, echoReader, nullptr, 0, nullptr);
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    long long written = 0;
    const double end = now() + seconds;
    while (now() < end) {
        const uint8_t b = (uint8_t)(written % SEQUENCE);
        DWORD n = 0;
        // WriteFile resets the event itself; under Wine every call to the server counts here.
        if (!WriteFile(writerPort, &b, 1, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
            break;
        if (!GetOverlappedResult(writerPort, &ov, &n, TRUE) || n != 1)
            break;
        written++;
    }
    InterlockedExchange(&writerDone, 1);
    WaitForSingleObject(reader, 5000);
    FILE* f = fopen(out, "w");
    if (f) {
        fprintf(f, "%lld\n", written);
        fclose(f);
    }
    CloseHandle(writerPort);
    return 0;
}

static const char* hostCom;
static int hostSeconds;
static char selfPath[MAX_PATH];

static long long readCounter(const volatile int64_t* p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }

static DWORD WINAPI throughHostThread(void*)
{
    timeBeginPeriod(1);
    while (!(monitorDialog = FindWindowA("#32770", "Monitor")))
        Sleep(10);
    PortEntry* e = benchEntry();
    for (int k = 0; k < 500 && !readShared(&e->captureActive); k++)
        Sleep(10);
    const long long tx0 = readCounter(&e->txBytes), rx0 = readCounter(&e->rxBytes);
    char countFile[MAX_PATH + 32], folder[MAX_PATH] = "";
    GetTempPathA(sizeof folder, folder);
    snprintf(countFile, sizeof countFile, "%smonitor_bench_written.txt", folder);
    DeleteFileA(countFile);
    char command[MAX_PATH + 128];
    snprintf(command, sizeof command, "\"%s\" write %s %d %s", selfPath, hostCom, hostSeconds, countFile);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    long long written = -1;
    const double start = now();
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, (DWORD)(hostSeconds + 60) * 1000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        FILE* f = fopen(countFile, "r");
        if (f) {
            if (fscanf(f, "%lld", &written) != 1)
                written = -1;
            fclose(f);
        }
    }
    const double wrote = now() - start;
    // Until the echo is back, the host has counted it and the Monitor has taken it all.
    const double settle = now() + 10;
    long long seenTx = -1, seenRx = -1;
    while (now() < settle) {
        Sleep(500);
        const long long tx = readCounter(&e->txBytes), rx = readCounter(&e->rxBytes);
        if (tx == seenTx && rx == seenRx && pending() == 0)
            break;
        seenTx = tx;
        seenRx = rx;
    }
    Sleep(200);
    const long long hostTx = readCounter(&e->txBytes) - tx0, hostRx = readCounter(&e->rxBytes) - rx0;
    const long long dropped = readShared(&e->captureDropped);
    MonitorRows shown;
    copyShownRows(&shown);
    PostMessageA(monitorDialog, WM_COMMAND, IDOK, 0);

    printf("through the host: %s, single bytes for %d s (%.1f s)\n", hostCom, hostSeconds, wrote);
    printf("  written by the program: %lld bytes (%.0f writes/s)\n", written, written / (wrote > 0 ? wrote : 1));
    printf("  host counted: sent %lld bytes, received %lld bytes (the device's echo)\n", hostTx, hostRx);
    printf("  records shown: %lld (%.0f/s), numbered to %d; dropped by the host and counted: %lld\n",
           tally.records, tally.records / (wrote > 0 ? wrote : 1), shown.shownCount, dropped);
    printf("  bytes shown: sent %lld, received %lld; sent records out of sequence: %lld\n", tally.bytes[0],
           tally.bytes[1], tally.broken);
    // With nothing dropped, every byte written must be in a shown record, in order.
    const bool accounted = dropped == 0 ? tally.bytes[0] == written && tally.bytes[1] == hostRx &&
                                              tally.broken == 0 && tally.records == shown.shownCount
                                        : tally.bytes[0] < written;
    printf("  every record accounted for: %s\n", written > 0 && accounted ? "yes" : "NO");
    printf("monitor_host_records_shown %lld\n", tally.records);
    printf("monitor_host_records_dropped %lld\n", dropped);
    printf("monitor_host_accounted %d\n", written > 0 && accounted ? 1 : 0);
    fflush(stdout);
    return 0;
}

static int throughHost(const char* com, int seconds)
{
    if (!mapPortTable()) {
        fprintf(stderr, "monitor_bench: the host's table is not there\n");
        return 1;
    }
    const int entry = findEntryByComName(portTable, com);
    if (entry < 0) {
        fprintf(stderr, "monitor_bench: no port %s\n", com);
        return 1;
    }
    useDefaultSettings();
    hostCom = com;
    hostSeconds = seconds;
    GetModuleFileNameA(nullptr, selfPath, sizeof selfPath);
    benchEntryIndex = entry;
    monitoredEntry = entry;
    // As Monitor COM does before the window opens.
    writeShared(&portTable->entries[entry].captureCommand, CAPTURE_START);
    HANDLE measure = CreateThread(nullptr, 0, throughHostThread, nullptr, 0, nullptr);
    openMonitorDialog(nullptr);
    WaitForSingleObject(measure, INFINITE);
    return 0;
}

int main(int argc, char** argv)
{
    QueryPerformanceFrequency(&frequency);
    if (argc >= 5 && strcmp(argv[1], "write") == 0)
        return writeSingleBytes(argv[2], atoi(argv[3]), argv[4]);
    if (argc >= 4 && strcmp(argv[1], "host") == 0)
        return throughHost(argv[2], atoi(argv[3]));
    portTable = static_cast<PortTable*>(
        VirtualAlloc(nullptr, sizeof(PortTable), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!portTable) {
        fprintf(stderr, "no memory for the table\n");
        return 1;
    }
    useDefaultSettings();
    PortEntry* e = benchEntry();
    writePortEntry(portTable, BENCH_ENTRY, "\\\\.\\NULL_COM40", "127.0.0.1", "4001", "enable", "tcpc", "0");
    e->present = 1;
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    e->captureStartTime = t.QuadPart;
    e->captureTickRate = frequency.QuadPart;
    e->captureActive = 1;
    monitoredEntry = BENCH_ENTRY;

    HANDLE host = CreateThread(nullptr, 0, hostThread, nullptr, 0, nullptr);
    openMonitorDialog(nullptr);
    WaitForSingleObject(host, INFINITE);

    printf("%10s %10s %10s %9s %12s %11s %10s %12s %12s %10s %10s %9s\n", "rate/s", "offered", "shown", "dropped",
           "misnumbered", "maxPending", "seconds", "shown/s", "unaccounted", "writerGap", "lateDrops", "attempts");
    int best = 0;
    for (int i = 0; i < resultCount; i++) {
        const StepResult& r = results[i];
        const bool lossless = !r.overruns && r.shown == r.written && !r.misnumbered;
        const double perSecond = r.seconds > 0 ? r.shown / r.seconds : 0;
        char rate[16];
        snprintf(rate, sizeof rate, r.rate ? "%d" : "flat-out", r.rate);
        // Every offered record is shown or dropped and counted.
        const long long unaccounted = r.written - r.shown - r.overruns;
        printf("%10s %10lld %10lld %9d %12d %11d %10.2f %12.0f %12lld %8.1fms %10d %9d%s\n", rate, r.written,
               r.shown, r.overruns, r.misnumbered, r.maxPending, r.seconds, perSecond, unaccounted, r.writerGapMs,
               r.lateDrops, r.attempts, lossless ? "" : "  LOSS");
        if (lossless && r.rate > best)
            best = r.rate;
    }
    const StepResult& flat = results[resultCount - 1];
    printf("highest lossless paced rate: %d records/s\n", best);
    printf("monitor_lossless_records_per_s %d\n", best);
    printf("flat-out, host held back by the full ring: %.0f records/s shown\n",
           flat.seconds > 0 ? flat.shown / flat.seconds : 0.0);
    return 0;
}
