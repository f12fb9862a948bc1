#include "shell/tray.h"

#include "base/program.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/settings_store.h"
#include "sync/autosync.h"

uint32_t in_tray;
uint32_t defer_tray_icon;

static const char program_tip[] = "Pendulark " PROGRAM_VERSION_TEXT;

int notify_tray_icon(HWND window, HICON icon, UINT id, UINT callback, const char* tip, DWORD action) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window;
    data.uID = id;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callback;
    data.hIcon = icon;
    text_copy(data.szTip, sizeof data.szTip, tip);
    return Shell_NotifyIconA(action, &data);
}

static int tray_icon(const char* tip, DWORD action) {
    return notify_tray_icon(main_window, small_icon, 0, WM_TRAY_CALLBACK, tip, action);
}

// A hidden window without an icon and without a taskbar to announce itself
// would be out of the user's reach, so adding is always tried; only an icon
// that could not be added waits for "TaskbarCreated".
static void add_tray_icon() {
    defer_tray_icon = tray_icon(program_tip, NIM_ADD) ? 0 : 1;
}

void hide_to_tray(HWND window) {
    ShowWindow(window, SW_HIDE);
    add_tray_icon();
    in_tray = 1;
}

void show_main_window(HWND window) {
    if (in_tray) {
        in_tray = 0;
        tray_icon(program_tip, NIM_DELETE);
    }
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void refresh_tray_tip() {
    char tip[until_autosync_size + 20], until[until_autosync_size];
    if (autosync_armed) format_until_autosync(until);
    text_copy(tip, sizeof tip, autosync_armed ? until : program_tip);
    if (settings.time_server_enabled) text_append(tip, sizeof tip, "\r\nServer Active");
    tray_icon(tip, NIM_MODIFY);
}

void on_tray_callback(HWND window, WPARAM id, LPARAM mouse) {
    if (id != 0) return;
    refresh_tray_tip();
    if (mouse == WM_LBUTTONDBLCLK) {
        show_main_window(window);
    } else if (mouse == WM_RBUTTONDOWN) {
        PostMessageA(window, WM_RBUTTONUP, 0, 0);
    }
}

void show_tray_menu(HWND window) {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, IDB_MAIN_ABOUT, "About");
    AppendMenuA(menu, MF_STRING, IDM_TRAY_HISTORY, "History");
    AppendMenuA(menu, MF_STRING, IDM_TRAY_HELP, "Help");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    if (autosync_armed) AppendMenuA(menu, MF_STRING, IDM_TRAY_RESET, "Reset");
    AppendMenuA(menu, MF_STRING, IDB_MAIN_CORRECT, "Sync Now");
    AppendMenuA(menu, MF_STRING, IDB_MAIN_CANCEL, "Exit");
    POINT at;
    GetCursorPos(&at);
    // In front, so that the menu closes when the user clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenuEx(menu, TPM_RIGHTBUTTON, at.x, at.y, window, nullptr);
    DestroyMenu(menu);
}

void on_taskbar_created() {
    if (in_tray) add_tray_icon();
}

void remove_tray_icon() {
    if (in_tray) tray_icon(program_tip, NIM_DELETE);
}
