// The "Options" dialog: every setting but the time zone's, shown from the
// record and applied back to it.
#pragma once
#include <stdint.h>

#include "window/modal_dialog.h"
#include "os/win32.h"

// Reset asks first; the shell answers with its message dialog (1: go on).
// The dialog sits below the shell, so the shell hands the question over here.
extern int (*confirm_settings_reset)(HWND owner);

// 1 while Options is open.
extern uint32_t settings_window_open;
void show_settings_window(HWND owner);
void init_settings_dialog(HWND dialog);
// Record to controls.
void show_settings(HWND dialog);
void show_date_window(HWND dialog);
// Controls to record, with the ranges held; starts and stops AutoSync and the time server.
void apply_settings_dialog(HWND dialog);
// Which controls are enabled, from the record.
void update_settings_controls(HWND dialog);
void on_settings_command(HWND dialog, int command);
extern const modal_dialog settings_dialog;
