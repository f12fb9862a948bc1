// The state of a sync cycle that other parts of the program read and set.
#pragma once
#include <stdint.h>

// 1 when the cycle corrects the clock, 0 when it only checks.
extern uint32_t correct_mode;
// Set when the user or a time-out stopped the attempt.
extern uint32_t sync_aborted;

// Stops the running worker: its socket is closed and it has a second to end.
void abort_sync_attempt();
