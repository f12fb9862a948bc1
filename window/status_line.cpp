#include "window/status_line.h"

#include <mutex>

#include "base/controls.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"

std::atomic<uint32_t> sync_running;
HINSTANCE instance_handle;
HICON small_icon, large_icon;
HWND main_window;
std::atomic<uint32_t> status_hold_ticks;

void show_status(const char* text) {
    SetDlgItemTextA(main_window, IDT_MAIN_STATUS, text);
}

void show_commands_busy(HWND window, uint32_t busy) {
    SetDlgItemTextA(window, IDB_MAIN_CHECK, busy ? "Abort" : "Check");
    set_control_enabled(window, IDB_MAIN_CORRECT, !busy);
    set_control_enabled(window, IDB_MAIN_OPTIONS, !busy);
    add_tooltip(window, IDB_MAIN_CHECK, busy ? "Cancel Pendulark operation" : check_tooltip);
}

static std::mutex posted_lock;
static char posted_text[status_text_size];
static uint32_t posted_hold;

void post_status(const char* text, uint32_t hold) {
    {
        std::lock_guard<std::mutex> g(posted_lock);
        text_copy(posted_text, sizeof posted_text, text);
        posted_hold = hold;
    }
    PostMessageA(main_window, WM_STATUS_POSTED, 0, 0);
}

void show_posted_status() {
    // A cycle that began since the post owns the line now.
    if (sync_running) return;
    char text[status_text_size];
    uint32_t hold;
    {
        std::lock_guard<std::mutex> g(posted_lock);
        text_copy(text, sizeof text, posted_text);
        hold = posted_hold;
    }
    status_hold_ticks = hold;
    show_status(text);
}

void show_status_with(const char* text, const char* name) {
    char line[status_text_size];
    text_copy(line, sizeof line, text);
    text_append(line, sizeof line, name);
    show_status(line);
}

void append_status(const char* text) {
    char line[status_text_size] = "";
    GetDlgItemTextA(main_window, IDT_MAIN_STATUS, line, sizeof line);
    text_append(line, sizeof line, text);
    show_status(line);
}
