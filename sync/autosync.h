// AutoSync: a correcting cycle every autosync_count units, the whole period
// counted from the moment the schedule is armed. Periods run to 99 days, past
// a 32-bit millisecond count and past the longest SetTimer (about 24.8 days),
// so the schedule is kept in 64-bit milliseconds and timer 10 of the main
// window is set for at most a day at a time.
#pragma once
#include <stdint.h>

constexpr int countdown_text_size = 64;

extern uint32_t autosync_armed;
// 1 when the period has run out and the cycle waits for its turn.
extern uint32_t autosync_waiting;
extern uint64_t autosync_start_tick;  // GetTickCount64 when armed
extern uint64_t autosync_period_ms;

void compute_autosync_period();
// (Re)starts the schedule from now.
void arm_autosync();
// Stops the schedule: its timer goes.
void disarm_autosync();
// For timer 10: 1 when the whole period has passed; otherwise the timer is set
// again for what is left, and 0.
int autosync_due();
// The time left in two units at most ("3 Hrs 59 Mns"); empty below a second.
void format_countdown(char (&out)[countdown_text_size]);
// The countdown and " until AutoSync", as the status line and the tray tip show it.
constexpr int until_autosync_size = countdown_text_size + 16;
void format_until_autosync(char (&out)[until_autosync_size]);
