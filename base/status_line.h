// The main window as the layers below the shell reach it: its handle, on which
// every timer of the program runs, and its status line with the number of
// half-second ticks for which the line keeps its text. The sync controller
// and the time server both write the line.
#pragma once
#include <stdint.h>

#include <atomic>

#include "os/win32.h"

constexpr int status_text_size = 600;

// Set by start-up: the module, for every resource, and the window once it exists.
extern HINSTANCE instance_handle;
extern HWND main_window;
extern std::atomic<uint32_t> status_hold_ticks;
// "Ready" replaces the text at the next tick and stays ten seconds; a result
// stays ten seconds before it.
constexpr uint32_t hold_then_ready = 20;
constexpr uint32_t hold_result = 40;

void show_status(const char* text);
// The literal followed by a name, cut to the status line's 600 bytes.
void show_status_with(const char* text, const char* name);
