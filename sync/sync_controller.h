// The sync cycle: attempts one after the other on the GUI thread's 100 ms
// timer 1 of the main window, with time-out and fail-over, gathering answers
// until the cycle's verdict, then clock correction and a status text.
#pragma once
#include <stdint.h>

#include "os/win32.h"
#include "sync/cycle_answers.h"
#include "sync/sync_worker.h"

// The highest step whose status text has been shown, 0..5.
extern uint32_t shown_step;
// Set when the user or a time-out stopped the attempt; a failure then ends the cycle.
extern uint32_t sync_aborted;
// 1 when nobody asked for the cycle (the start action, AutoSync): a far step
// then waits for a second server's word.
extern uint32_t cycle_unattended;
// 1 when a small correction of the cycle running may slew: AutoSync's, and the
// start action's; never the user's, nor the boot's first.
extern uint32_t cycle_slews;
// The answers of the running or last cycle.
extern gathered_answers cycle_answers;
// The answer the cycle corrected or checked by.
extern attempt_result sync_answer;

// Callers set correct_mode first; the time-zone guard runs before, in the shell.
void start_sync_cycle(HWND window);
void sync_tick(HWND window);
void end_sync_cycle(HWND window);
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
constexpr int last_answer_text_size = server_name_size + quality_text_size + 2;
// The last Check's or Correct's answer, "<server> [<address>], stratum ...",
// or "none yet", for About.
void describe_last_answer(char (&out)[last_answer_text_size]);

// "No response from <server> [<address>] (why)".
void log_no_response();
// Moves sync_address_index on to the entry's next address, false when the
// name had no more.
bool next_address_of_entry();
