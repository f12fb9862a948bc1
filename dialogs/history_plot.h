// The History window's arithmetic: the axes of its plot and the text below it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "store/history_file.h"
#include "sync/clock_drift.h"

// An axis from low to high, ticked every step: ticks at 1, 2 or 5 times a
// power of ten for offsets, at hours and days for time.
struct plot_axis {
    double low = 0, high = 1, step = 1;
};
// Offsets in seconds, zero always inside, at most max_ticks steps.
plot_axis offset_axis(double lowest, double highest, int max_ticks);
// Days since first_day's midnight (UTC), at most max_ticks steps.
plot_axis time_axis(double first, double last, int max_ticks);
// Where value falls between pixel from (low) and pixel to (high).
int plot_pixel(const plot_axis& axis, double value, int from, int to);
// A tick's label on the offset axis: milliseconds below a second's step ("-250 ms"), seconds above ("+1.5 s").
constexpr int tick_text_size = 24;
void offset_tick_text(const plot_axis& axis, double value, char (&out)[tick_text_size]);

// The points the window shows: those of the last 30 days before the newest.
constexpr double history_shown_days = 30;
size_t first_shown(const history_point* points, size_t count);

// The lines below the plot: drift, largest offset, the AutoSync that keeps up.
constexpr int drift_text_size = 320;
void describe_drift(const drift_estimate& drift, char (&out)[drift_text_size]);
