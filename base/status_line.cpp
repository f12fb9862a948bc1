#include "base/status_line.h"

#include "base/text.h"
#include "resources/pendulark_ids.h"

HINSTANCE instance_handle;
HWND main_window;
std::atomic<uint32_t> status_hold_ticks;

void show_status(const char* text) {
    SetDlgItemTextA(main_window, IDT_MAIN_STATUS, text);
}

void show_status_with(const char* text, const char* name) {
    char line[status_text_size];
    text_copy(line, sizeof line, text);
    text_append(line, sizeof line, name);
    show_status(line);
}
