// The History window: the offsets of dHistory.csv against time, the clock's
// drift below, Copy for the rows. Windows only: it draws with GDI.
#pragma once
#include "os/win32.h"
#include "window/modal_dialog.h"

extern const modal_dialog history_window;
void show_history_window(HWND owner);
