// Identifiers of the program's resources, its controls and its system-menu command.
// The resource compiler reads this file too, so it holds #define lines only.
#pragma once

#define IDD_ABOUTBOX 100
#define IDP_OLE_INIT_FAILED 100
#define IDS_ABOUTBOX 101
#define IDD_CONTROL_PANEL 102
#define IDR_MAINFRAME 128

#define IDC_CONNECT 1000
#define IDC_COM_PORT 1001
#define IDC_MODEL 1002
#define IDC_STATUS 1003
#define IDC_CHECK_SOURCE 1004
#define IDC_CHECK_UNIT_ID 1005
#define IDC_DEFAULT_SETTING 1006
#define IDC_CHECK_SIGNAL 1007
#define IDC_SOURCE_HDMI1 1008
#define IDC_SOURCE_HDMI2 1009
#define IDC_SOURCE_HDMI3 1010
#define IDC_SOURCE_VGA 1011
#define IDC_DIAGNOSTIC 1012
#define IDC_CHECK_FIRMWARE 1013
#define IDC_SIGNAL_STATUS 1014
#define IDC_FIRMWARE_VERSION 1015
#define IDC_UNIT_ID 1016

#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
