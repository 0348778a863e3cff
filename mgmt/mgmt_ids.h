// Control ids of the Scan Online Devices and Authentication dialogs, shared by
// their templates and their procedures.
#pragma once

// Scan Online Devices (143)
#define IDC_DEVICE_LIST         1009
#define IDC_SCAN_DEVICE         1012
#define IDC_DEVICE_SETTINGS     1015
#define IDC_NETWORK_SETTINGS    1016
#define IDC_REBOOT_DEVICE       1017
#define IDC_BROWSE_DEVICE       1034

// Authentication (145)
#define IDC_AUTH_USER_LABEL     1025
#define IDC_AUTH_SN_LABEL       1026
#define IDC_AUTH_SN             1027
#define IDC_AUTH_USER           1028
#define IDC_AUTH_PASSWORD_LABEL 1029
#define IDC_AUTH_PASSWORD       1030
