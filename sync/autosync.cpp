#include "sync/autosync.h"

#include "sync/clock_discipline.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "base/filetime.h"
#include "store/settings_store.h"
#include "store/sync_log.h"

uint32_t autosync_armed;
uint32_t autosync_waiting;
uint64_t autosync_start_tick;
uint64_t autosync_period_ms;
uint64_t autosync_wait_ms;
uint32_t autosync_failures;
uint32_t cycle_autosync;

static const uint64_t longest_wait_ms = 86400000;
static const uint64_t minute_ms = 60000;
// After a resume the network comes up within seconds, or not for a while.
static const uint64_t resume_window_ms = 120000;
static const uint64_t network_poll_ms = 5000;
// Windows' clock is read in steps of up to 15.6 ms: more than this is a change.
static const int64_t clock_moved_ms = 2000;

// GetTickCount64, which counts a sleep, at the last resume and at the last
// sync for a clock set elsewhere; never when there was none.
static const uint64_t never = UINT64_MAX;
static uint64_t resume_tick = never;
// The clock less the tick count at the last look, in ms.
static bool clock_read;
static int64_t clock_reading;
static uint64_t clock_change_sync_tick = never;

static bool less_than_ago(uint64_t tick, uint64_t ms) { return tick != never && GetTickCount64() - tick < ms; }

static uint64_t time_left_ms() {
    uint64_t elapsed = GetTickCount64() - autosync_start_tick;
    return elapsed >= autosync_wait_ms ? 0 : autosync_wait_ms - elapsed;
}

static void set_timer_for(uint64_t ms) {
    SetTimer(main_window, TIMER_AUTOSYNC, (UINT)(ms < longest_wait_ms ? ms : longest_wait_ms), nullptr);
}

static void wait_for(uint64_t ms) {
    autosync_start_tick = GetTickCount64();
    autosync_wait_ms = ms;
    set_timer_for(ms);
}

void compute_autosync_period() {
    uint64_t unit = settings.autosync_unit == unit_minutes ? 60000 : settings.autosync_unit == unit_hours ? 3600000 : 86400000;
    autosync_period_ms = settings.autosync_count * unit;
}

void arm_autosync() {
    compute_autosync_period();
    wait_for(autosync_period_ms);
    autosync_armed = 1;
}

void disarm_autosync() {
    // The countdown stops with it: the status line says "Ready" next.
    if (autosync_armed) {
        KillTimer(main_window, TIMER_AUTOSYNC);
        status_hold_ticks = hold_then_ready;
    }
    autosync_armed = 0;
    autosync_waiting = 0;
    autosync_failures = 0;
    resume_tick = never;
    clock_change_sync_tick = never;
    clock_read = false;
}

int autosync_due() {
    uint64_t left = time_left_ms();
    if (left == 0) return 1;
    set_timer_for(left);
    return 0;
}

uint64_t autosync_retry_ms(uint32_t failures, uint64_t period_ms) {
    if (failures == 0) return period_ms;
    uint64_t wait = failures > 20 ? period_ms : minute_ms << (failures - 1);
    return wait < period_ms ? wait : period_ms;
}

void autosync_cycle_ended(bool answered, bool no_network) {
    cycle_autosync = 0;
    if (!autosync_armed) return;
    // An answer keeps the period, armed as the cycle began.
    if (answered) {
        autosync_failures = 0;
        return;
    }
    if (no_network && less_than_ago(resume_tick, resume_window_ms)) {
        wait_for(network_poll_ms);
        return;
    }
    autosync_failures++;
    wait_for(autosync_retry_ms(autosync_failures, autosync_period_ms));
    if (!log_errors()) return;
    char line[countdown_text_size + 40] = "AutoSync failed: next try in ", left[countdown_text_size];
    format_countdown(left);
    text_append(line, sizeof line, left);
    write_log(line);
}

void autosync_after_resume() {
    if (!autosync_armed) return;
    // Windows may tell of one resume twice: the second finds the first's sync.
    if (less_than_ago(resume_tick, resume_window_ms)) return;
    resume_tick = GetTickCount64();
    autosync_waiting = 1;
}

static int64_t clock_against_ticks() { return (int64_t)(clock_now() / 10000) - (int64_t)GetTickCount64(); }

void watch_clock() {
    int64_t reading = clock_against_ticks();
    int64_t moved = reading - clock_reading;
    bool first = !clock_read;
    clock_read = true;
    clock_reading = reading;
    if (first || (moved <= clock_moved_ms && moved >= -clock_moved_ms)) return;
    // Someone else set the clock: where it stands is news to the estimate too.
    discipline_lost_phase();
    if (!autosync_armed) return;
    if (less_than_ago(clock_change_sync_tick, minute_ms)) {
        uint64_t rest = minute_ms - (GetTickCount64() - clock_change_sync_tick);
        if (rest < time_left_ms()) wait_for(rest);
        return;
    }
    clock_change_sync_tick = GetTickCount64();
    autosync_waiting = 1;
}

void read_clock_anew() {
    clock_read = true;
    clock_reading = clock_against_ticks();
}

void format_until_autosync(char (&out)[until_autosync_size]) {
    char left[countdown_text_size];
    format_countdown(left);
    text_copy(out, sizeof out, left);
    text_append(out, sizeof out, autosync_failures ? " until AutoSync retry" : " until AutoSync");
}

void format_countdown(char (&out)[countdown_text_size]) { format_duration(time_left_ms() / 1000, out); }

void format_duration(uint64_t s, char (&out)[countdown_text_size]) {
    const uint64_t values[] = {s / 86400, s % 86400 / 3600, s % 3600 / 60, s % 60};
    const char* const units[] = {" Dys", " Hrs", " Mns", " Scs"};
    out[0] = 0;
    int shown = 0;
    for (int i = 0; i < 4 && shown < 2; i++) {
        if (values[i] == 0) continue;
        char number[12];
        text_of_int((int32_t)values[i], number);
        if (shown) text_append(out, sizeof out, " ");
        text_append(out, sizeof out, number);
        text_append(out, sizeof out, units[i]);
        shown++;
    }
}
