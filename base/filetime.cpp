#include "base/filetime.h"

#include "os/win32.h"

uint32_t filetime_to_protocol_seconds(uint64_t filetime) {
    // Truncation to 32 bits is the era rule: 2036-02-07 06:28:16 becomes 0.
    return (uint32_t)((filetime - epoch_1900_filetime) / filetime_per_second);
}

uint64_t protocol_seconds_to_filetime(uint32_t seconds) {
    uint64_t full = seconds & 0x80000000u ? seconds : seconds + 0x100000000ull;
    return full * filetime_per_second + epoch_1900_filetime;
}

uint64_t filetime_to_timestamp(uint64_t filetime) {
    uint64_t since = filetime - epoch_1900_filetime;
    uint64_t fraction = ((since % filetime_per_second) << 32) / filetime_per_second;
    return ((uint64_t)filetime_to_protocol_seconds(filetime) << 32) | fraction;
}

uint64_t filetime_of(const FILETIME& ft) {
    return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

FILETIME filetime_from(uint64_t filetime) { return FILETIME{(DWORD)filetime, (DWORD)(filetime >> 32)}; }

uint64_t clock_now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return filetime_of(ft);
}

uint64_t precise_clock_now() {
    using precise_call = void(WINAPI*)(FILETIME*);
    static const precise_call precise =
        (precise_call)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    if (!precise) return clock_now();
    FILETIME ft;
    precise(&ft);
    return filetime_of(ft);
}
