// Control ids of the Monitor dialog, shared by its template and its procedure.
#pragma once

#define IDC_MONITOR_LIST        1007
#define IDC_MONITOR_DETAIL      1008
#define IDC_MONITOR_START       33000
#define IDC_MONITOR_STOP        33001
#define IDC_MONITOR_SAVE        33002
#define IDC_MONITOR_CLEAR       33004
