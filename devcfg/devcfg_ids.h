// Control ids of the Network Configurations, Configure Device and
// Automatically create serial port dialogs, shared by templates and procedures.
#pragma once

// Network Configurations (144)
#define IDC_NET_IP_LABEL          1000
#define IDC_NET_MODE_LABEL        1001
#define IDC_NET_MASK_LABEL        1004
#define IDC_NET_GATEWAY_LABEL     1005
#define IDC_NET_DNS1_LABEL        1008
#define IDC_NET_DNS2_LABEL        1010
#define IDC_NET_IP                1018
#define IDC_NET_MASK              1019
#define IDC_NET_GATEWAY           1020
#define IDC_NET_MODE              1021
#define IDC_NET_DNS1              1022
#define IDC_NET_DNS2              1023

// Configure Device (146)
#define IDC_DEVICE_PORT_LIST      1031
#define IDC_MAP_SERIAL_PORT       1032

// Automatically create serial port (147): labels, then their combo boxes
#define IDC_AUTO_COM_LABEL        1001
#define IDC_AUTO_CONNECTION_LABEL 1005
#define IDC_AUTO_INTERFACE_LABEL  1014
#define IDC_AUTO_BAUD_LABEL       1016
#define IDC_AUTO_DATA_LABEL       1018
#define IDC_AUTO_PARITY_LABEL     1020
#define IDC_AUTO_STOP_LABEL       1022
#define IDC_AUTO_COM              1037
#define IDC_AUTO_CONNECTION       1038
#define IDC_AUTO_INTERFACE        1015
#define IDC_AUTO_BAUD             1017
#define IDC_AUTO_DATA             1019
#define IDC_AUTO_PARITY           1021
#define IDC_AUTO_STOP             1023
