#include "shell/main_window.h"

#include "resources/pendulark_ids.h"
#include "sync/sync_controller.h"

HWND main_window;

// Every way out of the program saves the settings first.
static void end_program(HWND window) {
    save_settings_with_sync_state();
    DestroyWindow(window);
    PostQuitMessage(0);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
            end_program(window);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDB_MAIN_CANCEL) end_program(window);
            return 0;
        case WM_ENDSESSION:
            if (wparam) save_settings_with_sync_state();
            return 0;
    }
    return DefDlgProcA(window, message, wparam, lparam);
}
