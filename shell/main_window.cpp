#include "shell/main_window.h"

#include "base/controls.h"
#include "base/filetime.h"
#include "base/program.h"
#include "window/status_line.h"
#include "base/text.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/time_zone_window.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "shell/about_window.h"
#include "shell/message_dialog.h"
#include "shell/service_pipe.h"
#include "shell/tray.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

UINT taskbar_created_message;
uint32_t program_ending;
uint32_t beside_service;

constexpr int clock_text_size = 600;
static const char service_silent_text[] = "The Pendulark service does not answer";

// The guard runs first, as every cycle starts with a checked time zone.
void begin_sync_cycle(HWND window, uint32_t correct, uint32_t unattended, uint32_t slews) {
    if (sync_running) return;
    check_time_zone(window);
    correct_mode = correct;
    cycle_unattended = unattended;
    cycle_slews = slews;
    start_sync_cycle(window);
}

// The settings dialog's Reset asks here, in the message dialog.
int confirm_settings_reset_here(HWND owner) {
    static char question[] = "Are you sure that you want to do this?";
    msg_mode = msg_mode_confirm;
    msg_line1 = "This will reset all settings to default.";
    msg_line3 = question;
    show_message_dialog(owner);
    return msg_result;
}

// The window's own AutoSync and time server, as the settings ask.
static void keep_time_by_settings() {
    if (settings.autosync_enabled) arm_autosync();
    if (settings.time_server_enabled) start_time_server();
}

void init_main_dialog(HWND window) {
    KillTimer(window, TIMER_INIT);
    create_tooltip_window(instance_handle);
    add_tooltip(window, IDB_MAIN_CHECK, check_tooltip);
    add_tooltip(window, IDB_MAIN_CORRECT, "Check the time and change it");
    add_tooltip(window, IDB_MAIN_TIME_ZONE, "Time Zone data");
    add_tooltip(window, IDB_MAIN_ABOUT, "About Pendulark: version, folders and system");
    char computer[600] = "";
    DWORD size = sizeof computer;
    if (!GetComputerNameA(computer, &size)) computer[0] = 0;
    SetDlgItemTextA(window, IDT_MAIN_COMPUTER, computer);
    // Ticks near whole and half seconds keep the clock from lagging its second.
    SYSTEMTIME now;
    GetLocalTime(&now);
    Sleep(1000 - now.wMilliseconds);
    SetTimer(window, TIMER_DISPLAY, 500, nullptr);
    set_topmost(window, settings.on_top);
    taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
    // Beside the service its start has made the sync, and it runs AutoSync and the server.
    if (!beside_service) {
        if (settings.program_start_action == program_start_check) begin_sync_cycle(window, 0, 1);
        if (settings.program_start_action == program_start_correct) begin_sync_cycle(window, 1, 1, 1);
        keep_time_by_settings();
    }
    check_time_zone(window);
    status_hold_ticks = hold_then_ready;
    if (settings_unreadable) {
        show_status(settings_unreadable_text);
        status_hold_ticks = hold_result;
        write_log(settings_unreadable_text);
    }
}

// A due AutoSync waits for a running cycle to end, and for Options to close,
// where a change could reach a cycle halfway; the display tick looks again.
static void start_due_autosync(HWND window) {
    if (sync_running || settings_window_open) return;
    autosync_waiting = 0;
    if (beside_service) return;
    // Armed first: a cycle that ends at once sets the retry's wait over it.
    arm_autosync();
    cycle_autosync = 1;
    begin_sync_cycle(window, 1, 1, 1);
}

// Time, line break, long date, in the user's formats.
static void show_clock(HWND window, int control, const SYSTEMTIME* time) {
    char text[clock_text_size], date[clock_text_size];
    if (GetTimeFormatA(0, 0, time, nullptr, text, sizeof text) == 0) text[0] = 0;
    if (GetDateFormatA(0, DATE_LONGDATE, time, nullptr, date, sizeof date) == 0) date[0] = 0;
    text_append(text, sizeof text, "\r\n");
    text_append(text, sizeof text, date);
    SetDlgItemTextA(window, control, text);
}

// The server clock runs on from the answer, in the tray too.
static void advance_server_clock(HWND window) {
    uint32_t now = GetTickCount();
    uint64_t elapsed_ms = now - server_clock_tick;
    settings.server_clock = filetime_from(filetime_of(settings.server_clock) + elapsed_ms * 10000);
    server_clock_tick = now;
    if (in_tray) return;
    FILETIME local_time;
    SYSTEMTIME local;
    if (FileTimeToLocalFileTime(&settings.server_clock, &local_time) && FileTimeToSystemTime(&local_time, &local))
        show_clock(window, IDT_MAIN_SERVER_CLOCK, &local);
}

static void show_with_server_state(const char* text) {
    char line[status_text_size];
    text_copy(line, sizeof line, text);
    if (settings.time_server_enabled) text_append(line, sizeof line, " (Server Active)");
    show_status(line);
}

// "The service keeps the time: " and its own status line, read anew each tick.
static void show_service_status() {
    pipe_reply reply;
    if (ask_service(request_status, reply)) show_status_with("The service keeps the time: ", reply.status);
    else show_status(service_silent_text);
}

// The user's own folder, while the window shows the machine's.
static char own_data_dir[dir_text_size];

void become_service_face() {
    stop_time_server();
    disarm_autosync();
    give_rate_back();
    beside_service = 1;
    time_server_elsewhere = 1;
    discipline_elsewhere = 1;
    text_copy(own_data_dir, sizeof own_data_dir, data_dir);
    machine_dir(data_dir);
}

// What the settings just loaded say of the window and its clock.
static void take_loaded_settings(HWND window) {
    take_sync_state_from_settings();
    take_time_zone_name_from_settings();
    set_topmost(window, settings.on_top);
}

// The service has gone: the window keeps the time again, as at its start.
static void keep_time_again(HWND window) {
    beside_service = 0;
    time_server_elsewhere = 0;
    discipline_elsewhere = 0;
    text_copy(data_dir, sizeof data_dir, own_data_dir);
    load_settings();
    start_discipline();
    take_loaded_settings(window);
    keep_time_by_settings();
}

// A service started or stopped while the window runs is followed between
// cycles, with Options closed.
static void follow_service(HWND window) {
    const uint32_t every_ticks = 20;
    static uint32_t ticks;
    if (++ticks % every_ticks != 0 || sync_running || settings_window_open) return;
    if (service_keeps_time() == (beside_service != 0)) return;
    const char* text;
    if (!beside_service) {
        text = "The Pendulark service has started: it keeps the time now";
        if (log_errors()) write_log(text);
        become_service_face();
        load_settings();
        take_loaded_settings(window);
    } else {
        keep_time_again(window);
        text = "The Pendulark service has stopped: Pendulark keeps the time again";
        if (log_errors()) write_log(text);
    }
    show_status(text);
    status_hold_ticks = hold_result;
}

static void ask_service_to_correct() {
    pipe_reply reply;
    if (!ask_service(request_correct, reply)) show_status(service_silent_text);
    else if (!reply.accepted) show_status("The service is syncing already");
    else show_status("The service corrects the clock...");
    // Its texts follow at the next tick, its result among them.
    status_hold_ticks = 0;
}

void display_tick(HWND window) {
    watch_clock();
    discipline_tick();
    if (autosync_waiting) start_due_autosync(window);
    if (!in_tray) show_clock(window, IDT_MAIN_COMPUTER_CLOCK, nullptr);
    if (server_clock_valid == 1) advance_server_clock(window);
    if (sync_running) return;
    if (beside_service && status_hold_ticks <= hold_then_ready) {
        status_hold_ticks = 0;
        show_service_status();
    } else if (status_hold_ticks > 0) {
        if (status_hold_ticks == hold_then_ready) show_with_server_state("Ready");
        status_hold_ticks--;
    } else if (settings.autosync_enabled) {
        char countdown[until_autosync_size];
        format_until_autosync(countdown);
        show_with_server_state(countdown);
    }
}

void window_tick(HWND window) {
    display_tick(window);
    follow_service(window);
}

void autosync_tick(HWND window) {
    // A timer message already queued when AutoSync was turned off or reset.
    if (!settings.autosync_enabled || !autosync_armed) {
        disarm_autosync();
        return;
    }
    if (!autosync_due()) return;
    KillTimer(window, TIMER_AUTOSYNC);
    autosync_waiting = 1;
    start_due_autosync(window);
}

bool take_engine_message(HWND window, UINT message, WPARAM wparam, LRESULT* result) {
    *result = 0;
    switch (message) {
        case WM_TIMER:
            if (wparam == TIMER_SYNC) sync_tick(window);
            else if (wparam == TIMER_AUTOSYNC) autosync_tick(window);
            else return false;
            return true;
        case WM_POWERBROADCAST:
            on_power_broadcast(window, wparam);
            *result = TRUE;
            return true;
        case WM_TIMECHANGE:
            on_time_change(window);
            return true;
        case WM_STATUS_POSTED:
            show_posted_status();
            return true;
    }
    return false;
}

void on_power_broadcast(HWND window, WPARAM event) {
    if (event != PBT_APMRESUMEAUTOMATIC && event != PBT_APMRESUMESUSPEND) return;
    // The clock was read anew from the hardware as the machine woke.
    discipline_lost_phase();
    autosync_after_resume();
    if (autosync_waiting) start_due_autosync(window);
}

void on_time_change(HWND window) {
    watch_clock();
    if (autosync_waiting) start_due_autosync(window);
}

void end_engine() {
    give_rate_back();
    stop_time_server();
    stop_sync_worker();
}

static void save_and_quit() {
    program_ending = 1;
    // Beside the service the file is the administrator's, saved by Options
    // alone: this window's copy may be older than what another window saved.
    if (!beside_service) save_settings_with_sync_state();
    end_engine();
    remove_tray_icon();
    PostQuitMessage(0);
}

void on_main_command(HWND window, int command) {
    switch (command) {
        case IDB_MAIN_CHECK:
            if (sync_running) {
                abort_sync_cycle(window);
                break;
            }
            begin_sync_cycle(window, 0);
            break;
        case IDB_MAIN_CORRECT:
            if (sync_step != 0) break;
            if (beside_service) ask_service_to_correct();
            else begin_sync_cycle(window, 1);
            break;
        case IDB_MAIN_OPTIONS:
            show_settings_window(window);
            if (beside_service && (save_failures_told & save_failure_file)) {
                show_status("Only an administrator can change the service's settings");
                status_hold_ticks = hold_result;
            }
            break;
        case IDB_MAIN_TIME_ZONE:
            show_time_zone_window(window);
            break;
        case IDB_MAIN_ABOUT:
            show_about_window(window);
            break;
        case IDB_MAIN_CANCEL:
            save_and_quit();
            break;
        case IDM_TRAY_HELP:
            open_help();
            break;
        case IDM_TRAY_RESET:
            arm_autosync();
            break;
    }
}

void on_minimised(HWND window) {
    if (settings.minimise_to_tray) hide_to_tray(window);
}

void close_main_window(HWND window) {
    if (program_ending) return;
    if (settings.minimise_to_tray && settings.resident) {
        hide_to_tray(window);
        return;
    }
    save_and_quit();
}

int query_end_session(HWND window) {
    save_and_quit();
    return DestroyWindow(window);
}
