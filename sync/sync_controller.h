// The sync cycle: attempts one after the other on the GUI thread's 100 ms
// timer 1 of the main window, with time-out, fail-over and averaging, ending
// in clock correction and a status text.
#pragma once
#include <stdint.h>

#include "os/win32.h"
#include "sync/agreement.h"
#include "sync/sync_worker.h"

// The highest step whose status text has been shown, 0..5, or shown_fallback.
extern uint32_t shown_step;
// 1 when the cycle corrects the clock, 0 when it only checks.
extern uint32_t correct_mode;
// Set when the user or a time-out stopped the attempt; a failure then ends the cycle.
extern uint32_t sync_aborted;
// Samples of an averaging cycle so far.
extern uint32_t average_count;
// 1 when nobody asked for the cycle (the start action, AutoSync): a far step
// then waits for a second server's word.
extern uint32_t cycle_unattended;
// The answer the cycle corrects or checks by: the last attempt's result, or
// the mean of an averaging cycle.
extern attempt_result sync_answer;

constexpr uint32_t shown_fallback = 99;
constexpr uint32_t average_samples = 4;

// Callers set correct_mode (and the buttons clear sync_aborted) first; the
// time-zone guard runs before, in the shell.
void start_sync_cycle(HWND window);
void sync_tick(HWND window);
void next_sync_attempt();
void end_sync_cycle(HWND window);
void accumulate_average();
// The Abort button.
void abort_sync_cycle(HWND window);

// The protocol and abort flags are carried in the settings image: every save
// of the program goes through here so that the image holds them as they stand,
// and the start takes them back after loading.
void save_settings_with_sync_state();
void take_sync_state_from_settings();

enum { entry_loaded = 1, entry_wrapped = 2 };
// The walk over the server list: loads entry server_index + 1 into
// current_server_name; past the end server_index goes back to 0 and the first
// entry is loaded. Returns entry_loaded and entry_wrapped as they happened.
uint32_t load_list_entry();

// Stops the running worker: its socket is closed and it has a second to end.
void abort_sync_attempt();
// The quality of an answer, "stratum 2, delay 0.4 ms, root distance 16.2 ms".
constexpr int quality_text_size = 80;
void describe_quality(const attempt_result& answer, char (&out)[quality_text_size]);
constexpr int last_answer_text_size = server_name_size + quality_text_size + 2;
// The last Check's or Correct's answer, "<server> [<address>], stratum ...",
// or "none yet", for About.
void describe_last_answer(char (&out)[last_answer_text_size]);

// How far an answer's server is ahead of this clock, and how sure it is.
time_sample sample_of(const attempt_result& answer);

// A far step waits for a second server's word: the first answer is kept until
// another agrees with it, and then it is the one stepped by.
struct second_opinion {
    bool waiting = false;
    bool seconded = false;  // another server agreed: the first answer is the one taken
    time_sample sample{};  // the first answer's
    attempt_result answer;
    char server[server_name_size] = "";
    // Whether answer may step the clock now, sync_answer then holding what to
    // step by; only a far step that needs a second word waits.
    bool confirms(const attempt_result& given, bool needs_second);
    // "Not stepped by +3600.021 s: only <server> says so, no second server agrees".
    void log_unconfirmed() const;
};
// One row of the history: an answer, its offset read before any step, the
// server asked ("name [address]" or the name), the clock then, and whether it set the clock.
void record_answer(const attempt_result& answer, double offset, const char* server, uint64_t at, bool corrected);
// "No response from <server> [<address>] (why)".
void log_no_response();
// Moves sync_address_index on to the entry's next address, false when the
// name had no more.
bool next_address_of_entry();
