// The clock as an NTP timestamp, as the bench's bare SNTP loops read it: the
// same call the program makes, so both are measured against one clock.
#pragma once
#include <windows.h>

#include <stdint.h>

static const uint64_t ticks_per_second = 10000000;  // FILETIME counts 100 ns
static const uint64_t seconds_1601_to_1900 = 9435484800;

static inline uint64_t ntp_clock() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = ((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) -
                     seconds_1601_to_1900 * ticks_per_second;
    return ticks / ticks_per_second << 32 | (ticks % ticks_per_second << 32) / ticks_per_second;
}

static inline void put_ntp_stamp(char* p, uint64_t stamp) {
    for (int i = 7; i >= 0; --i, stamp >>= 8) p[i] = (char)stamp;
}

static inline uint64_t get_ntp_stamp(const char* p) {
    uint64_t stamp = 0;
    for (int i = 0; i < 8; ++i) stamp = stamp << 8 | (unsigned char)p[i];
    return stamp;
}
