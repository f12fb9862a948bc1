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
#define IDM_TRAY_HISTORY 1010

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

// History window
#define IDD_HISTORY 1100
#define IDC_HISTORY_PLOT 1101
#define IDT_HISTORY_DRIFT 1102
#define IDB_HISTORY_COPY 1103

// Settings dialog "Options"
#define IDD_SETTINGS 101
#define IDR_SETTINGS_LIST 1035
#define IDR_SETTINGS_MANUAL_A 1036
#define IDR_SETTINGS_MANUAL_B 1037
#define IDL_SETTINGS_SERVERS 1034
#define IDL_SETTINGS_PROTOCOL 1013
#define IDB_SETTINGS_EDIT_LIST 1022
#define IDB_SETTINGS_REFRESH 1027
#define IDX_SETTINGS_DEFAULT_ONLY 1004
#define IDE_SETTINGS_ADDRESS_A 1007
#define IDE_SETTINGS_ADDRESS_B 1008
#define IDX_SETTINGS_DATES 1030
#define IDB_SETTINGS_DATES_RESET 1031
#define IDE_SETTINGS_DATE_START 1011
#define IDE_SETTINGS_DATE_END 1023
#define IDX_SETTINGS_AUTOSYNC 1016
#define IDE_SETTINGS_AUTOSYNC_COUNT 1018
#define IDU_SETTINGS_AUTOSYNC_COUNT 1010
#define IDL_SETTINGS_AUTOSYNC_UNIT 1017
#define IDB_SETTINGS_AUTOSYNC_RESET 1009
#define IDL_SETTINGS_WINDOWS_START 1020
#define IDL_SETTINGS_PROGRAM_START 1032
#define IDL_SETTINGS_LOG 1005
#define IDB_SETTINGS_VIEW_LOG 1012
#define IDL_SETTINGS_OFFSET_DIRECTION 1002
#define IDE_SETTINGS_OFFSET 1003
#define IDU_SETTINGS_OFFSET 1000
#define IDE_SETTINGS_TIMEOUT 1025
#define IDU_SETTINGS_TIMEOUT 1024
#define IDX_SETTINGS_MINOR 1039
#define IDX_SETTINGS_AVERAGE 1014
#define IDX_SETTINGS_TRAY 1019
#define IDX_SETTINGS_RESIDENT 1026
#define IDX_SETTINGS_MINIMISE 1021
#define IDX_SETTINGS_ON_TOP 1015
#define IDX_SETTINGS_SERVER 1038
#define IDX_SETTINGS_SLEW 1047
#define IDB_SETTINGS_RESET 7
#define IDB_SETTINGS_HELP 6

// Timers of the main window
#define TIMER_SYNC 1
#define TIMER_DISPLAY 2
#define TIMER_INIT 5
#define TIMER_AUTOSYNC 10

// Private messages of the main window, above the dialog class's own WM_USER range.
#define WM_TRAY_CALLBACK (WM_APP + 5)
// The time server's report waits for the GUI thread to show it.
#define WM_STATUS_POSTED (WM_APP + 6)
// The service: the control manager asks it to stop; a pipe request waits for its answer.
#define WM_SERVICE_STOP (WM_APP + 7)
#define WM_PIPE_REQUEST (WM_APP + 8)
// A second start asks the running copy to show its window. It stays where older
// releases, which a copy in another folder may be, listen for it.
#define WM_SHOW_RUNNING (WM_USER + 7)
