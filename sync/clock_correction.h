// Setting the computer's clock from a server's answer.
#pragma once
#include <stdint.h>

#include "sync/sync_worker.h"

// 1 when the cycle corrects the clock, 0 when it only checks; a correction clears it.
extern uint32_t correct_mode;

// The tick count at which server_clock (in the settings record) was taken.
extern uint32_t server_clock_tick;

// What correct_clock does with the clock.
enum : int { apply_none = 0, apply_step = 1, apply_slew = 2 };
// Turns an answer into the server's time now, shows it in server_clock and,
// with apply_step, sets the clock; with apply_slew, slews it there. A clock
// that cannot be set leaves sync_failed set. Returns the seconds moved.
double correct_clock(const attempt_result& answer, int apply);
// Enables the system-time privilege of the process; false when the account lacks it.
bool enable_time_privilege();
