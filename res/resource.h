// Identifiers of the program's resources and of the main dialog's controls.
#pragma once

#define IDD_TARVIC_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_URL 1000
#define IDC_GPRS_PORT 1001
#define IDC_LOG 1002
#define IDC_485_PORT 1003
// The system-menu item that shows and hides the log list (below 0xF000, low bits clear).
#define IDM_LOG 0x0010
