#include "sync/autosync.h"

#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/settings_store.h"

uint32_t autosync_armed;
uint32_t autosync_waiting;
uint64_t autosync_start_tick;
uint64_t autosync_period_ms;

static const uint64_t longest_wait_ms = 86400000;

static uint64_t time_left_ms() {
    uint64_t elapsed = GetTickCount64() - autosync_start_tick;
    return elapsed >= autosync_period_ms ? 0 : autosync_period_ms - elapsed;
}

static void set_timer_for(uint64_t ms) {
    SetTimer(main_window, TIMER_AUTOSYNC, (UINT)(ms < longest_wait_ms ? ms : longest_wait_ms), nullptr);
}

void compute_autosync_period() {
    uint64_t unit = settings.autosync_unit == unit_minutes ? 60000 : settings.autosync_unit == unit_hours ? 3600000 : 86400000;
    autosync_period_ms = settings.autosync_count * unit;
}

void arm_autosync() {
    autosync_start_tick = GetTickCount64();
    compute_autosync_period();
    set_timer_for(autosync_period_ms);
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
}

int autosync_due() {
    uint64_t left = time_left_ms();
    if (left == 0) return 1;
    set_timer_for(left);
    return 0;
}

void format_until_autosync(char (&out)[until_autosync_size]) {
    char left[countdown_text_size];
    format_countdown(left);
    text_copy(out, sizeof out, left);
    text_append(out, sizeof out, " until AutoSync");
}

void format_countdown(char (&out)[countdown_text_size]) {
    uint64_t s = time_left_ms() / 1000;
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
