#include "sync/agreement.h"

#include <algorithm>

static bool contains(const time_sample& sample, double point) {
    return sample.offset - sample.distance <= point && point <= sample.offset + sample.distance;
}

static bool fit_to_judge(const time_sample& sample) { return sample.distance <= most_root_distance; }

// The median of the members' offsets inside the interval all of them share;
// a member that merely reaches it says nothing of where in it the time is.
static double agreed_offset(const time_sample* samples, int count, uint32_t members) {
    double low = -1e300, high = 1e300;
    for (int i = 0; i < count; i++)
        if (members >> i & 1) {
            low = std::max(low, samples[i].offset - samples[i].distance);
            high = std::min(high, samples[i].offset + samples[i].distance);
        }
    double inside[32];
    int taken = 0;
    for (int i = 0; i < count; i++)
        if (members >> i & 1 && low <= samples[i].offset && samples[i].offset <= high) inside[taken++] = samples[i].offset;
    if (taken == 0) return (low + high) / 2;
    std::sort(inside, inside + taken);
    return taken % 2 ? inside[taken / 2] : (inside[taken / 2 - 1] + inside[taken / 2]) / 2;
}

agreement find_agreement(const time_sample* samples, int count) {
    agreement result{false, 0, 0, 0};
    if (count <= 0) return result;
    count = std::min(count, 32);  // a bit each
    // The most intervals meet at the low end of one of them.
    int best = 0, judges = 0;
    for (int i = 0; i < count; i++) {
        if (!fit_to_judge(samples[i])) continue;
        judges++;
        double point = samples[i].offset - samples[i].distance;
        uint32_t members = 0;
        int in = 0;
        for (int j = 0; j < count; j++)
            if (fit_to_judge(samples[j]) && contains(samples[j], point)) members |= 1u << j, in++;
        if (in > best) best = in, result.members = members;
    }
    double lowest = samples[0].offset, highest = samples[0].offset;
    for (int i = 0; i < count; i++) {
        lowest = std::min(lowest, samples[i].offset);
        highest = std::max(highest, samples[i].offset);
    }
    result.spread = highest - lowest;
    result.found = best > 0 && 2 * best > judges;
    if (result.found) result.offset = agreed_offset(samples, count, result.members);
    return result;
}
