#include "sync/sync_controller.h"

#include <stdio.h>
#include <string.h>

#include "base/controls.h"
#include "base/filetime.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/server_list.h"
#include "store/history_file.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/agreement.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/sync_worker.h"

uint32_t shown_step;
uint32_t correct_mode;
uint32_t sync_aborted;
uint32_t average_count;
attempt_result sync_answer;
uint32_t cycle_unattended;

static const char no_server_text[] = "Unable to sync: no server in " SERVER_LIST_NAME;

// Averaging asks several servers and believes those that agree: each sample's
// offset and distance, the server it came from, and the last one's result.
struct average_state {
    uint32_t agreeing = 0;  // the servers behind the answer found
    uint32_t members = 0;   // which samples agree, a bit each
    time_sample samples[average_samples];
    char servers[average_samples][server_name_size];
    attempt_result results[average_samples];
    uint64_t taken[average_samples];  // the clock at each answer
};
static average_state averaging;
// The entry the cycle began with: fail-over ends before asking it again.
static uint32_t cycle_first_index;

// The last answer a Check or Correct took, and its server, for About.
static attempt_result last_answer;
static char last_server[server_name_size];

// The first answer of an unattended cycle that would step far waits here.
static second_opinion first;

// What the cycle came to, for AutoSync's next wait: an answer taken, and its
// attempts' failures for want of a network and for any other reason.
static bool cycle_answered;
static failure_tally cycle_failures;

// The server asked: its name, and the address of the name that was asked,
// "pool.example.org [2001:db8::1]", where the two differ.
static void server_asked(char (&out)[server_name_size]) {
    copy_current_server_name(out);
    attempt_result result = sync_result();
    if (!result.address[0] || strcmp(result.address, out) == 0) return;
    text_append(out, sizeof out, " [");
    text_append(out, sizeof out, result.address);
    text_append(out, sizeof out, "]");
}

static void show_name_status(const char* text) {
    char name[server_name_size];
    server_asked(name);
    show_status_with(text, name);
}

static void show_address_status(const char* text) { show_status_with(text, sync_result().address); }

static void start_attempt() {
    // A worker that cannot be made is a failure the next tick handles.
    if (!start_sync_worker()) fail_sync_attempt(failure_no_worker);
}

void log_no_response() {
    attempt_result result = sync_result();
    char reason[failure_text_size], name[server_name_size], line[server_name_size] = "No response from ";
    sync_failure_text(result.failure, result.failure_detail, reason);
    server_asked(name);
    text_append(line, sizeof line, name);
    write_log(line, reason);
}

bool next_address_of_entry() {
    if (effective_server_source() != source_list || sync_address_index + 1 >= sync_result().address_count)
        return false;
    sync_address_index++;
    return true;
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
    sync_address_index = 0;
    sync_answer = attempt_result{};
    first = second_opinion{};
    cycle_answered = false;
    cycle_failures = failure_tally{};
    average_count = 0;
    averaging = average_state{};
    start_attempt();
    SetTimer(window, TIMER_SYNC, 100, nullptr);
}

void second_opinion::log_unconfirmed() const {
    if (!log_errors()) return;
    char line[server_name_size + 120];
    snprintf(line, sizeof line, "Not stepped by %+.3f s: only %s says so, no second server agrees", sample.offset,
             server);
    write_log(line);
}

// The cycle ends with the first answer unconfirmed: nothing is stepped.
static void give_up_unconfirmed() {
    first.waiting = false;
    char text[status_text_size];
    snprintf(text, sizeof text, "Unable to sync: no second server confirms %+.3f s", first.sample.offset);
    show_status(text);
    status_hold_ticks = hold_result;
    first.log_unconfirmed();
}

void end_sync_cycle(HWND window) {
    // The last worker has published by now; its end is waited for here, so
    // that no thread of this cycle outlives it.
    stop_sync_worker();
    if (first.waiting) give_up_unconfirmed();
    show_commands_busy(window, 0);
    sync_running = 0;
    sync_step = 0;
    shown_step = 0;
    if (cycle_autosync) autosync_cycle_ended(cycle_answered, cycle_failures.only_no_network());
}

void abort_sync_attempt() {
    sync_aborted = 1;
    stop_sync_worker();
}

void abort_sync_cycle(HWND window) {
    // Stopped by the user: no reason to try again before the period is up.
    cycle_autosync = 0;
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
    // Every address of the name before the next entry.
    if (next_address_of_entry()) {
        start_attempt();
        return;
    }
    sync_address_index = 0;
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

// The offset sum counts twice the offset in 32.32 seconds: 2^33 to a second.
static const double offset_sum_per_second = 8589934592.0;

// How far the answer may be from true time: half its root delay and its root
// dispersion, each with this exchange's round trip, in seconds.
static double root_distance(const attempt_result& answer) {
    return (answer.upstream.root_delay / 2.0 + answer.upstream.root_dispersion) / 65536.0;
}

// How far a sample's server is ahead of this clock, and how sure it is. SNTP
// gives both; a Time Protocol answer is whole seconds, the true time anywhere
// in the second after them.
time_sample sample_of(const attempt_result& sample) {
    // This clock is read in steps of up to a tick of Windows' timer, 15.6 ms:
    // two readings of one true time may lie that far apart.
    const double reading = 0.016;
    if (sample.protocol == protocol_sntp && !force_time_protocol)
        return {(double)sample.offset_sum / offset_sum_per_second, root_distance(sample) + reading};
    uint64_t at_reply = clock_now() - (uint64_t)(GetTickCount() - sample.reply_tick) * 10000;
    uint64_t server = protocol_seconds_to_filetime(sample.seconds) + filetime_per_second / 2;
    return {(double)(int64_t)(server - at_reply) / filetime_per_second, 0.5 + reading};
}

static void add_sample(const attempt_result& sample) {
    averaging.samples[average_count] = sample_of(sample);
    server_asked(averaging.servers[average_count]);
    averaging.results[average_count] = sample;
    averaging.taken[average_count] = clock_now();
    average_count++;
}

static void log_offset(const char* server, const char* text, double offset, const char* tail = "") {
    char line[server_name_size + 120];
    snprintf(line, sizeof line, "%s%s%+.3f s%s", server, text, offset, tail);
    write_log(line);
}

// The samples' verdict: the answer the cycle goes on with, or none when they
// disagree. Each server left out is logged, and every one when none agree.
static bool take_agreement() {
    agreement found = find_agreement(averaging.samples, (int)average_count);
    int agreeing = __builtin_popcount(found.members);
    for (uint32_t i = 0; i < average_count && log_errors(); i++) {
        const time_sample& s = averaging.samples[i];
        if (!found.found) {
            log_offset(averaging.servers[i], " at ", s.offset);
        } else if (!(found.members >> i & 1)) {
            char agree[64];
            snprintf(agree, sizeof agree, ", %d others agree on %+.3f s", agreeing, found.offset);
            log_offset(averaging.servers[i], " dropped: ", s.offset, agree);
        }
    }
    if (!found.found) {
        char text[status_text_size];
        snprintf(text, sizeof text, "Unable to sync: servers disagree, %.3f s apart", found.spread);
        show_status(text);
        if (log_errors()) write_log(text);
        return false;
    }
    // Their median, to the sub-millisecond, as an offset from this clock.
    averaging.agreeing = (uint32_t)agreeing;
    averaging.members = found.members;
    sync_answer = averaging.results[average_count - 1];
    sync_answer.protocol = protocol_sntp;
    sync_answer.offset_sum = (int64_t)(found.offset * offset_sum_per_second);
    uint64_t now = clock_now() + (uint64_t)(int64_t)(found.offset * filetime_per_second);
    sync_answer.seconds = filetime_to_protocol_seconds(now);
    sync_answer.milliseconds = 0;
    sync_answer.reply_tick = GetTickCount();
    return true;
}

void describe_quality(const attempt_result& answer, char (&out)[quality_text_size]) {
    snprintf(out, sizeof out, "stratum %u, delay %.1f ms, root distance %.1f ms", (unsigned)answer.upstream.stratum,
             answer.delay / 65.536, root_distance(answer) * 1000);
}

void describe_last_answer(char (&out)[last_answer_text_size]) {
    if (!last_server[0]) {
        snprintf(out, sizeof out, "none yet");
        return;
    }
    char quality[quality_text_size];
    describe_quality(last_answer, quality);
    snprintf(out, sizeof out, "%s, %s", last_server, quality);
}

void record_answer(const attempt_result& answer, double offset, const char* server, uint64_t at, bool corrected) {
    // The name alone: the address has its own column.
    char name[server_name_size];
    text_copy(name, sizeof name, server);
    if (char* bracket = strstr(name, " [")) *bracket = 0;
    history_row row;
    row.utc = at;
    row.server = name;
    row.address = answer.address;
    row.sntp = answer.protocol == protocol_sntp;
    row.offset = offset;
    row.delay = answer.delay / 65536.0;
    row.stratum = answer.upstream.stratum;
    row.corrected = corrected;
    append_history(row);
}

// Each sample of an averaging cycle, those that agreed marked when the clock was set by them.
static void record_samples(bool corrected) {
    for (uint32_t i = 0; i < average_count; i++)
        record_answer(averaging.results[i], averaging.samples[i].offset, averaging.servers[i], averaging.taken[i],
                      corrected && (averaging.members >> i & 1));
}

// The cycle ends with no correction: the servers do not agree.
static void end_disagreeing() {
    record_samples(false);
    KillTimer(main_window, TIMER_SYNC);
    end_sync_cycle(main_window);
    status_hold_ticks = hold_result;
}

void accumulate_average() {
    if (sync_step == step_valid && shown_step == step_reply) {
        attempt_result sample = sync_result();
        if (sample.seconds != 0) add_sample(sample);
        if (average_count == average_samples) {
            if (!take_agreement()) end_disagreeing();
            return;
        }
        sync_step = 0;
        shown_step = 0;
        next_sync_attempt();
        if (shown_step != shown_fallback) return;
    }
    if (shown_step == shown_fallback && average_count != 0) {
        if (!take_agreement()) {
            end_disagreeing();
            return;
        }
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
    fail_sync_attempt(failure_timed_out);
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
    cycle_failures.count(sync_result().failure);
    if (settings.default_server_only || effective_server_source() != source_list || sync_aborted) {
        // The entry's other addresses all the same: they are the same server.
        if (next_address_of_entry()) {
            start_attempt();
        } else {
            KillTimer(window, TIMER_SYNC);
            end_sync_cycle(window);
        }
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
    int64_t sum = sync_answer.offset_sum;
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

bool second_opinion::confirms(const attempt_result& given, bool needs_second) {
    time_sample now = sample_of(given);
    if (!waiting && (!far_step(now.offset) || !needs_second)) {
        sync_answer = given;
        return true;
    }
    // A second server: the first, met again on a second round, is no second word.
    if (waiting && strcmp(given.address, answer.address) != 0 && opinions_agree(sample, now)) {
        waiting = false;
        seconded = true;
        sync_answer = answer;
        return true;
    }
    if (!waiting) {
        waiting = true;
        sample = now;
        answer = given;
        server_asked(server);
    }
    return false;
}

// Whether this answer may step the clock now; otherwise the cycle asks on.
static bool step_confirmed(uint32_t servers_behind) {
    if (first.confirms(sync_answer, cycle_unattended && servers_behind < 2)) return true;
    sync_step = 0;
    shown_step = 0;
    // Another server, not this one by the other protocol.
    if (settings.protocol == protocol_auto) auto_protocol = protocol_time;
    next_sync_attempt();
    return false;
}

static void handle_success(HWND window) {
    // Averaging has put its answer there already.
    if (!settings.multi_site_average) sync_answer = sync_result();
    uint32_t servers_behind = settings.multi_site_average ? averaging.agreeing : 1;
    if (correct_mode == 1 && !step_confirmed(servers_behind)) return;
    cycle_answered = true;
    last_answer = sync_answer;
    // A seconded answer is the first server's.
    if (first.seconded) text_copy(last_server, sizeof last_server, first.server);
    else server_asked(last_server);
    KillTimer(window, TIMER_SYNC);
    char name[server_name_size];
    copy_current_server_name(name);
    SetDlgItemTextA(window, IDT_MAIN_SERVER, name);
    status_hold_ticks = hold_result;
    // Read before the clock moves: the history keeps what this clock was off.
    uint64_t at = clock_now();
    double offset = sample_of(sync_answer).offset;
    bool corrected = false;
    if (correct_mode == 1) {
        bool far_on_one = servers_behind < 2 && !first.seconded && far_step(offset);
        correct_clock(1);
        corrected = !sync_failed;
        if (sync_failed) show_status("Error setting Time Change Privileges");
        else if (sync_answer.protocol == protocol_time || force_time_protocol) show_status("Time Corrected");
        else show_correction_amount();
        // The user's Correct steps on one server's word, and is told so.
        if (!sync_failed && far_on_one) append_status(", on one server's word");
    } else {
        status_hold_ticks = hold_then_ready;
        correct_clock(0);
        server_clock_valid = 1;
    }
    if (settings.multi_site_average) record_samples(corrected);
    else record_answer(sync_answer, offset, last_server, at, corrected);
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
