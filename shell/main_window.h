// The main window: a dialog whose class procedure is the hub of the GUI thread.
// Its handle, main_window, lives in window/status_line.h for the layers below.
#pragma once
#include <stdint.h>

#include "os/win32.h"

extern UINT taskbar_created_message;
// Set once the program has saved and asked to quit, so that the WM_DESTROY
// that follows does not save again.
extern uint32_t program_ending;
// 1 when the service keeps the time: this window is its face, and neither
// sets the clock nor serves the time itself.
extern uint32_t beside_service;

// The window becomes the face of the running service, on the machine's data:
// its own time server, AutoSync and rate go.
void become_service_face();

// The window class "PENDULARK" of the dialog template, with the program icon.
void register_main_class();
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The question before the settings are reset, for the settings dialog.
int confirm_settings_reset_here(HWND owner);
// A cycle of the window's engine, once the time-zone guard has run; none
// while one runs. Unattended: nobody asked for it, a far step needs a second server.
void begin_sync_cycle(HWND window, uint32_t correct, uint32_t unattended = 0, uint32_t slews = 0);
// Where the engine ends, for the window's exit and the service's stop alike.
void end_engine();
// The messages that drive the engine, the same in the window and in the
// service's: timer 1, timer 10, a resume, a clock changed, a time server's
// report. True with the procedure's result when it was one of them.
bool take_engine_message(HWND window, UINT message, WPARAM wparam, LRESULT* result);
// Timer 5, once: tooltips, computer name, the display tick, the start action,
// AutoSync, the time server and the time-zone guard.
void init_main_dialog(HWND window);
// Timer 2: the two clocks and the status line.
void display_tick(HWND window);
// Timer 2 of the user's window, never the service's: the display tick, and
// every 10 s a look at whether the service started or stopped.
void window_tick(HWND window);
// Timer 10.
void autosync_tick(HWND window);
// WM_POWERBROADCAST: a resume brings an AutoSync once the network answers.
void on_power_broadcast(HWND window, WPARAM event);
// WM_TIMECHANGE: a clock moved by someone else brings an AutoSync soon.
void on_time_change(HWND window);
// The commands of the buttons, the keys and the tray menu.
void on_main_command(HWND window, int command);
// Minimising hides the window to the tray when "Tray" is on.
void on_minimised(HWND window);
// Closing the window and the end of a Windows session; both save first.
void close_main_window(HWND window);
int query_end_session(HWND window);
