#include "dialogs/history_plot.h"

#include <math.h>
#include <stdio.h>

#include "base/filetime.h"
#include "base/text.h"

plot_axis offset_axis(double lowest, double highest, int max_ticks) {
    if (lowest > 0) lowest = 0;
    if (highest < 0) highest = 0;
    double range = highest - lowest;
    if (range < 0.001) range = 0.001;  // a flat line still gets a millisecond
    double power = pow(10, floor(log10(range / max_ticks)));
    double step = power * 10;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (range / (power * factor) <= max_ticks) {
            step = power * factor;
            break;
        }
    }
    plot_axis axis{floor(lowest / step) * step, ceil(highest / step) * step, step};
    if (axis.high - axis.low < step) axis.high = axis.low + step;
    return axis;
}

plot_axis time_axis(double first, double last, int max_ticks) {
    static const double steps[] = {1.0 / 24, 2.0 / 24, 3.0 / 24, 6.0 / 24, 12.0 / 24, 1, 2, 7, 14, 28};
    double range = last - first;
    double step = steps[sizeof steps / sizeof steps[0] - 1];
    for (double s : steps) {
        if (range / s <= max_ticks) {
            step = s;
            break;
        }
    }
    plot_axis axis{floor(first / step) * step, ceil(last / step) * step, step};
    if (axis.high - axis.low < step) axis.high = axis.low + step;
    return axis;
}

int plot_pixel(const plot_axis& axis, double value, int from, int to) {
    return from + (int)lround((value - axis.low) / (axis.high - axis.low) * (to - from));
}

void offset_tick_text(const plot_axis& axis, double value, char (&out)[tick_text_size]) {
    if (fabs(value) < axis.step / 2) snprintf(out, sizeof out, "0");
    else if (axis.step < 1) snprintf(out, sizeof out, "%+.*f ms", axis.step < 0.001 ? 1 : 0, value * 1000);
    else snprintf(out, sizeof out, "%+g s", value);
}

size_t first_shown(const history_point* points, size_t count) {
    if (count == 0) return 0;
    uint64_t span = (uint64_t)(history_shown_days * 86400) * filetime_per_second;
    uint64_t newest = points[count - 1].utc;
    size_t first = count;
    while (first > 0 && newest - points[first - 1].utc <= span) first--;
    return first;
}

void describe_drift(const drift_estimate& drift, char (&out)[drift_text_size]) {
    char line[160];
    out[0] = 0;
    if (!drift.known) {
        text_append(out, sizeof out, "Drift: not enough data yet");
    } else {
        // With its rate corrected the clock keeps time by what is left over.
        double kept = drift.rate_corrected ? drift.corrected_gain_per_day : drift.gain_per_day;
        char keeping[keeping_text_size], corrected[64] = "";
        format_keeping_period(kept, keeping);
        if (drift.rate_corrected) snprintf(corrected, sizeof corrected, "; corrected, %.3f s a day", fabs(kept));
        snprintf(line, sizeof line,
                 "Drift: this clock %s %.3f s a day (%.1f ppm), from %.1f days%s\r\n"
                 "AutoSync %s keeps it within 0.5 s",
                 drift.gain_per_day >= 0 ? "gains" : "loses", fabs(drift.gain_per_day),
                 fabs(ppm_of(drift.gain_per_day)), drift.days, corrected, keeping);
        text_append(out, sizeof out, line);
    }
    if (drift.has_points) {
        snprintf(line, sizeof line, "\r\nLargest offset: %+.3f s", drift.largest_offset);
        text_append(out, sizeof out, line);
    }
}
