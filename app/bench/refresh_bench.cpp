// Measures one refresh pass of the main port list over 128 present entries:
// the item query and eight cell texts per row that every 100 ms tick costs.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app.h"
#include "app/port_list.h"
#include "app/settings.h"
#include "ports/port_table.h"
#include "ui/list_paint_win.h"

static double nowMs()
{
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return t.QuadPart * 1000.0 / f.QuadPart;
}

// The list's parent answers its cell requests and draws its rows, as the main window does.
static HWND benchList;
static LRESULT CALLBACK plainProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_NOTIFY) {
        answerPortListCell(reinterpret_cast<NMHDR*>(lp));
        return 0;
    }
    if (m == WM_DRAWITEM && benchList) {
        drawListRow(benchList, reinterpret_cast<const DRAWITEMSTRUCT*>(lp), MAIN_LIST_COLUMNS);
        return TRUE;
    }
    return DefWindowProcA(w, m, wp, lp);
}

int main(int argc, char** argv)
{
    // "live": the list on screen, refreshed every 100 ms with counters that
    // change on every tick, until the process is ended (its CPU is read from outside).
    const bool live = argc > 1 && strcmp(argv[1], "live") == 0;
    int passes = argc > 1 && !live ? atoi(argv[1]) : 200;
    appInstance = GetModuleHandleA(nullptr);
    static PortTable* table = (PortTable*)calloc(1, sizeof(PortTable));
    portTable = table;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        std::string name = "\\\\.\\NULL_COM" + std::to_string(40 + i);
        writePortEntry(table, i, name.c_str(), "10.231.1.1", "4001", "enable", i % 2 ? "udp" : "tcpc", "6001");
        PortEntry* e = &table->entries[i];
        e->present = 1;
        e->comOpen = 1;
        e->comBaudRate = 115200;
        e->comDataBits = 8;
        e->linkState = LINK_CONNECTED;
    }
    loadSettings();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = plainProc;
    wc.hInstance = appInstance;
    wc.lpszClassName = "RefreshBench";
    RegisterClassA(&wc);
    HWND main = CreateWindowA("RefreshBench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 900, 600, nullptr, nullptr,
                              appInstance, nullptr);
    HWND list = createPortList(main);
    benchList = list;
    if (!list) {
        printf("no list\n");
        return 1;
    }
    ShowWindow(main, SW_SHOW);
    refreshPortList(list);  // the rows appear
    if (live) {
        SetTimer(main, 1, 100, nullptr);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER) {
                for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
                    table->entries[i].rxBytes += 1700;
                    table->entries[i].txBytes += 500;
                }
                refreshPortList(list);
                continue;
            }
            DispatchMessageA(&msg);
        }
        return 0;
    }
    double best = 1e9, total = 0, paintTotal = 0;
    for (int p = 0; p < passes; p++) {
        for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
            table->entries[i].rxBytes += 17;
            table->entries[i].txBytes += 5;
        }
        double t0 = nowMs();
        refreshPortList(list);
        double dt = nowMs() - t0;
        total += dt;
        if (dt < best)
            best = dt;
        // A pass draws its changed cells itself; whatever paint is left is done here.
        t0 = nowMs();
        UpdateWindow(list);
        paintTotal += nowMs() - t0;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    printf("refresh pass, 128 rows: mean %.3f ms, best %.3f ms over %d passes (budget 100 ms per tick)\n",
           total / passes, best, passes);
    printf("paint left after a pass (UpdateWindow): mean %.3f ms\n", paintTotal / passes);
    printf("refresh_pass_mean_ms %.3f\n", total / passes);
    return 0;
}
