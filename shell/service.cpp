#include "shell/service.h"

#include <string.h>

#include "base/controls.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "shell/main_window.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/sync_controller.h"
#include "window/status_line.h"

SERVICE_STATUS_HANDLE service_status_handle;

static DWORD checkpoint;
static const DWORD pending_hint_ms = 10000;
// Options saves "dSync.dat" beside a running service: it looks every two seconds.
static const int ticks_between_looks = 4;
static int ticks_since_look;

// The settings file as last taken: a byte more than the file, so a longer one differs.
struct settings_image {
    DWORD size = 0;
    char bytes[8 + sizeof(settings_record) + 1];
};
static settings_image taken_image;

void report_service_state(DWORD state, DWORD exit_code) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    if (state == SERVICE_RUNNING)
        status.dwControlsAccepted =
            SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_TIMECHANGE;
    status.dwWin32ExitCode = exit_code;
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? ++checkpoint : 0;
    status.dwWaitHint = pending ? pending_hint_ms : 0;
    SetServiceStatus(service_status_handle, &status);
}

// main_window is set before the service says it runs, and the manager sends
// no control before that.
DWORD WINAPI service_control(DWORD control, DWORD event, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            report_service_state(SERVICE_STOP_PENDING);
            PostMessageA(main_window, WM_SERVICE_STOP, 0, 0);
            return NO_ERROR;
        case SERVICE_CONTROL_POWEREVENT:
            // A resume brings a sync; the rest of the machine's sleep is no news here.
            if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND)
                PostMessageA(main_window, WM_POWERBROADCAST, event, 0);
            return NO_ERROR;
        case SERVICE_CONTROL_TIMECHANGE:
            PostMessageA(main_window, WM_TIMECHANGE, 0, 0);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

static bool read_settings_image(settings_image& out) {
    char path[dir_text_size];
    path_in(data_dir, "dSync.dat", path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    out.size = 0;
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool read = ReadFile(file, out.bytes, sizeof out.bytes, &out.size, nullptr);
    CloseHandle(file);
    return read;
}

static bool same_image(const settings_image& a, const settings_image& b) {
    return a.size == b.size && memcmp(a.bytes, b.bytes, a.size) == 0;
}

// New settings take effect between cycles, as Options' do in the window:
// a new period counts from now, a server turned on or off starts or stops.
static void take_changed_settings() {
    if (sync_running) return;
    settings_image now;
    if (!read_settings_image(now) || same_image(now, taken_image)) return;
    settings_record before = settings;
    load_settings();
    taken_image = now;
    if (settings_unreadable) {
        settings = before;
        settings_unreadable = 0;
        return;
    }
    set_time_server_log_level(settings.log_level);
    if (settings.time_server_enabled && !before.time_server_enabled) start_time_server();
    if (!settings.time_server_enabled && before.time_server_enabled) stop_time_server();
    bool new_period = settings.autosync_count != before.autosync_count || settings.autosync_unit != before.autosync_unit;
    if (!settings.autosync_enabled) disarm_autosync();
    else if (!autosync_armed || new_period) arm_autosync();
    if (log_errors()) write_log("Service: settings taken anew from dSync.dat");
}

void start_service_engine(HWND window) {
    read_settings_image(taken_image);
    ticks_since_look = 0;
    SetTimer(window, TIMER_DISPLAY, 500, nullptr);
    if (settings.time_server_enabled) start_time_server();
    if (log_errors()) write_log("Service started");
    // The boot's sync corrects as the run at logon does: a far step waits for a second server.
    if (!settings.autosync_enabled) {
        begin_sync_cycle(window, 1, 1);
        return;
    }
    // With AutoSync the boot is met as a resume: while the network is not up
    // yet it is tried again every few seconds, for two minutes.
    arm_autosync();
    on_power_broadcast(window, PBT_APMRESUMEAUTOMATIC);
}

void service_tick(HWND window) {
    display_tick(window);
    if (++ticks_since_look < ticks_between_looks) return;
    ticks_since_look = 0;
    take_changed_settings();
}

// The service never writes dSync.dat: the file is the administrator's, saved
// by Options, and no save of the service's could undo theirs.
void stop_service_engine() {
    if (log_errors()) write_log("Service stopped");
    end_engine();
    PostQuitMessage(0);
}

void answer_pipe_request(HWND window, const pipe_request& request, pipe_reply& reply) {
    reply = pipe_reply{};
    reply.magic = pipe_magic;
    reply.kind = request.kind;
    reply.accepted = 1;
    // Asked from a window, a far step still waits for a second server: anyone
    // logged on may ask, but only the servers' word sets the clock.
    if (request.kind == request_correct) {
        reply.accepted = sync_running ? 0 : 1;
        begin_sync_cycle(window, 1, 1);
    }
    read_control_text(window, IDT_MAIN_STATUS, reply.status);
    describe_listening(reply.listening);
    char answer[last_answer_text_size];
    describe_last_answer(answer);
    text_copy(reply.last_answer, sizeof reply.last_answer, answer);
}
