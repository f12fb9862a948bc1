// AutoSync: a correcting cycle every autosync_count units, the whole period
// counted from the moment the schedule is armed. Periods run to 99 days, past
// a 32-bit millisecond count and past the longest SetTimer (about 24.8 days),
// so the schedule is kept in 64-bit milliseconds and timer 10 of the main
// window is set for at most a day at a time.
//
// A failed AutoSync tries again soon, after 1, 2, 4 ... minutes, never later
// than the period; a resume from sleep, or a clock changed by someone else,
// brings one soon too.
#pragma once
#include <stdint.h>

constexpr int countdown_text_size = 64;

extern uint32_t autosync_armed;
// 1 when the period has run out and the cycle waits for its turn.
extern uint32_t autosync_waiting;
extern uint64_t autosync_start_tick;  // GetTickCount64 when armed
extern uint64_t autosync_period_ms;
// What the countdown runs to: the period, or a retry's wait.
extern uint64_t autosync_wait_ms;
// AutoSyncs failed in a row: the retry ladder's rung.
extern uint32_t autosync_failures;
// 1 while the cycle running is one of AutoSync's: its end decides the next wait.
extern uint32_t cycle_autosync;

void compute_autosync_period();
// (Re)starts the schedule from now, for a whole period.
void arm_autosync();
// Stops the schedule: its timer goes.
void disarm_autosync();
// For timer 10: 1 when the wait has passed; otherwise the timer is set again
// for what is left, and 0.
int autosync_due();
// How long a retry waits after failures AutoSyncs in a row: 1, 2, 4 ...
// minutes, never more than the period.
uint64_t autosync_retry_ms(uint32_t failures, uint64_t period_ms);
// An AutoSync cycle has ended: corrected or not, and whether every attempt
// failed for want of a network.
void autosync_cycle_ended(bool corrected, bool no_network);
// The machine woke up: one AutoSync, tried again every few seconds while the
// network is not up yet, for about two minutes.
void autosync_after_resume();
// For WM_TIMECHANGE and each display tick: a clock set by someone else, or
// moved against the tick count by more than 2 s, brings an AutoSync soon, at
// most one a minute.
void watch_clock();
// The program stepped the clock itself: the next look starts from here.
void read_clock_anew();
// A time in two units at most ("3 Hrs 59 Mns"); empty below a second.
void format_duration(uint64_t seconds, char (&out)[countdown_text_size]);
// The time left in two units at most ("3 Hrs 59 Mns"); empty below a second.
void format_countdown(char (&out)[countdown_text_size]);
// The countdown and " until AutoSync" (or " until AutoSync retry"), as the
// status line and the tray tip show it.
constexpr int until_autosync_size = countdown_text_size + 24;
void format_until_autosync(char (&out)[until_autosync_size]);
