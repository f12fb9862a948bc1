// FILETIME as one 64-bit count, and conversions between it and protocol
// seconds (seconds since 1900 as the Time Protocol and SNTP carry them).
#pragma once
#include <stdint.h>

#include "os/win32.h"

// 1601-01-01 to 1900-01-01 in 100 ns units.
constexpr uint64_t epoch_1900_filetime = 94354848000000000ull;
constexpr uint64_t filetime_per_second = 10000000ull;

// Protocol seconds wrap in 2036; the top bit tells the era apart, so both
// directions cover 1968-01-20 to 2104-02-26.
uint32_t filetime_to_protocol_seconds(uint64_t filetime);
uint64_t protocol_seconds_to_filetime(uint32_t seconds);
// The same with the fraction: 32.32 fixed point, seconds in the upper half.
uint64_t filetime_to_timestamp(uint64_t filetime);
uint64_t filetime_of(const FILETIME& ft);
FILETIME filetime_from(uint64_t filetime);
// This computer's UTC clock now.
uint64_t clock_now();
// The same at the clock's full precision where Windows has the call for it (8 and later).
uint64_t precise_clock_now();
