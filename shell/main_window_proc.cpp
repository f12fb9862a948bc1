// The main window's procedure: it only dispatches messages to the operations
// of main_window.cpp and the sync controller.
#include "base/status_line.h"
#include "resources/pendulark_ids.h"
#include "shell/main_window.h"
#include "shell/tray.h"
#include "sync/sync_controller.h"

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            SetTimer(window, TIMER_INIT, 500, nullptr);
            break;
        case WM_TIMER:
            switch (wparam) {
                case TIMER_SYNC: sync_tick(window); break;
                case TIMER_DISPLAY: display_tick(window); break;
                case TIMER_INIT: init_main_dialog(window); break;
                case TIMER_AUTOSYNC: autosync_tick(window); break;
            }
            return 0;
        case WM_COMMAND:
            on_main_command(window, LOWORD(wparam));
            return 0;
        case WM_CLOSE:
        case WM_DESTROY:
            close_main_window(window);
            return 0;
        case WM_QUERYENDSESSION:
            return query_end_session(window);
        case WM_RBUTTONUP:
            show_tray_menu(window);
            return 0;
    }
    return DefDlgProcA(window, message, wparam, lparam);
}
