// Resource identifiers of ParloMgr.exe: dialogs, menu, icons, strings, commands.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX            103
#define IDD_CREATE_PORT         131
#define IDD_MONITOR             132
#define IDD_SCAN_DEVICES        143
#define IDD_NETWORK_CONFIG      144
#define IDD_AUTHENTICATION      145
#define IDD_CONFIGURE_DEVICE    146
#define IDD_AUTO_CREATE_PORT    147

// Icons and menu
#define IDI_PARLOMGR            107
#define IDI_SMALL               108
#define IDC_PARLOMGR            109

// Main menu commands
#define IDM_ABOUT               104
#define IDM_EXIT                105
#define IDM_RESTART_CONNECTION  145
#define IDM_START_CONNECTION    147
#define IDM_STOP_CONNECTION     148
#define IDM_DELETE              32771
#define IDM_MANUALLY_ADD        32772
#define IDM_RESTART_ALL         32774
#define IDM_CLEAR_COUNTERS      32775
#define IDM_MONITOR_COM         32777
#define IDM_AUTOMATICALLY_ADD   32782
#define IDM_VISIT_WEBSITE       32783
#define IDM_SCAN_DEVICES        0

// String table
#define IDS_APP_TITLE           103
#define IDS_COL_TIME            104
#define IDS_COL_BYTES           105
#define IDS_COL_MODEL           106
#define IDS_COL_SN              107
#define IDS_COL_SERIAL_PORT     108
#define IDS_WINDOW_CLASS        109
#define IDS_COL_INTERFACE       110
#define IDS_INVALID_ADDRESS     111
#define IDS_PORT_IN_USE         112
#define IDS_COM_EXISTS          113
#define IDS_REBOOT_FAILED       114
#define IDS_NETWORK_FAILED      115
#define IDS_REBOOT_ADVICE       116
#define IDS_REBOOT_CONFIRM      117
#define IDS_COL_DATA            145
#define IDS_COL_NUMBER          146
#define IDS_COL_RXTX            147
#define IDS_COL_FIRMWARE        148
#define IDS_COL_IP_ADDRESS      149
#define IDS_COL_WEB_PORT        150
#define IDS_COL_VIRTUAL_COM     151
#define IDS_COL_BAUDRATE        152
#define IDS_COL_DATA_BIT        153
#define IDS_COL_PARITY          154
#define IDS_COL_STOP_BIT        155
#define IDS_COL_CONNECTION      156
#define IDS_COL_REMOTE_IP       157
#define IDS_COL_REMOTE_PORT     158
#define IDS_COL_RX_BYTES        159
#define IDS_COL_TX_BYTES        160
#define IDS_COL_STATE           161
#define IDS_COL_LOCAL_PORT      162
#define IDS_COL_OPEN_STATE      163
#define IDS_ACCESS_DENIED       164

// Controls
#define IDC_PORT_LIST           1000

#define PARLOMGR_ACCEL_NAME     "PARLOMGR_ACCEL"
#define MAKER_WEB_ADDRESS       "http://www.quorvat.example/"

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
