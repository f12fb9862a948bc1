#include "tests/program_state.h"

#include <string.h>

#include "base/controls.h"
#include "window/status_line.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/time_zone_window.h"
#include "server/sntp_reply.h"
#include "server/time_server.h"
#include "shell/about_window.h"
#include "shell/main_window.h"
#include "shell/message_dialog.h"
#include "shell/quiet_sync.h"
#include "shell/service.h"
#include "shell/tray.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

void reset_program_state() {
    // A worker left running by the last test must not publish into this one.
    stop_sync_worker();
    memset(&settings, 0, sizeof settings);
    more_settings = settings_extension{};
    discipline = clock_discipline_state{};
    discipline_elsewhere = 0;
    settings_unreadable = 0;
    save_failures_told = 0;
    program_path[0] = 0;
    program_dir[0] = 0;
    data_dir[0] = 0;
    server_list_unavailable = 0;
    set_current_server_name("");
    sync_step = 0;
    sync_failed = 0;
    timeout_ticks = 0;
    force_time_protocol = 0;
    auto_protocol = 1;
    server_clock_valid = 0;
    sync_answer = attempt_result{};
    cycle_unattended = 0;
    cycle_slews = 0;
    sync_address_index = 0;
    sync_running = 0;
    shown_step = 0;
    correct_mode = 0;
    sync_aborted = 0;
    cycle_answers = gathered_answers{};
    autosync_armed = 0;
    autosync_waiting = 0;
    settings_window_open = 0;
    autosync_start_tick = 0;
    autosync_period_ms = 0;
    autosync_wait_ms = 0;
    cycle_autosync = 0;
    disarm_autosync();  // not armed: only its resume and failures go
    instance_handle = nullptr;
    small_icon = nullptr;
    large_icon = nullptr;
    defer_tray_icon = 0;
    main_window = nullptr;
    status_hold_ticks = 0;
    tooltip_window = nullptr;
    taskbar_created_message = 0;
    program_ending = 0;
    beside_service = 0;
    service_status_handle = nullptr;
    time_server_elsewhere = 0;
    about_open = 0;
    in_tray = 0;
    reset_message_parameters();
    confirm_settings_reset = nullptr;
    msg_result = 0;
    time_zone_in_daylight = 0;
    time_zone_display_name[0] = 0;
    server_clock_tick = 0;
    wrap_count = 0;
    quiet_stop_event = nullptr;
    forget_sntp_upstream();
    forget_sntp_clients();
    cycle_start_index = 0;
}
