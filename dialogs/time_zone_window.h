// The time-zone guard and the time-zone window.
#pragma once
#include "os/win32.h"

// Restores a locked time zone that has changed and refreshes the window title.
void check_time_zone(HWND window);
