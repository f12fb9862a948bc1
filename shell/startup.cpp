// Program entry of Pendulark.
#include "os/win32.h"

#include <commctrl.h>

#include "base/program.h"
#include "base/status_line.h"
#include "resources/pendulark_ids.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "shell/quiet_sync.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "sync/clock_correction.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

HICON small_icon, large_icon;
int defer_tray_icon;

static void register_main_class() {
    large_icon = (HICON)LoadImageA(instance_handle, MAKEINTRESOURCEA(IDI_PENDULARK), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR);
    small_icon = (HICON)LoadImageA(instance_handle, MAKEINTRESOURCEA(IDI_PENDULARK), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
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

static void run_message_loop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(main_window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    instance_handle = GetModuleHandleA(nullptr);
    CreateMutexA(nullptr, FALSE, PROGRAM_FILE_NAME);
    if (GetLastError() == ERROR_ALREADY_EXISTS) ExitProcess(0);
    // A failure shows only when setting the clock fails; later users reset the flag.
    sync_failed = enable_time_privilege();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    set_up_directories(1);
    load_settings();
    take_sync_state_from_settings();
    switch (command_switch()) {
        case switch_quiet:
            run_quiet_sync();
        case switch_minimised:
            settings.start_minimised = 1;
            defer_tray_icon = 1;
            break;
    }
    register_main_class();
    main_window = CreateDialogParamA(instance_handle, "MAINDIALOG", nullptr, nullptr, 0);
    ShowWindow(main_window, settings.start_minimised ? SW_MINIMIZE : SW_SHOWNORMAL);
    run_message_loop();
    ExitProcess(0);
}
