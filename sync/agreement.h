// Which of several servers to believe: those whose answers agree, as NTP's
// intersection rule finds them, if they are a majority.
#pragma once
#include <stdint.h>

// One server's answer: how far it is ahead of this clock, and how far either
// side of that the true time may lie (its root distance), in seconds.
struct time_sample {
    double offset;
    double distance;
};

struct agreement {
    bool found;         // a majority of the samples agree
    uint32_t members;   // the samples of the largest agreeing group, a bit each
    double offset;      // the median offset of that group
    double spread;      // the largest offset less the smallest, of all samples
};

// The largest group of samples whose intervals [offset - distance, offset +
// distance] share a point; found when it holds more than half of them.
agreement find_agreement(const time_sample* samples, int count);

// A step larger than this, made with no one at hand to ask, waits for a second
// server's word: a domain refuses logons beyond five minutes, so a wrong step
// of minutes already hurts.
constexpr double unattended_step_limit = 120.0;
inline bool far_step(double offset) { return offset > unattended_step_limit || offset < -unattended_step_limit; }
// A second opinion: the two answers within their distances and a second more.
bool opinions_agree(const time_sample& first, const time_sample& second);
