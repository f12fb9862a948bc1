// The main window as the layers below the shell reach it: its handle, on which
// every timer of the program runs, and its status line with the number of
// half-second ticks for which the line keeps its text. The sync controller
// and the time server both write the line.
#pragma once
#include <stdint.h>

#include <atomic>

#include "os/win32.h"

constexpr int status_text_size = 600;

// 1 from the start of a sync cycle to its end: the cycle owns the status line
// and the time server holds its reports back.
extern std::atomic<uint32_t> sync_running;

// Set by start-up: the module, for every resource, and the window once it exists.
extern HINSTANCE instance_handle;
// The program icon at 16 and 32 pixels, loaded with the window class.
extern HICON small_icon, large_icon;
extern HWND main_window;
extern std::atomic<uint32_t> status_hold_ticks;
// "Ready" replaces the text at the next tick and stays ten seconds; a result
// stays ten seconds before it.
constexpr uint32_t hold_then_ready = 20;
constexpr uint32_t hold_result = 40;

// On the GUI thread.
void show_status(const char* text);
// The commands as a running cycle shows them (Check turned into Abort,
// Correct and Options greyed), or as they are without one.
void show_commands_busy(HWND window, uint32_t busy);
constexpr const char* check_tooltip = "Check the time but don't change it";
// The literal followed by a name, cut to the status line's 600 bytes.
void show_status_with(const char* text, const char* name);
// The line as it stands, followed by text.
void append_status(const char* text);
// From another thread: the text and its hold wait under a lock until the GUI
// thread takes them on WM_STATUS_POSTED with show_posted_status.
void post_status(const char* text, uint32_t hold);
void show_posted_status();
