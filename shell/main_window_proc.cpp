// The main window's class and procedure: the procedure only dispatches
// messages to the operations of main_window.cpp and the sync controller.
#include "base/program.h"
#include "dialogs/history_window.h"
#include "window/status_line.h"
#include "resources/pendulark_ids.h"
#include "shell/main_window.h"
#include "shell/tray.h"

// At the sizes of this session's DPI (the tray's and the caption's), so that
// Windows picks the drawing made for that size instead of stretching another.
static HICON load_program_icon(int width_metric, int height_metric) {
    return (HICON)LoadImageA(instance_handle, MAKEINTRESOURCEA(IDI_PENDULARK), IMAGE_ICON,
                             GetSystemMetrics(width_metric), GetSystemMetrics(height_metric), LR_DEFAULTCOLOR);
}

void register_main_class() {
    large_icon = load_program_icon(SM_CXICON, SM_CYICON);
    small_icon = load_program_icon(SM_CXSMICON, SM_CYSMICON);
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.cbWndExtra = DLGWINDOWEXTRA;
    window_class.hInstance = instance_handle;
    window_class.hIcon = large_icon;
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    window_class.lpszClassName = PROGRAM_CLASS_NAME;
    window_class.hIconSm = small_icon;
    RegisterClassExA(&window_class);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result;
    if (take_engine_message(window, message, wparam, &result)) return result;
    switch (message) {
        case WM_CREATE:
            SetTimer(window, TIMER_INIT, 500, nullptr);
            break;
        case WM_TIMER:
            if (wparam == TIMER_DISPLAY) window_tick(window);
            else if (wparam == TIMER_INIT) init_main_dialog(window);
            return 0;
        case WM_COMMAND:
            // The History window draws with GDI: it is no part of the simulated build.
            if (LOWORD(wparam) == IDM_TRAY_HISTORY) show_history_window(window);
            else on_main_command(window, LOWORD(wparam));
            return 0;
        case WM_CLOSE:
        case WM_DESTROY:
            close_main_window(window);
            return 0;
        case WM_QUERYENDSESSION:
            return query_end_session(window);
        case WM_SIZE:
            if (wparam == SIZE_MINIMIZED) on_minimised(window);
            break;
        case WM_TRAY_CALLBACK:
            on_tray_callback(window, wparam, lparam);
            return 0;
        case WM_SHOW_RUNNING:
            show_main_window(window);
            return 0;
        case WM_RBUTTONUP:
            show_tray_menu(window);
            return 0;
    }
    if (message == taskbar_created_message && message != 0) on_taskbar_created();
    return DefDlgProcA(window, message, wparam, lparam);
}
