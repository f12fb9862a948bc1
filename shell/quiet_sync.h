// The unattended run of "/q": set the clock once from the first server that answers.
#pragma once
#include <stdint.h>

extern uint32_t wrap_count;
extern uint32_t cycle_start_index;

// Walks the server list until an attempt succeeds and corrects the clock with it.
void quiet_sync_walk();
// The walk, then the end of the process; it never returns.
[[noreturn]] void run_quiet_sync();
