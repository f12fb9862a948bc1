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

// A server that cannot place the time within a second either way is no
// judge of it, as NTP's distance threshold has it.
constexpr double most_root_distance = 1.0;

struct agreement {
    bool found;         // a majority of the samples fit to judge agree
    uint32_t members;   // the samples of the largest agreeing group, a bit each
    double offset;      // the median of the members' offsets that lie where all their intervals meet
    double spread;      // the largest offset less the smallest, of all samples
};

// The largest group of samples whose intervals [offset - distance, offset +
// distance] share a point, samples over most_root_distance left out; found
// when it holds more than half of the rest.
agreement find_agreement(const time_sample* samples, int count);
