// How many records a second the Monitor shows without losing one: a thread
// standing in for the host writes numbered records into the capture ring at
// rising rates while the real Monitor dialog follows the ring.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/settings.h"
#include "monitor/monitor_dialog_win.h"
#include "monitor/monitor_ids.h"
#include "monitor/monitor_rows.h"
#include "ports/port_table.h"

enum { BENCH_ENTRY = 0, RECORD_BYTES = 16, STEP_MS = 4000, TARGET_STEP_MS = 10000, DRAIN_MS = 5000 };

// The last step is a program writing byte by byte to a 921,600-baud port,
// held for TARGET_STEP_MS.
static const int rates[] = {1000, 5000, 10000, 20000, 30000, 50000, 75000, 92160};
static const int RATE_COUNT = sizeof rates / sizeof rates[0];

struct StepResult {
    int rate;            // records a second asked of the host; 0 for the flat-out step
    long long written;   // records offered to the host (written or dropped)
    long long shown;     // rows the Monitor added for them
    int overruns;        // records that found the ring full: the host drops them
    int misnumbered;     // rows whose record is not the one their "#" promises
    double seconds;      // from the first write until the Monitor had shown the last
    int maxPending;      // most records waiting in the ring at one time
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

static PortEntry* benchEntry() { return &portTable->entries[BENCH_ENTRY]; }

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
    for (;;) {
        const double elapsed = now() - start;
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
    result.shown = monitorRows.shownCount;
    result.misnumbered = countMisnumbered(list);
    return result;
}

static DWORD WINAPI hostThread(void*)
{
    while (!(monitorDialog = FindWindowA("#32770", "Monitor")))
        Sleep(10);
    Sleep(300);
    for (int i = 0; i < RATE_COUNT; i++) {
        results[resultCount++] = runStep(rates[i], i == RATE_COUNT - 1 ? TARGET_STEP_MS : STEP_MS);
        const StepResult& r = results[resultCount - 1];
        if (r.overruns || r.shown != r.written || r.misnumbered)
            break;
    }
    results[resultCount++] = runStep(0, STEP_MS);
    PostMessageA(monitorDialog, WM_COMMAND, IDOK, 0);
    return 0;
}

int main()
{
    QueryPerformanceFrequency(&frequency);
    portTable = static_cast<PortTable*>(
        VirtualAlloc(nullptr, sizeof(PortTable), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!portTable) {
        fprintf(stderr, "no memory for the table\n");
        return 1;
    }
    loadSettings();
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

    printf("%10s %10s %10s %9s %12s %11s %10s %12s %12s\n", "rate/s", "offered", "shown", "dropped",
           "misnumbered", "maxPending", "seconds", "shown/s", "unaccounted");
    int best = 0;
    for (int i = 0; i < resultCount; i++) {
        const StepResult& r = results[i];
        const bool lossless = !r.overruns && r.shown == r.written && !r.misnumbered;
        const double perSecond = r.seconds > 0 ? r.shown / r.seconds : 0;
        char rate[16];
        snprintf(rate, sizeof rate, r.rate ? "%d" : "flat-out", r.rate);
        // Every offered record is shown or dropped and counted.
        const long long unaccounted = r.written - r.shown - r.overruns;
        printf("%10s %10lld %10lld %9d %12d %11d %10.2f %12.0f %12lld%s\n", rate, r.written, r.shown,
               r.overruns, r.misnumbered, r.maxPending, r.seconds, perSecond, unaccounted,
               lossless ? "" : "  LOSS");
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
