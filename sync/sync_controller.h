// The state of a sync cycle that other parts of the program read and set.
#pragma once
#include <stdint.h>

// 1 when the cycle corrects the clock, 0 when it only checks.
extern uint32_t correct_mode;
// Set when the user or a time-out stopped the attempt.
extern uint32_t sync_aborted;

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
