#include "base/controls.h"

#include <algorithm>
#include <utility>
#include <vector>

HWND tooltip_window;
static HINSTANCE tooltip_instance;

void create_tooltip_window(HINSTANCE instance) {
    tooltip_instance = instance;
    tooltip_window = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

// The controls given a tool, by their dialog, so that a closing dialog takes
// away every tool it added. The GUI thread's alone.
static std::vector<std::pair<HWND, int>> tools;

static void remove_tooltip(HWND dialog, int control) {
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = GetDlgItem(dialog, control);
    tool.uId = (UINT_PTR)tool.hwnd;
    SendMessageA(tooltip_window, TTM_DELTOOLA, 0, (LPARAM)&tool);
}

void add_tooltip(HWND dialog, int control, const char* text) {
    // One tool a control: a second tool for the same control would never show.
    remove_tooltip(dialog, control);
    if (std::find(tools.begin(), tools.end(), std::make_pair(dialog, control)) == tools.end())
        tools.emplace_back(dialog, control);
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetDlgItem(dialog, control);
    tool.uId = (UINT_PTR)tool.hwnd;
    tool.hinst = tooltip_instance;
    tool.lpszText = (char*)text;
    SendMessageA(tooltip_window, TTM_ADDTOOLA, 0, (LPARAM)&tool);
}

void set_control_enabled(HWND dialog, int control, int enable) {
    EnableWindow(GetDlgItem(dialog, control), enable);
}

void broadcast_change(UINT message) {
    SendMessageTimeoutA(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr);
}

void set_topmost(HWND window, uint32_t flag) {
    SetWindowPos(window, flag == 1 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

void remove_tooltips(HWND dialog) {
    for (auto it = tools.begin(); it != tools.end();) {
        if (it->first != dialog) {
            ++it;
            continue;
        }
        remove_tooltip(dialog, it->second);
        it = tools.erase(it);
    }
}
