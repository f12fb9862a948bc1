#include "sync/clock_discipline.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "base/files.h"
#include "base/filetime.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/directories.h"
#include "store/history_file.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/clock_drift.h"

clock_discipline_state discipline;
uint32_t discipline_elsewhere;

// A PC's clock wanders by a ppm or two a day as its room warms and cools: the
// estimate trusts an old rate that much less (per second, in rate^2).
static const double rate_wander = 2e-6 * 2e-6 / 86400;
// The phase wanders a little on its own: interrupts, reading the clock.
static const double phase_wander = 1e-12;
// A slew near its end takes out what is left over this many seconds, so a
// late display tick never carries it past zero.
static const double slew_time_constant = 2;
// An answer this far from the estimate, and far beyond its error, means the
// clock was set by someone else: the phase starts anew, the rate is kept.
static const double phase_jump = 0.05;
// An estimate from the history is taken as this sure (a rate^2); one surer
// than known_rate_variance is corrected.
static const double history_rate_variance = 2e-6 * 2e-6;
static const double known_rate_variance = 5e-6 * 5e-6;

void predict_clock(clock_estimate& e, double dt, double factor) {
    if (dt <= 0) return;
    e.phase += ((1 + e.rate) * factor - 1) * dt;
    e.phase_variance += dt * (2 * e.covariance + dt * e.rate_variance) + phase_wander * dt;
    e.covariance += dt * e.rate_variance;
    e.rate_variance += rate_wander * dt;
}

void update_clock(clock_estimate& e, double phase, double variance) {
    double surprise = phase - e.phase;
    double spread = e.phase_variance + variance;
    if (fabs(surprise) > phase_jump && surprise * surprise > 25 * spread && e.phase_variance < 1) {
        e.phase = phase;
        e.phase_variance = variance;
        e.covariance = 0;
        return;
    }
    e.phase += e.phase_variance / spread * surprise;
    e.rate += e.covariance / spread * surprise;
    // Written as products, not differences: an unknown phase's variance is huge.
    e.rate_variance -= e.covariance * e.covariance / spread;
    e.phase_variance *= variance / spread;
    e.covariance *= variance / spread;
    // One answer gives the phase; answers apart in time give the rate.
    if (e.rate_variance < known_rate_variance) e.rate_known = true;
    const double most = most_rate_ppm * 1e-6;
    if (e.rate > most || e.rate < -most) e.rate = e.rate > 0 ? most : -most;
}

// The rate file.

void format_rate_line(const clock_estimate& e, bool left, char (&out)[rate_line_size]) {
    snprintf(out, sizeof out, "rate %+.4f ppm sure %.4f ppm left %d\r\n", e.rate * 1e6, sqrt(e.rate_variance) * 1e6,
             left ? 1 : 0);
}

bool parse_rate_line(const char* line, clock_estimate* e, bool* left) {
    double ppm, sure;
    int in_force, end = 0;
    if (sscanf(line, "rate %lf ppm sure %lf ppm left %d%n", &ppm, &sure, &in_force, &end) != 3 || end == 0) return false;
    if (!(fabs(ppm) <= most_rate_ppm) || !(sure > 0 && sure <= most_rate_ppm) || (in_force != 0 && in_force != 1))
        return false;
    e->rate = ppm * 1e-6;
    e->rate_variance = sure * 1e-6 * sure * 1e-6;
    e->rate_known = e->rate_variance < known_rate_variance;
    *left = in_force == 1;
    return true;
}

static void rate_path(char (&out)[dir_text_size]) { path_in(data_dir, rate_file_name, out); }

static void save_rate() {
    char path[dir_text_size], line[rate_line_size];
    rate_path(path);
    format_rate_line(discipline.estimate, discipline.left_in_force, line);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    write_all(file, line, strlen(line));
    CloseHandle(file);
}

static bool read_rate(clock_estimate* e, bool* left) {
    char path[dir_text_size], line[rate_line_size] = "";
    rate_path(path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    bool read = ReadFile(file, line, sizeof line - 1, &got, nullptr);
    CloseHandle(file);
    line[read ? got : 0] = 0;
    return parse_rate_line(line, e, left);
}

// Windows' rate calls: the Precise pair where Windows has it (10 and later),
// whose finer units let a rate be set to a hundredth of a ppm rather than 6.4.

struct system_rate {
    uint64_t adjustment = 0, increment = 0;
    bool windows_keeps = true;
};

using get_precise_call = BOOL(WINAPI*)(uint64_t*, uint64_t*, BOOL*);
using set_precise_call = BOOL(WINAPI*)(uint64_t, BOOL);

static FARPROC kernel_call(const char* name) { return GetProcAddress(GetModuleHandleA("kernel32.dll"), name); }

static bool read_system_rate(system_rate& out) {
    BOOL disabled = TRUE;
    if (auto precise = (get_precise_call)(void*)kernel_call("GetSystemTimeAdjustmentPrecise")) {
        if (!precise(&out.adjustment, &out.increment, &disabled)) return false;
    } else {
        DWORD adjustment = 0, increment = 0;
        if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) return false;
        out.adjustment = adjustment;
        out.increment = increment;
    }
    out.windows_keeps = disabled != 0;
    return out.increment != 0;
}

static bool write_system_rate(uint64_t adjustment, bool windows_keeps) {
    if (auto precise = (set_precise_call)(void*)kernel_call("SetSystemTimeAdjustmentPrecise"))
        return precise(adjustment, windows_keeps);
    return SetSystemTimeAdjustment((DWORD)adjustment, windows_keeps);
}

// A rate we could have set: within the bounds of a correction and a slew.
static bool ours_in_range(const system_rate& rate) {
    double factor = (double)rate.adjustment / (double)rate.increment;
    return fabs(factor - 1) <= (most_rate_ppm + most_slew_ppm + 1) * 1e-6;
}

static uint64_t adjustment_for(double factor, uint64_t increment) {
    return (uint64_t)llround(factor * (double)increment);
}

static void set_keeper_file(bool left) {
    if (discipline.left_in_force == left) return;
    discipline.left_in_force = left;
    save_rate();
}

// Whether the rate is ours to set: Windows keeps it, or we do. Someone else's
// is left alone, and said once.
static bool rate_is_free(system_rate& now) {
    if (!read_system_rate(now)) return false;
    if (now.windows_keeps) {
        if (discipline.keeper == keeper_other) discipline.keeper = keeper_windows;
        return true;
    }
    if (discipline.keeper == keeper_pendulark && now.adjustment == adjustment_for(discipline.factor, now.increment))
        return true;
    if (discipline.keeper != keeper_other) {
        discipline.keeper = keeper_other;
        discipline.factor = 1;
        discipline.slew_left = 0;
        // Not ours any more: the next start must not take it for a killed copy's.
        set_keeper_file(false);
        if (!discipline.told_other && log_errors())
            write_log("The clock's rate is set by another program: Pendulark leaves it alone and steps");
        discipline.told_other = true;
    }
    return false;
}

// Brings the estimate to now, at the rate that was in force.
static void bring_to_now() {
    uint64_t now = GetTickCount64();
    double dt = (double)(now - discipline.estimate_tick) / 1000;
    discipline.estimate_tick = now;
    double factor = discipline.keeper == keeper_pendulark ? discipline.factor : 1;
    predict_clock(discipline.estimate, dt, factor);
    if (discipline.keeper != keeper_pendulark) return;
    // What the slew took out: the rate beyond the corrected one.
    double slewed = ((1 + discipline.estimate.rate) * factor - 1) * dt;
    if (!discipline.estimate.rate_known) slewed = (factor - 1) * dt;
    // Windows' units round the rate asked for: what they gave too much or too
    // little stays to be taken out, so that the rate in force averages right.
    discipline.slew_left -= slewed;
}


void give_rate_back() {
    if (discipline.keeper != keeper_pendulark) return;
    bring_to_now();
    system_rate now;
    if (read_system_rate(now) && write_system_rate(now.increment, true)) {
        discipline.keeper = keeper_windows;
        discipline.factor = 1;
        discipline.slew_left = 0;
        set_keeper_file(false);
    }
}

// The history's own estimate, for a first start.
static void estimate_from_history() {
    std::vector<history_point> points = read_history();
    drift_estimate drift = estimate_drift(points.data(), points.size());
    if (!drift.known) return;
    double rate = drift.gain_per_day / 86400;
    if (fabs(rate) > most_rate_ppm * 1e-6) return;
    discipline.estimate.rate = rate;
    discipline.estimate.rate_variance = history_rate_variance;
    discipline.estimate.rate_known = true;
}

void start_discipline() {
    discipline = clock_discipline_state{};
    discipline.estimate_tick = GetTickCount64();
    if (discipline_elsewhere) return;
    clock_estimate stored;
    bool left = false;
    if (read_rate(&stored, &left) && stored.rate_known) {
        discipline.estimate.rate = stored.rate;
        discipline.estimate.rate_variance = stored.rate_variance;
        discipline.estimate.rate_known = true;
    } else {
        estimate_from_history();
    }
    system_rate now;
    if (left && read_system_rate(now) && !now.windows_keeps && ours_in_range(now)) {
        // A copy that was killed left its rate in force.
        if (write_system_rate(now.increment, true) && log_errors())
            write_log("The clock's rate that an earlier run left was given back to Windows");
    }
    discipline.left_in_force = left;
    set_keeper_file(false);
}

bool may_slew() {
    system_rate now;
    return !discipline_elsewhere && more_settings.slew_small_corrections && rate_is_free(now);
}

void discipline_answer(double offset, double error) {
    if (discipline_elsewhere) return;
    bring_to_now();
    // An answer's error is its bound: taken as spread evenly within it.
    update_clock(discipline.estimate, -offset, error * error / 6);
    save_rate();
}

void discipline_stepped(double step) {
    bring_to_now();
    discipline.estimate.phase += step;
    discipline.slew_left = 0;
}

bool slew_clock(double* amount) {
    bring_to_now();
    discipline.slew_left = -discipline.estimate.phase;
    *amount = discipline.slew_left;
    discipline_tick();
    return discipline.keeper == keeper_pendulark || discipline.slew_left == 0;
}

void discipline_lost_phase() {
    bring_to_now();
    discipline.estimate.phase = 0;
    discipline.estimate.phase_variance = 1e12;
    discipline.estimate.covariance = 0;
    discipline.slew_left = 0;
}

void discipline_tick() {
    if (discipline_elsewhere) return;
    bring_to_now();
    system_rate now;
    if (!more_settings.slew_small_corrections) {
        give_rate_back();
        return;
    }
    if (!rate_is_free(now)) return;
    const double most = most_slew_ppm * 1e-6;
    double slew = discipline.slew_left / slew_time_constant;
    if (slew > most) slew = most;
    if (slew < -most) slew = -most;
    // Nothing to correct yet: Windows keeps its own rate.
    if (fabs(discipline.slew_left) < 1e-7 && !discipline.estimate.rate_known) {
        give_rate_back();
        return;
    }
    double rate = discipline.estimate.rate_known ? discipline.estimate.rate : 0;
    double factor = (1 + slew) / (1 + rate);
    uint64_t adjustment = adjustment_for(factor, now.increment);
    if (discipline.keeper == keeper_pendulark && !now.windows_keeps && adjustment == now.adjustment) return;
    if (!write_system_rate(adjustment, false)) return;
    discipline.keeper = keeper_pendulark;
    discipline.factor = (double)adjustment / (double)now.increment;
    set_keeper_file(true);
}

// The correction of the rate the estimate asks for, in ppm.
static double correction_ppm(const clock_estimate& e) { return (1 / (1 + e.rate) - 1) * 1e6; }

double rate_in_force_ppm() {
    if (discipline.keeper != keeper_pendulark || !discipline.estimate.rate_known) return 0;
    return correction_ppm(discipline.estimate);
}

void describe_discipline(char (&out)[discipline_text_size]) {
    const clock_estimate& e = discipline.estimate;
    if (discipline_elsewhere) {
        snprintf(out, sizeof out, "kept by the Pendulark service");
    } else if (!more_settings.slew_small_corrections) {
        snprintf(out, sizeof out, "not corrected: slewing is off in Options");
    } else if (discipline.keeper == keeper_other) {
        snprintf(out, sizeof out, "set by another program");
    } else if (!e.rate_known) {
        snprintf(out, sizeof out, "not corrected yet");
    } else {
        snprintf(out, sizeof out, "corrected by %+.3f ppm (this clock %s %.3f s a day)", correction_ppm(e),
                 e.rate > 0 ? "gains" : "loses", fabs(e.rate) * 86400);
    }
    if (discipline.keeper == keeper_pendulark && fabs(discipline.slew_left) >= 0.0005) {
        char slewing[64];
        snprintf(slewing, sizeof slewing, "; slewing %+.3f s, %.0f s left", discipline.slew_left,
                 slew_duration(discipline.slew_left));
        text_append(out, sizeof out, slewing);
    }
}
