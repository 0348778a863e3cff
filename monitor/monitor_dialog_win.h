// The Monitor window: one port's captured traffic, a row per record, and the dump of the selected one.
#pragma once
#include <windows.h>

#include "monitor/monitor_rows.h"
#include "ports/port_table.h"

enum { MONITOR_TIMER_ID = 1, MONITOR_TIMER_PERIOD_MS = 1 };

INT_PTR CALLBACK monitorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The main window's entry: the Monitor of monitoredEntry, modal.
void openMonitorDialog(HWND owner);

extern int monitoredEntry;  // entry the Monitor shows

// The entry the Monitor shows, or null when monitoredEntry names none in the mapped table.
PortEntry* monitoredPortEntry();

// One timer tick: sets Start and Stop from the host's captureActive and, while
// capturing, takes every record the host wrote since the last tick into a row.
void pollCapture(HWND dialog);

// Shows the dump of record in the detail box; null empties it.
void renderRecordDetail(HWND dialog, const CaptureRecord* record);

// Copies the record that list item `item` of the Monitor shows; 0 when it
// shows none. Safe while the drain thread takes records.
int copyShownRecord(int item, CaptureRecord* record);

// Copies the Monitor's rows as they are now.
void copyShownRows(MonitorRows* rows);
