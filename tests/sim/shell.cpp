// The shell of the simulated machine: what it was asked to open, the tray icon
// and pop-up menus.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

HINSTANCE ShellExecuteA(HWND, const char*, const char* file, const char*, const char*, int) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().shell_opened = file ? file : "";
    return (HINSTANCE)(uintptr_t)42;
}

std::string os_test_shell_opened() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().shell_opened;
}

BOOL Shell_NotifyIconA(DWORD action, NOTIFYICONDATAA* data) {
    std::lock_guard<std::mutex> g(machine().lock);
    State& m = state();
    if (!m.taskbar || data->cbSize != NOTIFYICONDATAA_V2_SIZE) return FALSE;
    if (action == NIM_ADD && m.tray_icon) return FALSE;
    if (action != NIM_ADD && !m.tray_icon) return FALSE;
    m.tray_icon = action != NIM_DELETE;
    m.tray_tip = m.tray_icon ? std::string(data->szTip, strnlen(data->szTip, sizeof data->szTip)) : "";
    return TRUE;
}

HMENU CreatePopupMenu() {
    std::lock_guard<std::mutex> g(machine().lock);
    HMENU menu = (HMENU)(machine().next_handle++);
    state().menus[menu];
    return menu;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().menus[menu].push_back({flags & MF_SEPARATOR ? "-" : text, id});
    return TRUE;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT, int, int, HWND, void*) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().last_menu = state().menus[menu];
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().menus.erase(menu) != 0;
}

BOOL GetCursorPos(POINT* at) {
    at->x = at->y = 100;
    return TRUE;
}

void os_test_set_taskbar(bool present) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().taskbar = present;
    if (!present) state().tray_icon = false;
}

bool os_test_tray_icon(std::string* tip) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (tip) *tip = state().tray_tip;
    return state().tray_icon;
}

std::vector<std::string> os_test_last_menu(std::vector<UINT_PTR>* ids) {
    std::lock_guard<std::mutex> g(machine().lock);
    std::vector<std::string> texts;
    if (ids) ids->clear();
    for (auto& [text, id] : state().last_menu) {
        texts.push_back(text);
        if (ids) ids->push_back(id);
    }
    return texts;
}
