// Windows, dialogs and their controls, timers and posted messages of the
// simulated machine: tables that tests read, no real windows.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

static State::Control& control_at(HWND dialog, int id) { return state().controls[{dialog, id}]; }

static State::Control* control_of(HWND handle) {
    auto it = state().control_of_handle.find(handle);
    if (it == state().control_of_handle.end()) return nullptr;
    return &control_at(it->second.first, it->second.second);
}

// Only a broadcast that skips hung windows is counted: a plain SendMessage to
// every window would wait on the first one that hangs.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM, LPARAM, UINT flags, UINT timeout, DWORD_PTR* result) {
    std::lock_guard<std::mutex> g(machine().lock);
    bool bounded = (flags & SMTO_ABORTIFHUNG) && timeout > 0;
    if (window == HWND_BROADCAST && message == WM_TIMECHANGE && bounded) state().time_change_broadcasts++;
    if (window == HWND_BROADCAST && message == WM_WININICHANGE && bounded) state().setting_change_broadcasts++;
    if (result) *result = 0;
    return 1;
}

int os_test_time_change_broadcasts() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().time_change_broadcasts;
}

int os_test_setting_change_broadcasts() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().setting_change_broadcasts;
}

LRESULT SendMessageA(HWND, UINT message, WPARAM, LPARAM lparam) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (message == TTM_ADDTOOLA || message == TTM_DELTOOLA) {
        const TOOLINFOA* tool = (const TOOLINFOA*)lparam;
        State::Control* c = control_of((HWND)tool->uId);
        if (!c) return FALSE;
        if (message == TTM_DELTOOLA) c->tooltip.clear();
        else if (!c->tooltip.empty()) return FALSE;  // a second tool for a control is never shown
        else c->tooltip = tool->lpszText ? tool->lpszText : "";
        return TRUE;
    }
    return 0;
}

LRESULT SendDlgItemMessageA(HWND dialog, int control, UINT message, WPARAM wparam, LPARAM lparam) {
    std::lock_guard<std::mutex> g(machine().lock);
    switch (message) {
        case UDM_SETRANGE32:
            state().ranges[{dialog, control}] = {(int)wparam, (int)lparam};
            return 0;
        case DTM_SETSYSTEMTIME:
            state().dates[{dialog, control}] = *(const SYSTEMTIME*)lparam;
            return TRUE;
        case DTM_GETSYSTEMTIME:
            *(SYSTEMTIME*)lparam = state().dates[{dialog, control}];
            return GDT_VALID;
    }
    State::Combo& combo = state().combos[{dialog, control}];
    int count = (int)combo.items.size();
    switch (message) {
        case CB_RESETCONTENT:
            combo = State::Combo();
            return 0;
        case CB_INSERTSTRING: {
            int at = (int)wparam == -1 ? count : (int)wparam;
            if (at < 0 || at > count) return CB_ERR;
            combo.items.insert(combo.items.begin() + at, (const char*)lparam);
            return at;
        }
        case CB_GETCOUNT: return count;
        case CB_SETCURSEL:
            combo.selection = (int)wparam < count ? (int)wparam : CB_ERR;
            return combo.selection;
        case CB_GETCURSEL: return combo.selection;
        case CB_GETLBTEXT:
            if ((int)wparam < 0 || (int)wparam >= count) return CB_ERR;
            strcpy((char*)lparam, combo.items[wparam].c_str());
            return (LRESULT)combo.items[wparam].size();
    }
    return 0;
}

std::vector<std::string> os_test_combo_items(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().combos[{dialog, control}].items;
}

int os_test_combo_selection(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().combos[{dialog, control}].selection;
}

BOOL CheckDlgButton(HWND dialog, int control, UINT state) {
    std::lock_guard<std::mutex> g(machine().lock);
    sim::state().checks[{dialog, control}] = state;
    return TRUE;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int checked) {
    std::lock_guard<std::mutex> g(machine().lock);
    for (int control = first; control <= last; control++)
        state().checks[{dialog, control}] = control == checked ? BST_CHECKED : BST_UNCHECKED;
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().checks[{dialog, control}];
}

std::pair<int, int> os_test_updown_range(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().ranges[{dialog, control}];
}

HWND GetDlgItem(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine& m = machine();
    for (auto& [handle, place] : m.state.control_of_handle)
        if (place == std::make_pair(dialog, control)) return handle;
    HWND handle = (HWND)(m.next_handle++);
    m.state.control_of_handle[handle] = {dialog, control};
    return handle;
}

BOOL SetDlgItemTextA(HWND dialog, int control, const char* text) {
    std::lock_guard<std::mutex> g(machine().lock);
    control_at(dialog, control).text = text ? text : "";
    return TRUE;
}

// Like Windows: the text cut to size - 1 and terminated; the count copied.
UINT GetDlgItemTextA(HWND dialog, int control, char* text, int size) {
    if (size <= 0) return 0;
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& t = control_at(dialog, control).text;
    size_t n = t.size() < (size_t)size - 1 ? t.size() : (size_t)size - 1;
    memcpy(text, t.data(), n);
    text[n] = 0;
    return (UINT)n;
}

BOOL SetWindowTextA(HWND window, const char* text) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().window_texts[window] = text ? text : "";
    return TRUE;
}

// The result is whether the window was disabled before.
BOOL EnableWindow(HWND window, BOOL enable) {
    std::lock_guard<std::mutex> g(machine().lock);
    State::Control* c = control_of(window);
    if (!c) return FALSE;
    bool was_disabled = !c->enabled;
    c->enabled = enable != 0;
    return was_disabled;
}

BOOL IsWindowEnabled(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    State::Control* c = control_of(window);
    return c && c->enabled;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC) {
    std::lock_guard<std::mutex> g(machine().lock);
    // Windows clamps periods to 10 ms .. 0x7FFFFFFF ms.
    if (milliseconds < 10) milliseconds = 10;
    if (milliseconds > 0x7FFFFFFFu) milliseconds = 0x7FFFFFFFu;
    state().timers[{window, id}] = milliseconds;
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().timers.erase({window, id}) != 0;
}

UINT os_test_timer(HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto it = state().timers.find({window, id});
    return it == state().timers.end() ? 0 : it->second;
}

HWND CreateWindowExA(DWORD, const char*, const char*, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, void*) {
    std::lock_guard<std::mutex> g(machine().lock);
    return (HWND)(machine().next_handle++);
}

BOOL SetWindowPos(HWND window, HWND after, int, int, int, int, UINT) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (after == HWND_TOPMOST || after == HWND_NOTOPMOST) state().topmost[window] = after == HWND_TOPMOST;
    return TRUE;
}

UINT RegisterWindowMessageA(const char* name) {
    UINT hash = 0;
    for (const char* p = name; *p; p++) hash = hash * 31 + (unsigned char)*p;
    return 0xC000u + hash % 0x4000u;
}

void PostQuitMessage(int code) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().quit_code = code;
}

std::string os_test_control_text(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return control_at(dialog, control).text;
}

bool os_test_control_enabled(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return control_at(dialog, control).enabled;
}

std::string os_test_tooltip(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return control_at(dialog, control).tooltip;
}

int os_test_tool_count() {
    std::lock_guard<std::mutex> g(machine().lock);
    int count = 0;
    for (const auto& entry : state().controls) count += !entry.second.tooltip.empty();
    return count;
}

std::string os_test_window_text(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().window_texts[window];
}

bool os_test_topmost(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().topmost[window];
}

int os_test_quit_code() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().quit_code;
}

INT_PTR DialogBoxParamA(HINSTANCE, const char* name, HWND, DLGPROC procedure, LPARAM param) {
    HWND dialog;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        state().dialogs_shown.push_back((int)(uintptr_t)name);
        dialog = (HWND)(machine().next_handle++);
    }
    procedure(dialog, WM_INITDIALOG, 0, param);
    return 0;
}

BOOL EndDialog(HWND, INT_PTR) { return TRUE; }

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    std::lock_guard<std::mutex> g(machine().lock);
    LONG_PTR& word = state().window_words[{window, index}];
    LONG_PTR before = word;
    word = value;
    return before;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto it = state().window_words.find({window, index});
    return it == state().window_words.end() ? 0 : it->second;
}

BOOL ShowWindow(HWND window, int command) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().show_commands[window] = command;
    return TRUE;
}

BOOL DestroyWindow(HWND) { return TRUE; }

HWND SetFocus(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    HWND before = state().focus;
    state().focus = window;
    return before;
}

HWND os_test_focus() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().focus;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM, LPARAM) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().posted[window].push_back(message);
    return TRUE;
}

BOOL SetForegroundWindow(HWND) { return TRUE; }

std::vector<UINT> os_test_take_posted(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    std::vector<UINT> taken;
    taken.swap(state().posted[window]);
    return taken;
}

std::vector<int> os_test_dialogs_shown() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().dialogs_shown;
}

int os_test_show_command(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().show_commands[window];
}
