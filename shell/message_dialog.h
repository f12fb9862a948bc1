// The program's general prompt: up to four lines, a long-text area or an
// entry field, and up to three buttons whose number and captions follow the
// mode. The caller sets the parameters, opens it and reads msg_result.
#pragma once
#include <stdint.h>

#include "os/win32.h"

enum {
    msg_mode_message = 0,
    msg_mode_confirm = 1,
    msg_mode_long_text = 3,
    msg_mode_question = 5,
    msg_mode_entry = 7,
    msg_mode_search = 8,
    msg_mode_cancel_only = 10,
    msg_mode_custom_button = 12,
    msg_mode_progress = 13,
    msg_mode_entry_cancel = 14,
};
constexpr int msg_entry_size = 300;
// Written into msg_result from outside, it closes a progress dialog.
constexpr int32_t msg_close_request = 9999;
// Posted to the search target of mode 8.
constexpr UINT msg_search_previous = WM_USER + 16;
constexpr UINT msg_search_next = WM_USER + 9;

extern int32_t msg_mode;
extern const char* msg_line1;
extern const char* msg_line2;
// In modes 7 and 14 a buffer of msg_entry_size bytes that takes the entry back.
extern char* msg_line3;
extern const char* msg_line4;
extern uint32_t msg_topmost;
extern uint32_t msg_autoclose_seconds;
extern int32_t msg_result;

void reset_message_parameters();
void show_message_dialog(HWND parent);
void init_message_dialog(HWND dialog);
void on_message_timer(HWND dialog, UINT_PTR timer);
void on_message_command(HWND dialog, int command);
