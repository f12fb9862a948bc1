// The main window: a dialog whose class procedure is the hub of the GUI thread.
#pragma once
#include "os/win32.h"

extern HWND main_window;

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
