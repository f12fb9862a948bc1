// Resource and control ids of Pendulark; the numbers are fixed.
#pragma once

#define IDI_PENDULARK 500
#define IDI_NOTICE 502

// Main window "MAINDIALOG"
#define IDB_MAIN_CHECK 1
#define IDB_MAIN_CANCEL 2
#define IDB_MAIN_CORRECT 3
#define IDB_MAIN_ABOUT 5
#define IDB_MAIN_OPTIONS 101
#define IDT_MAIN_STATUS 1000
#define IDB_MAIN_TIME_ZONE 1001
#define IDT_MAIN_COMPUTER_CLOCK 1029
#define IDT_MAIN_SERVER_CLOCK 1030
#define IDT_MAIN_COMPUTER 1031
#define IDT_MAIN_SERVER 1032

// Tray menu commands that the main window handles
#define IDM_TRAY_HELP 6
#define IDM_TRAY_RESET 1009

// Time-zone window
#define IDD_TIME_ZONE 1001
#define IDT_ZONE_NAME 1028
#define IDT_ZONE_PHASE 1029
#define IDT_ZONE_BIAS 1033
#define IDT_ZONE_STANDARD_NAME 1040
#define IDT_ZONE_STANDARD_DATE 1041
#define IDT_ZONE_STANDARD_BIAS 1042
#define IDT_ZONE_DAYLIGHT_NAME 1043
#define IDT_ZONE_DAYLIGHT_DATE 1044
#define IDT_ZONE_DAYLIGHT_BIAS 1045
#define IDX_ZONE_LOCK 1046
#define IDB_ZONE_HELP 6

// Message dialog
#define IDD_MESSAGE 1005
#define IDE_MSG_LINE1 850
#define IDE_MSG_LINE2 851
#define IDE_MSG_LINE3 852
#define IDE_MSG_LINE4 853
#define IDE_MSG_LONG_TEXT 1014
#define IDE_MSG_ENTRY 1001
#define IDB_MSG_OK 1
#define IDB_MSG_CANCEL 2
#define IDB_MSG_THIRD 3
#define IDT_MSG_RULE 600

// About window
#define IDD_ABOUT 1025
#define IDT_ABOUT_TITLE 1026
#define IDT_ABOUT_FOLDERS 1027
#define IDE_ABOUT_DIAGNOSTICS 1028

// Settings dialog
#define IDL_SETTINGS_SERVERS 1034

// Timers of the main window
#define TIMER_SYNC 1
#define TIMER_DISPLAY 2
#define TIMER_INIT 5
#define TIMER_AUTOSYNC 10

// Private messages of the main window
#define WM_TRAY_CALLBACK (WM_USER + 5)
// The time server's report waits for the GUI thread to show it.
#define WM_STATUS_POSTED (WM_USER + 6)
