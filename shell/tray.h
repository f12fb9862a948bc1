// The notification-area icon and its menu.
#pragma once
#include <stdint.h>

#include "os/win32.h"

// 1 while the main window is hidden in the tray.
extern uint32_t in_tray;

// Until the icon exists, hiding leaves the window minimised on the task bar.
void hide_to_tray(HWND window);
void show_tray_menu(HWND window);
