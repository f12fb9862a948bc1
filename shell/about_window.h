// The About window: name and version, the two folders, and a text describing
// the system that a user can copy into a bug report.
#pragma once
#include <stdint.h>

#include "os/win32.h"

constexpr int diagnostics_text_size = 2000;

// 1 while the window is open.
extern uint32_t about_open;

// Modal, owned by owner; does nothing while the window is open already.
void show_about_window(HWND owner);
void init_about_window(HWND dialog);
// The operating system, its edition, version and build, and Wine beneath it.
void describe_system(char (&out)[diagnostics_text_size]);

