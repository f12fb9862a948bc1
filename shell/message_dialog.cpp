#include "shell/message_dialog.h"

#include "base/controls.h"
#include "window/modal_dialog.h"
#include "base/program.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"

int32_t msg_mode;
const char* msg_line1;
const char* msg_line2;
char* msg_line3;
const char* msg_line4;
uint32_t msg_topmost = 1;
uint32_t msg_autoclose_seconds;
int32_t msg_result;

// The mode in force while the dialog is open; progress counts as cancel-only.
static int32_t open_mode;

enum { timer_refresh = 1, timer_autoclose = 2, timer_focus = 3 };

void reset_message_parameters() {
    msg_mode = msg_mode_message;
    msg_line1 = msg_line2 = msg_line4 = nullptr;
    msg_line3 = nullptr;
    msg_autoclose_seconds = 0;
    msg_topmost = 1;
}

static void show_control(HWND dialog, int control, bool shown) {
    ShowWindow(GetDlgItem(dialog, control), shown ? SW_SHOW : SW_HIDE);
}

static void set_text(HWND dialog, int control, const char* text) {
    SetDlgItemTextA(dialog, control, text ? text : "");
}

static bool entry_mode() { return open_mode == msg_mode_entry || open_mode == msg_mode_entry_cancel; }

static void set_up_mode(HWND dialog) {
    switch (open_mode) {
        case msg_mode_confirm:
            show_control(dialog, IDB_MSG_CANCEL, true);
            break;
        case msg_mode_long_text:
            for (int line = IDE_MSG_LINE1; line <= IDE_MSG_LINE4; line++) show_control(dialog, line, false);
            show_control(dialog, IDE_MSG_LONG_TEXT, true);
            break;
        case msg_mode_question:
            show_control(dialog, IDB_MSG_CANCEL, true);
            show_control(dialog, IDB_MSG_THIRD, true);
            SetDlgItemTextA(dialog, IDB_MSG_OK, "Yes");
            SetDlgItemTextA(dialog, IDB_MSG_THIRD, "No");
            SetDlgItemTextA(dialog, IDB_MSG_CANCEL, "Cancel");
            break;
        case msg_mode_entry_cancel:
            show_control(dialog, IDB_MSG_CANCEL, true);
            [[fallthrough]];
        case msg_mode_entry:
            show_control(dialog, IDE_MSG_LINE3, false);
            show_control(dialog, IDE_MSG_LINE4, false);
            show_control(dialog, IDE_MSG_ENTRY, true);
            set_text(dialog, IDE_MSG_ENTRY, msg_line3);
            SetFocus(GetDlgItem(dialog, IDE_MSG_ENTRY));
            break;
        case msg_mode_search:
            SetDlgItemTextA(dialog, IDB_MSG_CANCEL, "Next");
            SetDlgItemTextA(dialog, IDB_MSG_THIRD, "Previous");
            show_control(dialog, IDB_MSG_CANCEL, true);
            show_control(dialog, IDB_MSG_THIRD, true);
            msg_line1 = "Search for...";
            break;
        case msg_mode_progress:
            SetTimer(dialog, timer_refresh, 1000, nullptr);
            open_mode = msg_mode_cancel_only;
            [[fallthrough]];
        case msg_mode_cancel_only:
            SetDlgItemTextA(dialog, IDB_MSG_OK, "Cancel");
            break;
        case msg_mode_custom_button:
            show_control(dialog, IDB_MSG_CANCEL, true);
            set_text(dialog, IDB_MSG_CANCEL, msg_line4);
            msg_line4 = nullptr;
            break;
    }
}

void init_message_dialog(HWND dialog) {
    SetWindowTextA(dialog, "Pendulark " PROGRAM_VERSION_TEXT);
    open_mode = msg_mode;
    switch (open_mode) {
        case msg_mode_message: case msg_mode_confirm: case msg_mode_long_text: case msg_mode_question:
        case msg_mode_entry: case msg_mode_search: case msg_mode_cancel_only: case msg_mode_custom_button:
        case msg_mode_progress: case msg_mode_entry_cancel:
            break;
        default:
            open_mode = msg_mode_message;
    }
    // In search mode the caller left the target window's handle here.
    if (open_mode != msg_mode_search) msg_result = 0;
    if (msg_topmost) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    set_up_mode(dialog);
    set_text(dialog, IDE_MSG_LINE1, msg_line1);
    set_text(dialog, IDE_MSG_LINE2, msg_line2);
    set_text(dialog, IDE_MSG_LINE3, msg_line3);
    set_text(dialog, IDE_MSG_LINE4, msg_line4);
    set_text(dialog, IDE_MSG_LONG_TEXT, msg_line1);
    if (msg_autoclose_seconds > 0) SetTimer(dialog, timer_autoclose, msg_autoclose_seconds * 1000, nullptr);
    SetTimer(dialog, timer_focus, 100, nullptr);
}

static void close_dialog(HWND dialog) {
    reset_message_parameters();
    KillTimer(dialog, timer_refresh);
    KillTimer(dialog, timer_autoclose);
    end_modal_dialog(dialog);
}

void on_message_timer(HWND dialog, UINT_PTR timer) {
    switch (timer) {
        case timer_refresh:
            if (msg_result == msg_close_request) {
                close_dialog(dialog);
                return;
            }
            set_text(dialog, IDE_MSG_LINE1, msg_line1);
            set_text(dialog, IDE_MSG_LINE2, msg_line2);
            break;
        case timer_autoclose:
            // One second is as good as any other time: the dialog closes as asked.
            KillTimer(dialog, timer_autoclose);
            msg_result = 1;
            close_dialog(dialog);
            break;
        case timer_focus:
            SetFocus(GetDlgItem(dialog, IDB_MSG_OK));
            KillTimer(dialog, timer_focus);
            break;
    }
}

void on_message_command(HWND dialog, int command) {
    if (open_mode == msg_mode_search && (command == IDB_MSG_THIRD || command == IDB_MSG_CANCEL)) {
        PostMessageA((HWND)(intptr_t)msg_result, command == IDB_MSG_THIRD ? msg_search_previous : msg_search_next, 0, 0);
        Sleep(100);
        set_text(dialog, IDE_MSG_LINE4, msg_line4);
        return;
    }
    if (command != IDB_MSG_OK && command != IDB_MSG_CANCEL && command != IDB_MSG_THIRD) return;
    msg_result = open_mode == msg_mode_question ? command : command == IDB_MSG_OK ? 1 : 2;
    if (entry_mode() && msg_line3) {
        char entry[msg_entry_size];
        read_control_text(dialog, IDE_MSG_ENTRY, entry);
        text_copy(msg_line3, msg_entry_size, entry);
    }
    close_dialog(dialog);
}

void show_message_dialog(HWND parent) {
    static const modal_dialog dialog = {IDD_MESSAGE, init_message_dialog, on_message_command, on_message_timer,
                                        nullptr};
    run_modal_dialog(parent, dialog);
}
