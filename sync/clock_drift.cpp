#include "sync/clock_drift.h"

#include <math.h>
#include <stdio.h>

#include "base/filetime.h"

namespace {

// Sums of one stretch for its least-squares slope, x in days and y in seconds.
struct stretch {
    double n = 0, x = 0, y = 0, xx = 0, xy = 0, first = 0, last = 0;
    void add(double at, double offset) {
        if (n == 0) first = at;
        last = at;
        n++;
        x += at;
        y += offset;
        xx += at * at;
        xy += at * offset;
    }
    // Deviations from the stretch's own means: each stretch its own level.
    double sxx() const { return n ? xx - x * x / n : 0; }
    double sxy() const { return n ? xy - x * y / n : 0; }
};

struct pooled {
    double sxx = 0, sxy = 0, days = 0;
    void take(const stretch& s) {
        if (s.n < 2 || s.sxx() <= 0) return;
        double slope = s.sxy() / s.sxx();
        if (fabs(ppm_of(slope)) > most_drift_ppm) return;
        sxx += s.sxx();
        sxy += s.sxy();
        days += s.last - s.first;
    }
};

}  // namespace

// The offsets as the clock would have shown them without the correction of
// its rate in force (each point's, since the stretch began), and as they were.
drift_estimate estimate_drift(const history_point* points, size_t count) {
    drift_estimate found;
    pooled own, kept;
    stretch own_now, kept_now;
    double began = 0;
    for (size_t i = 0; i < count; i++) {
        const history_point& p = points[i];
        // Days since the first point: small numbers keep the sums exact.
        double day = (double)(int64_t)(p.utc - points[0].utc) / (86400.0 * filetime_per_second);
        if (!found.has_points || fabs(p.offset) > fabs(found.largest_offset)) found.largest_offset = p.offset;
        found.has_points = true;
        if (i == 0) began = day;
        own_now.add(day, p.offset + p.rate_ppm * 1e-6 * 86400 * (day - began));
        kept_now.add(day, p.offset);
        found.rate_corrected = p.rate_ppm != 0;
        if (!p.corrected) continue;
        // A correction ends the stretch with the offset it found, and the
        // next one begins from about nothing.
        own.take(own_now);
        kept.take(kept_now);
        own_now = stretch{};
        kept_now = stretch{};
        own_now.add(day, 0);
        kept_now.add(day, 0);
        began = day;
    }
    own.take(own_now);
    kept.take(kept_now);
    found.days = own.days;
    found.known = own.days * 24 >= least_drift_hours;
    // The offset is the server ahead of this clock: it falls as the clock gains.
    if (found.known) found.gain_per_day = -own.sxy / own.sxx;
    if (found.known && kept.sxx > 0) found.corrected_gain_per_day = -kept.sxy / kept.sxx;
    return found;
}

void format_keeping_period(double gain_per_day, char (&out)[keeping_text_size]) {
    double days = 0.5 / fabs(gain_per_day);
    if (!(days < 99)) {
        snprintf(out, sizeof out, "any period");
        return;
    }
    struct { double per_day; const char* unit; } units[] = {{1, "Days"}, {24, "Hours"}, {1440, "Minutes"}};
    for (auto& u : units) {
        double count = floor(days * u.per_day);
        if (count >= 1 || u.per_day == 1440) {
            snprintf(out, sizeof out, "every %.0f %s", count < 1 ? 1 : count, u.unit);
            return;
        }
    }
}
