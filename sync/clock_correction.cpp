#include "sync/clock_correction.h"

#include <stdio.h>

#include "base/controls.h"
#include "base/filetime.h"
#include "base/privileges.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/clock_discipline.h"
#include "sync/cycle_answers.h"
#include "sync/sync_worker.h"

uint32_t server_clock_tick;
uint32_t correct_mode;

static const int64_t large_offset_sum = 1500000ll << 32;  // 32.32 seconds
static const uint64_t minute = 60 * filetime_per_second;

// The server's time now from its whole seconds and the ticks since the reply,
// counted in 1024 ms steps; the round trip is not allowed for.
static uint64_t absolute_server_time(const attempt_result& answer) {
    server_clock_tick = GetTickCount();
    uint32_t elapsed = (server_clock_tick - answer.reply_tick) >> 10;
    return protocol_seconds_to_filetime(answer.seconds) + (uint64_t)elapsed * filetime_per_second;
}

// This clock moved by half the SNTP offset sum, toward zero below 100 ns.
static uint64_t offset_server_time(const attempt_result& answer) {
    int64_t sum = answer.offset_sum;
    const int64_t unit = 1ll << 33;  // 32.32 fixed point, halved
    int64_t shift = sum / unit * (int64_t)filetime_per_second + sum % unit * (int64_t)filetime_per_second / unit;
    return clock_now() + (uint64_t)shift;
}

// Kept in UTC and turned into local time as it is shown, so that a change of
// daylight saving shows at once.
static void show_server_clock(uint64_t utc) {
    settings.server_clock = filetime_from(utc);
    server_clock_valid = 1;
}

// Only the minutes, seconds and milliseconds of the server's time are taken,
// in this clock's hour or the one before or after it, whichever moves the
// clock least: 11:00:00.1 and a server at 10:59:59.9 is a step of 0.2 s.
static uint64_t within_the_hour(uint64_t target) {
    const uint64_t hour = 60 * minute;
    uint64_t now = clock_now();
    uint64_t best = now - now % hour + target % hour;
    for (uint64_t candidate : {best - hour, best + hour}) {
        uint64_t step = candidate > now ? candidate - now : now - candidate;
        uint64_t best_step = best > now ? best - now : now - best;
        if (step < best_step) best = candidate;
    }
    return best;
}

static void log_correction(const attempt_result& answer, const char* old_time, DWORD refusal, int apply,
                           double moved) {
    if (sync_failed && log_errors()) {
        char why[refusal_text_size];
        refusal_text(refusal, why);
        write_log("Error setting Time Change Privileges", why);
    } else if (!sync_failed && settings.log_level == log_level_all) {
        char line[server_name_size] = "Pendularked: Old time was ";
        text_append(line, sizeof line, old_time);
        text_append(line, sizeof line, ", Server used was ");
        char quality[quality_text_size], why[quality_text_size + 64];
        describe_quality(answer, quality);
        text_copy(why, sizeof why, quality);
        if (apply == apply_slew) {
            char slew[64];
            snprintf(slew, sizeof slew, ", slewed by %+.6f s over %.0f s", moved, slew_duration(moved));
            text_append(why, sizeof why, slew);
        }
        write_log_with_server(line, why);
    }
}

// Sets the clock to the target; true when Windows took it.
static bool step_clock(uint64_t target_time, DWORD* refusal) {
    // A SYSTEMTIME holds whole milliseconds: rounded, not cut, it is at most half of one off.
    FILETIME target_ft = filetime_from(target_time + filetime_per_second / 2000);
    SYSTEMTIME target;
    FileTimeToSystemTime(&target_ft, &target);
    double step = (double)(int64_t)(target_time - clock_now()) / filetime_per_second;
    if (!SetSystemTime(&target)) {
        *refusal = GetLastError();
        return false;
    }
    discipline_stepped(step);
    read_clock_anew();  // before our own window hears of it
    broadcast_change(WM_TIMECHANGE);
    return true;
}

double correct_clock(const attempt_result& answer, int apply) {
    bool sntp = answer.protocol == protocol_sntp;
    int64_t sum = answer.offset_sum;
    if (sntp && !force_time_protocol && (sum > large_offset_sum || sum < -large_offset_sum)) force_time_protocol = 1;
    bool absolute = !sntp || correct_mode == 0 || force_time_protocol;
    uint64_t server_time = absolute ? absolute_server_time(answer) : offset_server_time(answer);
    // With a minute offset the computer's clock is not the server's; the server
    // clock still shows the server's own time.
    show_server_clock(server_time);
    if (apply == apply_none) return 0;

    uint64_t target_time = server_time;
    if (correct_mode == 1 && settings.offset_minutes != 0) {
        uint64_t shift = settings.offset_minutes * minute;
        target_time = settings.offset_direction == offset_add ? server_time + shift : server_time - shift;
    }
    if (settings.minutes_seconds_only) target_time = within_the_hour(target_time);
    char old_time[server_name_size] = "";
    GetTimeFormatA(0, 0, nullptr, nullptr, old_time, sizeof old_time);
    DWORD refusal = ERROR_SUCCESS;
    double moved = 0;
    if (apply == apply_slew && !slew_clock(&moved)) {
        refusal = GetLastError();
        sync_failed = 1;
    }
    if (apply == apply_step) {
        uint64_t before = clock_now();
        if (step_clock(target_time, &refusal)) moved = (double)(int64_t)(target_time - before) / filetime_per_second;
        else sync_failed = 1;
    }

    correct_mode = 0;
    server_clock_tick = GetTickCount();
    // A clock that refused the change, or is on its way by a slew, does not
    // show the server's time yet; the server clock then keeps the answer's.
    if (settings.offset_minutes == 0 && !sync_failed && apply == apply_step)
        settings.server_clock = filetime_from(clock_now());
    // The time server's SNTP clients follow this clock from now on; a clock set
    // apart from the server's time on purpose is not served as true, whatever
    // an earlier correction learnt.
    if (!sync_failed) {
        if (settings.offset_minutes == 0 && !settings.minutes_seconds_only) set_sntp_upstream(answer.upstream);
        else forget_sntp_upstream();
    }
    server_clock_valid = 1;
    log_correction(answer, old_time, refusal, apply, moved);
    return moved;
}

bool enable_time_privilege() { return enable_privilege("SeSystemtimePrivilege"); }
