#include "shell/quiet_sync.h"

#include "base/filetime.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/clock_correction.h"
#include "sync/cycle_answers.h"
#include "sync/cycle_verdict.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

uint32_t wrap_count;
uint32_t cycle_start_index;
HANDLE quiet_stop_event;

static const uint64_t network_wait_ms = 120000;
static const DWORD network_poll_ms = 5000;
static failure_tally walk_failures;

static bool stop_asked() { return quiet_stop_event && WaitForSingleObject(quiet_stop_event, 0) == WAIT_OBJECT_0; }

// Loads the next entry of the list; server_index then names the entry after it.
static void load_next_server() {
    if (load_list_entry() & entry_wrapped) wrap_count++;
    settings.server_index++;
}

// One address, given a second at a time until it answers or its time runs
// out; a server that refuses at once costs no second of the user's logon.
static void quiet_try_address() {
    sync_failed = 0;
    uint32_t countdown = settings.sync_timeout_seconds;
    if (!start_sync_worker()) fail_sync_attempt(failure_no_worker);
    while (!sync_failed && sync_step != step_valid && countdown > 0 && !stop_asked()) {
        wait_for_sync_result(1000);
        countdown--;
    }
    // A reply that came in the last second counts, as it does for Check.
    if (!sync_failed && sync_step != step_valid) {
        abort_sync_attempt();
        fail_sync_attempt(failure_timed_out);
    }
    if (!sync_failed || stop_asked()) return;
    walk_failures.count(sync_result().failure);
    if (log_errors()) log_no_response();
}

// The answer gathered: true when the verdict asks for no more.
static bool gathered_enough(gathered_answers& answers, cycle_verdict& verdict) {
    char name[server_name_size];
    copy_current_server_name(name);
    gather_answer(answers, sync_result(), name);
    walk_failures.count(failure_none);
    decide_cycle(answers.at, answers.count, cycle_context_of(true, true, false, false), verdict);
    return verdict.action != verdict_ask_on;
}

// The walk's next address: the name's next one, or the next entry's first.
static bool walk_on() {
    if (next_address_of_entry()) return true;
    if (settings.server_index == cycle_start_index || effective_server_source() != source_list || wrap_count > 1)
        return false;
    load_next_server();
    sync_address_index = 0;
    return true;
}

bool quiet_sync_walk() {
    correct_mode = 1;
    force_time_protocol = 0;
    wrap_count = 0;
    walk_failures = failure_tally{};
    cycle_start_index = settings.server_index;
    static gathered_answers answers;
    static cycle_verdict verdict;
    answers = gathered_answers{};
    load_next_server();
    sync_address_index = 0;
    bool decided = false;
    do {
        quiet_try_address();
        if (stop_asked()) return false;
        // Every answer counts, the one after a second wrap too.
        decided = !sync_failed && gathered_enough(answers, verdict);
    } while (!decided && walk_on());
    if (answers.count == 0) return walk_failures.only_no_network();
    if (!decided) decide_cycle(answers.at, answers.count, cycle_context_of(true, true, false, true), verdict);
    log_verdict(verdict);
    bool corrected = false;
    if (verdict.action == verdict_take) {
        correct_clock(take_verdict_answer(answers, verdict), 1);
        corrected = !sync_failed;
    }
    record_cycle(answers, verdict, corrected);
    return false;
}

void quiet_sync_waiting_for_network() {
    uint64_t began = GetTickCount64();
    bool said = false;
    while (quiet_sync_walk() && !stop_asked() && GetTickCount64() - began < network_wait_ms) {
        if (!said && log_errors()) write_log("No network yet: trying again for up to 2 minutes");
        said = true;
        if (quiet_stop_event) WaitForSingleObject(quiet_stop_event, network_poll_ms);
        else Sleep(network_poll_ms);
    }
}

void run_quiet_sync() {
    quiet_stop_event = CreateEventA(nullptr, TRUE, FALSE, quiet_stop_event_name);
    quiet_sync_waiting_for_network();
    stop_sync_worker();
    ExitProcess(0);
}
