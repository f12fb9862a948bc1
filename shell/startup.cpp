// Program entry of Pendulark.
#include "os/win32.h"

#include <commctrl.h>

#include "base/program.h"
#include "window/status_line.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/time_zone_window.h"
#include "resources/pendulark_ids.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "shell/quiet_sync.h"
#include "shell/service.h"
#include "shell/service_control.h"
#include "shell/service_main.h"
#include "shell/service_pipe.h"
#include "server/time_server.h"
#include "shell/tray.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/start_at_logon.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

static void run_message_loop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(main_window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The running copy's window, or none; a copy that is just ending still holds
// the mutex for a moment, so a start that finds no window looks again every
// tenth of a second. Returns with the mutex ours when no other copy runs.
static bool another_copy_runs(HWND* running, int looks) {
    for (int look = 0; look < looks; look++) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, PROGRAM_FILE_NAME);
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        CloseHandle(mutex);
        *running = FindWindowA(PROGRAM_CLASS_NAME, nullptr);
        if (*running) return true;
        Sleep(100);
    }
    return true;
}

static bool stop_quiet_run() {
    HANDLE stop = OpenEventA(EVENT_MODIFY_STATE, FALSE, quiet_stop_event_name);
    if (!stop) return false;
    SetEvent(stop);
    CloseHandle(stop);
    return true;
}

// "/service" and its word; the service's process is none of the user's copies.
static UINT service_switch() {
    switch (service_command()) {
        case service_install: return install_service();
        case service_remove: return remove_service();
        case service_run: return run_service() ? 0 : 1;
    }
    return 2;
}

// Beside a running service the run at logon has nothing to do.
static void look_for_service() {
    if (!service_keeps_time()) return;
    if (command_switch() == switch_quiet) ExitProcess(0);
    become_service_face();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    instance_handle = GetModuleHandleA(nullptr);
    // The uninstaller's call: nothing of the program starts, a running copy or not.
    if (command_switch() == switch_unregister) {
        remove_start_at_logon();
        ExitProcess(0);
    }
    if (command_switch() == switch_service) ExitProcess(service_switch());
    HWND running = nullptr;
    bool user_start = command_switch() != switch_quiet;
    bool other = another_copy_runs(&running, 20);
    // The run at logon has no window and may wait minutes for its servers; a
    // user who starts the program wants it now, so the run is told to end.
    bool told = other && !running && user_start && stop_quiet_run();
    if (told) other = another_copy_runs(&running, 100);
    if (other) {
        // A user who starts the program again wants to see it; the unattended run ends unseen.
        if (running && user_start) {
            AllowSetForegroundWindow(ASFW_ANY);
            PostMessageA(running, WM_SHOW_RUNNING, 0, 0);
        } else if (told) {
            // The run at logon did not end when told: never end with nothing shown.
            MessageBoxA(nullptr, "Pendulark is still setting the clock at logon. Please start it again in a minute.",
                        "Pendulark " PROGRAM_VERSION_TEXT, MB_OK | MB_ICONINFORMATION);
        }
        ExitProcess(0);
    }
    // A failure shows only when setting the clock fails; later users reset the flag.
    sync_failed = enable_time_privilege() ? 0 : 1;
    // The date picker and address box of the settings, and the tooltips of every window.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES | ICC_INTERNET_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    set_up_directories(1);
    look_for_service();
    load_settings();
    // A rate that a killed copy left goes back to Windows before anything else.
    start_discipline();
    take_sync_state_from_settings();
    take_time_zone_name_from_settings();
    switch (command_switch()) {
        case switch_quiet:
            run_quiet_sync();
        case switch_minimised:
            settings.start_minimised = 1;
            defer_tray_icon = 1;
            break;
    }
    register_main_class();
    confirm_settings_reset = confirm_settings_reset_here;
    main_window = CreateDialogParamA(instance_handle, "MAINDIALOG", nullptr, nullptr, 0);
    ShowWindow(main_window, settings.start_minimised ? SW_MINIMIZE : SW_SHOWNORMAL);
    run_message_loop();
    ExitProcess(0);
}
