#include "sync/agreement.h"

#include <algorithm>

static bool contains(const time_sample& sample, double point) {
    return sample.offset - sample.distance <= point && point <= sample.offset + sample.distance;
}

agreement find_agreement(const time_sample* samples, int count) {
    agreement result{false, 0, 0, 0};
    if (count <= 0) return result;
    count = std::min(count, 32);  // a bit each
    // The most intervals meet at the low end of one of them.
    int best = 0;
    for (int i = 0; i < count; i++) {
        double point = samples[i].offset - samples[i].distance;
        uint32_t members = 0;
        int in = 0;
        for (int j = 0; j < count; j++)
            if (contains(samples[j], point)) members |= 1u << j, in++;
        if (in > best) best = in, result.members = members;
    }
    double offsets[32], lowest = samples[0].offset, highest = samples[0].offset;
    int taken = 0;
    for (int i = 0; i < count; i++) {
        lowest = std::min(lowest, samples[i].offset);
        highest = std::max(highest, samples[i].offset);
        if (result.members >> i & 1) offsets[taken++] = samples[i].offset;
    }
    std::sort(offsets, offsets + taken);
    result.offset = taken % 2 ? offsets[taken / 2] : (offsets[taken / 2 - 1] + offsets[taken / 2]) / 2;
    result.spread = highest - lowest;
    result.found = 2 * best > count;
    return result;
}

bool opinions_agree(const time_sample& first, const time_sample& second) {
    double apart = first.offset > second.offset ? first.offset - second.offset : second.offset - first.offset;
    return apart <= first.distance + second.distance + 1.0;
}
