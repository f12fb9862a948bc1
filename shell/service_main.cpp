// The service's process: the control manager's dispatcher and the service's
// start, its window's message loop, and its end.
#include "shell/service_main.h"

#include "dialogs/time_zone_window.h"
#include "shell/service.h"
#include "shell/service_window.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/sync_controller.h"
#include "window/status_line.h"

static void run_service_window() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static void WINAPI service_main(DWORD, char**) {
    service_status_handle = RegisterServiceCtrlHandlerExA(service_name, service_control, nullptr);
    if (!service_status_handle) return;
    report_service_state(SERVICE_START_PENDING);
    sync_failed = enable_time_privilege() ? 0 : 1;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES | ICC_INTERNET_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    set_up_directories(0);
    machine_dir(data_dir);
    load_settings();
    // A rate that a killed run of the service left goes back before anything else.
    start_discipline();
    take_sync_state_from_settings();
    take_time_zone_name_from_settings();
    register_service_class();
    main_window = CreateDialogParamA(instance_handle, "MAINDIALOG", nullptr, nullptr, 0);
    if (!main_window) {
        DWORD error = GetLastError();
        write_log("Service not started", "its window could not be made");
        report_service_state(SERVICE_STOPPED, error ? error : ERROR_INVALID_HANDLE);
        return;
    }
    start_pipe_server(main_window);
    start_service_engine(main_window);
    report_service_state(SERVICE_RUNNING);
    run_service_window();
    report_service_state(SERVICE_STOPPED);
}

bool run_service() {
    SERVICE_TABLE_ENTRYA table[] = {{(char*)service_name, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table);
}
