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

// Settings dialog
#define IDL_SETTINGS_SERVERS 1034
