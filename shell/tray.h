// The notification-area icon and its menu: the icon exists while the main
// window is hidden there.
#pragma once
#include <stdint.h>

#include "os/win32.h"

// 1 while the main window is hidden to the tray.
extern uint32_t in_tray;
// 1 while the icon waits for the taskbar: set by "/s", since at logon the
// taskbar may not be there yet, and whenever adding the icon failed; the icon
// is then added on "TaskbarCreated". Cleared once an icon is in place.
extern uint32_t defer_tray_icon;

// Adds, modifies or deletes the icon; a tip past 127 characters is cut.
// Returns what Shell_NotifyIconA says.
int notify_tray_icon(HWND window, HICON icon, UINT id, UINT callback, const char* tip, DWORD action);
void hide_to_tray(HWND window);
// Brings the main window forward, out of the tray if it is there.
void show_main_window(HWND window);
// The countdown or the program's name, and the time server's state.
void refresh_tray_tip();
// Message 1029: id in wparam, the mouse message in lparam.
void on_tray_callback(HWND window, WPARAM id, LPARAM mouse);
void show_tray_menu(HWND window);
// Explorer started again: the icon of a hidden window comes back.
void on_taskbar_created();
// The program ends: the icon goes with it.
void remove_tray_icon();
