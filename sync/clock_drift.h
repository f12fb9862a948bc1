// How fast this clock drifts, from the offsets of its history: between two
// corrections the offset grows from about nothing at the rate of the drift.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "store/history_file.h"

struct drift_estimate {
    bool known = false;          // enough data: samples a few hours apart
    double gain_per_day = 0;     // seconds a day this clock runs ahead (negative: behind), on its own
    // The same with the correction of its rate that was in force, when one was.
    bool rate_corrected = false;
    double corrected_gain_per_day = 0;
    double days = 0;             // the time the estimate rests on
    double largest_offset = 0;   // of every point, with its sign
    bool has_points = false;
};
// Stretches between corrections that drift faster than this are steps, a
// clock set by hand or a server that was wrong, not drift.
constexpr double most_drift_ppm = 500;
// Needs points that span this much time in all.
constexpr double least_drift_hours = 3;

drift_estimate estimate_drift(const history_point* points, size_t count);
constexpr double ppm_of(double per_day) { return per_day / 86400 * 1e6; }

// The AutoSync period, in AutoSync's units, that keeps this clock within
// 0.5 s: "every 8 Hours"; "any period" when it hardly drifts.
constexpr int keeping_text_size = 48;
void format_keeping_period(double gain_per_day, char (&out)[keeping_text_size]);
