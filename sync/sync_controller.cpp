#include "sync/sync_controller.h"

#include <stdio.h>
#include <string.h>

#include "base/controls.h"
#include "base/filetime.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/cycle_verdict.h"
#include "sync/sync_worker.h"

uint32_t shown_step;
uint32_t sync_aborted;
gathered_answers cycle_answers;
attempt_result sync_answer;
uint32_t cycle_unattended;
uint32_t cycle_slews;

static const char no_server_text[] = "Unable to sync: no server in " SERVER_LIST_NAME;

// The entry the cycle began with: fail-over ends before asking it again.
static uint32_t cycle_first_index;

// The last answer a Check or Correct took, and its server, for About.
static attempt_result last_answer;
static char last_server[server_name_size];

// What the cycle came to, for AutoSync's next wait: an answer taken, and its
// attempts counted by whether they found a network.
static bool cycle_answered;
static failure_tally cycle_failures;

// The server asked: its name, and the address of the name that was asked,
// "pool.example.org [2001:db8::1]", where the two differ.
static void server_asked(char (&out)[server_name_size]) {
    char name[server_name_size];
    copy_current_server_name(name);
    name_with_address(name, sync_result().address, out);
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
    cycle_answers = gathered_answers{};
    cycle_answered = false;
    cycle_failures = failure_tally{};
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

// The next attempt of the walk: the other protocol, the name's next address,
// the next entry. False when every entry has been asked once, or the server
// is a manual one: the cycle then ends on the last one, rather than asking
// the same servers again within seconds.
static bool walk_on() {
    if (settings.protocol == protocol_auto && auto_protocol == protocol_sntp) {
        auto_protocol = protocol_time;
        start_attempt();
        return true;
    }
    auto_protocol = protocol_sntp;
    if (next_address_of_entry()) {
        start_attempt();
        return true;
    }
    if (effective_server_source() != source_list) return false;
    sync_address_index = 0;
    uint32_t last_tried = settings.server_index;
    settings.server_index++;
    uint32_t loaded = load_list_entry() & entry_loaded;
    if (loaded && settings.server_index != cycle_first_index) {
        start_attempt();
        return true;
    }
    settings.server_index = last_tried;
    if (loaded) read_server_list(last_tried + 1);
    return false;
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

// "Slewing by -0.20000 Scs over 6 Mns 40 Scs": what the slew moves, and how long it takes.
static void show_slew(double moved) {
    char line[status_text_size], amount[24], took[countdown_text_size];
    snprintf(amount, sizeof amount, "%+.5f Scs over ", moved);
    text_copy(line, sizeof line, "Slewing by ");
    text_append(line, sizeof line, amount);
    format_duration((uint64_t)(slew_duration(moved) + 0.5), took);
    text_append(line, sizeof line, took[0] ? took : "1 Scs");
    show_status(line);
}

// Corrects or checks by the answer the verdict took, and says so.
static void take_answer(HWND window, const cycle_verdict& verdict) {
    cycle_answered = true;
    sync_answer = take_verdict_answer(cycle_answers, verdict);
    last_answer = sync_answer;
    const cycle_answer& taken = cycle_answers.at[verdict.taken];
    name_with_address(taken.name, taken.result.address, last_server);
    SetDlgItemTextA(window, IDT_MAIN_SERVER, taken.name);
    status_hold_ticks = hold_result;
    bool corrected = false;
    learn_from_verdict(cycle_answers, verdict);
    if (correct_mode == 1) {
        double moved = correct_clock(sync_answer, verdict.slew ? apply_slew : apply_step);
        corrected = !sync_failed;
        if (sync_failed) show_status("Error setting Time Change Privileges");
        else if (verdict.slew) show_slew(moved);
        else if (sync_answer.protocol == protocol_time || force_time_protocol) show_status("Time Corrected");
        else show_correction_amount();
        // The user's Correct steps on one server's word, and is told so.
        if (!sync_failed && verdict.one_word) append_status(", on one server's word");
    } else {
        status_hold_ticks = hold_then_ready;
        correct_clock(sync_answer, apply_none);
        server_clock_valid = 1;
    }
    record_cycle(cycle_answers, verdict, corrected);
    sync_failed = 0;
}

static void carry_out(HWND window, const cycle_verdict& verdict) {
    KillTimer(window, TIMER_SYNC);
    log_verdict(verdict);
    if (verdict.action == verdict_take) {
        take_answer(window, verdict);
    } else {
        show_status(verdict.status);
        status_hold_ticks = hold_result;
        record_cycle(cycle_answers, verdict, false);
    }
    end_sync_cycle(window);
}

static cycle_context context(bool walk_ended) {
    bool slew = correct_mode == 1 && cycle_slews != 0 && may_slew();
    return cycle_context_of(correct_mode == 1, cycle_unattended != 0, settings.multi_site_average != 0, walk_ended,
                            slew);
}

// Nobody is left to ask: the answers gathered decide, or the cycle ends as a failure.
static void end_walk(HWND window) {
    if (cycle_answers.count == 0) {
        KillTimer(window, TIMER_SYNC);
        end_sync_cycle(window);
        status_hold_ticks = hold_result;
        return;
    }
    static cycle_verdict verdict;
    decide_cycle(cycle_answers.at, cycle_answers.count, context(true), verdict);
    carry_out(window, verdict);
}

static void handle_answer(HWND window) {
    char name[server_name_size];
    copy_current_server_name(name);
    gather_answer(cycle_answers, sync_result(), name);
    cycle_failures.count(failure_none);
    sync_step = 0;
    shown_step = 0;
    static cycle_verdict verdict;
    decide_cycle(cycle_answers.at, cycle_answers.count, context(false), verdict);
    if (verdict.action != verdict_ask_on) {
        carry_out(window, verdict);
        return;
    }
    // Another server, not this one by the other protocol.
    if (settings.protocol == protocol_auto) auto_protocol = protocol_time;
    if (!walk_on()) end_walk(window);
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
    bool asking;
    if (settings.default_server_only || effective_server_source() != source_list || sync_aborted) {
        // The entry's other addresses all the same: they are the same server.
        asking = next_address_of_entry();
        if (asking) start_attempt();
    } else {
        asking = walk_on();
    }
    if (!asking) end_walk(window);
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

void sync_tick(HWND window) {
    count_time_out();
    show_progress(window);
    if (sync_running && sync_step == step_valid && shown_step == step_reply) handle_answer(window);
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
