// The clock's discipline: this clock's own rate, estimated from the answers and
// corrected between them, and small offsets slewed out rather than stepped.
// The only code that calls Windows' rate functions.
#pragma once
#include <stdint.h>

// Offsets under this are slewed where nobody watches; larger ones are stepped.
constexpr double slew_limit = 0.5;
// A slew never moves the clock faster than this beyond its corrected rate, so
// 0.5 s takes about 17 minutes and the clock never runs backwards.
constexpr double most_slew_ppm = 500;
// No working clock runs further off: an estimate past it is dropped.
constexpr double most_rate_ppm = 500;
// The estimate and whether a rate of ours is in force, for the next start.
constexpr char rate_file_name[] = "dRate.txt";

// Who keeps the clock's rate now.
enum : uint32_t { keeper_windows = 0, keeper_pendulark = 1, keeper_other = 2 };

// An estimate of phase (seconds this clock is ahead of true time) and of the
// clock's own rate (a fraction, positive when it gains), with their
// covariance: a two-state Kalman filter over the answers.
struct clock_estimate {
    double phase = 0, rate = 0;
    double phase_variance = 1e12, covariance = 0, rate_variance = most_rate_ppm * 1e-6 * most_rate_ppm * 1e-6;
    bool rate_known = false;
};

// 1 in a window beside the service, which keeps the clock's rate: this process
// leaves the rate and its file alone.
extern uint32_t discipline_elsewhere;

struct clock_discipline_state {
    clock_estimate estimate;
    uint64_t estimate_tick = 0;     // GetTickCount64 the estimate stands at
    uint32_t keeper = keeper_windows;
    double factor = 1;              // the rate we asked Windows for, as a factor of its own
    double slew_left = 0;           // seconds a slew still moves the clock forward
    bool left_in_force = false;     // the rate file says a rate of ours is in force
    bool told_other = false;        // another program's rate has been logged
};
extern clock_discipline_state discipline;

// The estimate after dt seconds at a rate factor of ours, and after an answer
// that this clock is phase seconds ahead, sure to within variance (s^2).
void predict_clock(clock_estimate& e, double dt, double factor);
void update_clock(clock_estimate& e, double phase, double variance);

// At every start, before anything else touches the clock: a rate that a killed
// copy left is given back, and the estimate read (or first taken from the
// history).
void start_discipline();
// Whether an unattended correction may slew: the option is on and no other
// program keeps the rate.
bool may_slew();
// An answer of the server ahead of this clock by offset, within error seconds.
void discipline_answer(double offset, double error);
// The clock was stepped forward by step seconds: what was left to slew is gone.
void discipline_stepped(double step);
// Takes the estimated offset out by a slew, moving the clock by *amount
// seconds; false when Windows refused the rate.
bool slew_clock(double* amount);
// How long a slew of amount seconds takes at the most rate.
inline double slew_duration(double amount) { return (amount < 0 ? -amount : amount) / (most_slew_ppm * 1e-6); }
// For the display tick: the rate as the estimate and any slew want it.
void discipline_tick();
// A resume or someone else's step: the phase is not known until the next answer.
void discipline_lost_phase();
// Exit, log-off, shutdown: Windows keeps the rate again.
void give_rate_back();
// The correction in force, in ppm of Windows' own rate (0 while Windows keeps it).
double rate_in_force_ppm();
// What About shows: "corrected by -40.1 ppm", "not corrected yet", ...
constexpr int discipline_text_size = 160;
void describe_discipline(char (&out)[discipline_text_size]);
// The rate file's one line, and its reading: false when damaged or out of range.
constexpr int rate_line_size = 96;
void format_rate_line(const clock_estimate& e, bool left, char (&out)[rate_line_size]);
bool parse_rate_line(const char* line, clock_estimate* e, bool* left);
