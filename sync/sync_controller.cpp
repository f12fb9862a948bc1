#include "sync/sync_controller.h"

#include "base/controls.h"
#include "base/filetime.h"
#include "base/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/clock_correction.h"
#include "sync/sync_worker.h"

uint32_t shown_step;
uint32_t correct_mode;
uint32_t sync_aborted;
uint32_t average_count;

static const char no_server_text[] = "Unable to sync: no server in " SERVER_LIST_NAME;

// Averaging keeps every sample whole: milliseconds since 1900, each carried
// forward to the latest accumulation, and the offsets of SNTP samples.
static uint64_t average_total_ms;
static uint32_t average_last_tick;
static int64_t average_offset_total;
static uint32_t average_all_sntp;
// The entry the cycle began with: fail-over ends before asking it again.
static uint32_t cycle_first_index;

static void show_name_status(const char* text) {
    char name[server_name_size];
    copy_current_server_name(name);
    show_status_with(text, name);
}

static void show_address_status(const char* text) {
    char address[server_address_size];
    {
        std::lock_guard<std::mutex> g(sync_text_lock);
        text_copy(address, sizeof address, server_address_text);
    }
    show_status_with(text, address);
}

static void start_attempt() {
    // A worker that cannot be made is a failure the next tick handles.
    if (!start_sync_worker()) fail_attempt(failure_no_worker);
}

void fail_attempt(uint32_t reason) {
    sync_failure = reason;
    sync_failure_detail = 0;
    sync_failed = 1;
}

void log_no_response() {
    char reason[failure_text_size];
    sync_failure_text(sync_failure, sync_failure_detail, reason);
    write_log_with_server("No response from ", reason);
}

// A list without one usable entry has no server to ask: the cycle ends as a
// failure rather than ask whatever name was left from before.
static void end_without_server(HWND window) {
    show_status(no_server_text);
    if (log_errors()) write_log(no_server_text);
    KillTimer(window, TIMER_SYNC);
    end_sync_cycle(window);
    status_hold_ticks = hold_result;
}

void start_sync_cycle(HWND window) {
    if (sync_running) return;
    {
        // Taken with the name's lock: a time server's report then sees the
        // cycle before it writes the name.
        std::lock_guard<std::mutex> g(server_name_lock);
        sync_running = 1;
    }
    force_time_protocol = 0;
    // An abort stops its own cycle only; every new one may fail over.
    sync_aborted = 0;
    show_commands_busy(window, 1);
    show_status("");
    uint32_t loaded = load_list_entry();
    if (effective_server_source() == source_list && !(loaded & entry_loaded)) {
        end_without_server(window);
        return;
    }
    cycle_first_index = settings.server_index;
    offset_sum = 0;
    average_count = 0;
    average_total_ms = 0;
    average_offset_total = 0;
    average_all_sntp = 1;
    start_attempt();
    SetTimer(window, TIMER_SYNC, 100, nullptr);
}

void end_sync_cycle(HWND window) {
    // The last worker has published by now; its end is waited for here, so
    // that no thread of this cycle outlives it.
    stop_sync_worker();
    show_commands_busy(window, 0);
    sync_running = 0;
    sync_step = 0;
    shown_step = 0;
}

void abort_sync_attempt() {
    sync_aborted = 1;
    stop_sync_worker();
}

void abort_sync_cycle(HWND window) {
    KillTimer(window, TIMER_SYNC);
    show_status("Aborting...");
    abort_sync_attempt();
    end_sync_cycle(window);
    status_hold_ticks = hold_then_ready;
}

void next_sync_attempt() {
    if (settings.protocol == protocol_auto && auto_protocol == protocol_sntp) {
        auto_protocol = protocol_time;
        start_attempt();
        return;
    }
    auto_protocol = protocol_sntp;
    uint32_t last_tried = settings.server_index;
    settings.server_index++;
    uint32_t loaded = load_list_entry() & entry_loaded;
    if (loaded && settings.server_index != cycle_first_index) {
        start_attempt();
        return;
    }
    // Every entry has been asked once: the cycle ends on the last one, rather
    // than asking the same servers again within seconds.
    settings.server_index = last_tried;
    if (loaded) read_server_list(last_tried + 1);
    KillTimer(main_window, TIMER_SYNC);
    end_sync_cycle(main_window);
    if (settings.multi_site_average && average_count != 0) shown_step = shown_fallback;
}

// The server's time in milliseconds since 1900, whatever its era.
static uint64_t sample_ms() {
    uint64_t since_1900 = protocol_seconds_to_filetime(server_seconds) - epoch_1900_filetime;
    return since_1900 / 10000 + server_milliseconds;
}

// The mean of the samples, rounded once to the whole second, into the attempt
// state that the success step hands to clock correction.
static void take_mean() {
    uint64_t mean_s = (average_total_ms + average_count * 500) / (average_count * 1000);
    uint64_t filetime = mean_s * filetime_per_second + epoch_1900_filetime;
    server_seconds = filetime_to_protocol_seconds(filetime);
    server_milliseconds = 0;
    if (average_all_sntp) offset_sum = average_offset_total / (int64_t)average_count;
    // A mix of protocols has no common offset: the mean time is applied whole.
    else if (reply_protocol == protocol_sntp) force_time_protocol = 1;
}

static void add_sample() {
    uint32_t now = GetTickCount();
    uint64_t carried = (uint64_t)(now - reply_tick);
    if (average_count) carried += (uint64_t)(now - average_last_tick) * average_count;
    average_last_tick = now;
    average_total_ms += sample_ms() + carried;
    bool sntp = reply_protocol == protocol_sntp && !force_time_protocol;
    if (sntp) average_offset_total += offset_sum;
    else average_all_sntp = 0;
    average_count++;
}

void accumulate_average() {
    if (sync_step == step_valid && shown_step == step_reply) {
        if (server_seconds != 0) add_sample();
        if (average_count == average_samples) {
            take_mean();
            return;
        }
        sync_step = 0;
        shown_step = 0;
        next_sync_attempt();
        if (shown_step != shown_fallback) return;
    }
    if (shown_step == shown_fallback && average_count != 0) {
        take_mean();
        shown_step = step_reply;
        sync_step = step_valid;
    }
}

static void count_time_out() {
    if (shown_step == 0) return;
    if (timeout_ticks > 0) timeout_ticks--;
    if (timeout_ticks != 0) return;
    show_name_status("Time out on ");
    abort_sync_attempt();
    fail_attempt(failure_timed_out);
    sync_step = 0;
    shown_step = 0;
    if (effective_server_source() == source_list && settings.default_server_only == 0) sync_aborted = 0;
}

static void handle_failure(HWND window) {
    show_name_status("Unable to sync from ");
    sync_failed = 0;
    sync_step = 0;
    shown_step = 0;
    if (log_errors()) log_no_response();
    if (settings.default_server_only || effective_server_source() != source_list || sync_aborted) {
        KillTimer(window, TIMER_SYNC);
        end_sync_cycle(window);
    } else {
        next_sync_attempt();
    }
    // A failure that ended the cycle stays as long as a result would.
    if (!sync_running) status_hold_ticks = hold_result;
}

// One status text per tick, up to the step the worker has reached.
static void show_progress(HWND window) {
    uint32_t step = sync_step;
    if (shown_step == 0 && step > 0) show_status("Initialising...");
    else if (shown_step == 1 && step > 1) show_status("Creating Socket...");
    else if (shown_step == 2 && step > 2) show_address_status("Looking for server at ");
    else if (shown_step == 3 && step > 3) show_name_status("Waiting for reply from ");
    else if (shown_step == 4 && step > 4) show_status("Converting...");
    else {
        if (sync_failed == 1) handle_failure(window);
        return;
    }
    shown_step++;
}

// "Time Corrected by -1.50000 Scs": half the offset sum, five decimals cut.
static void show_correction_amount() {
    int64_t sum = offset_sum;
    uint64_t half = (sum < 0 ? 0 - (uint64_t)sum : (uint64_t)sum) / 2;
    char whole[12], line[status_text_size] = "Time Corrected by ";
    if (sum < 0) text_append(line, sizeof line, "-");
    text_of_int((int32_t)(half >> 32), whole);
    text_append(line, sizeof line, whole);
    text_append(line, sizeof line, ".");
    uint32_t decimals = (uint32_t)(((half & 0xFFFFFFFFu) * 100000) >> 32);
    char digits[6];
    for (int i = 4; i >= 0; i--, decimals /= 10) digits[i] = (char)('0' + decimals % 10);
    digits[5] = 0;
    text_append(line, sizeof line, digits);
    text_append(line, sizeof line, " Scs");
    show_status(line);
}

static void handle_success(HWND window) {
    KillTimer(window, TIMER_SYNC);
    char name[server_name_size];
    copy_current_server_name(name);
    SetDlgItemTextA(window, IDT_MAIN_SERVER, name);
    status_hold_ticks = hold_result;
    if (correct_mode == 1) {
        correct_clock(1);
        if (sync_failed) show_status("Error setting Time Change Privileges");
        else if (reply_protocol == protocol_time || force_time_protocol) show_status("Time Corrected");
        else show_correction_amount();
    } else {
        status_hold_ticks = hold_then_ready;
        correct_clock(0);
        server_clock_valid = 1;
    }
    sync_failed = 0;
    end_sync_cycle(window);
}

void sync_tick(HWND window) {
    count_time_out();
    show_progress(window);
    if (settings.multi_site_average) accumulate_average();
    if (sync_step == step_valid && shown_step == step_reply) handle_success(window);
}

void save_settings_with_sync_state() {
    settings.force_time_protocol = force_time_protocol;
    settings.sync_aborted = sync_aborted;
    save_settings();
}

void take_sync_state_from_settings() {
    force_time_protocol = settings.force_time_protocol;
    sync_aborted = settings.sync_aborted;
}

uint32_t load_list_entry() {
    if (read_server_list(settings.server_index + 1)) return entry_loaded;
    settings.server_index = 0;
    return entry_wrapped | (read_server_list(1) ? entry_loaded : 0);
}
