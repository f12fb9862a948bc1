// The simulated time zone, and the zone calls found by name.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

TIME_ZONE_INFORMATION sim::virtual_zone() {
    TIME_ZONE_INFORMATION zone{};
    const char* standard = "Virtual Standard Time";
    for (int i = 0; standard[i]; i++) zone.StandardName[i] = (WCHAR)standard[i];
    return zone;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* zone) {
    std::lock_guard<std::mutex> g(machine().lock);
    *zone = state().zone;
    zone->Bias = state().bias;
    return state().zone_result;
}

BOOL SetTimeZoneInformation(const TIME_ZONE_INFORMATION* zone) {
    std::lock_guard<std::mutex> g(machine().lock);
    State& m = state();
    m.set_zone_calls++;
    if (!m.allow_set_zone || !m.zone_privilege) {
        last_error = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    m.zone = *zone;
    m.bias = zone->Bias;
    return TRUE;
}

void os_test_set_bias(LONG bias) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().bias = bias;
}

void os_test_set_zone_key(const std::string& key) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().zone_key = key;
}

void os_test_set_zone(const TIME_ZONE_INFORMATION& zone, DWORD result) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().zone = zone;
    state().bias = zone.Bias;
    state().zone_result = result;
}

TIME_ZONE_INFORMATION os_test_zone() {
    std::lock_guard<std::mutex> g(machine().lock);
    TIME_ZONE_INFORMATION zone = state().zone;
    zone.Bias = state().bias;
    return zone;
}

void os_test_allow_set_zone(bool allow) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().allow_set_zone = allow;
}

int os_test_set_zone_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().set_zone_calls;
}

static DWORD WINAPI get_dynamic_time_zone_information(DYNAMIC_TIME_ZONE_INFORMATION* zone) {
    *zone = DYNAMIC_TIME_ZONE_INFORMATION{};
    DWORD result = GetTimeZoneInformation(zone);
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& key = state().zone_key;
    for (size_t i = 0; i < key.size() && i < 127; i++) zone->TimeZoneKeyName[i] = (WCHAR)(unsigned char)key[i];
    return result;
}

FARPROC GetProcAddress(HMODULE, const char* name) {
    if (strcmp(name, "GetDynamicTimeZoneInformation") == 0) return (FARPROC)get_dynamic_time_zone_information;
    if (os_test_precise_adjustment()) {
        if (strcmp(name, "GetSystemTimeAdjustmentPrecise") == 0) return (FARPROC)sim_get_adjustment_precise;
        if (strcmp(name, "SetSystemTimeAdjustmentPrecise") == 0) return (FARPROC)sim_set_adjustment_precise;
    }
    return nullptr;
}

int WideCharToMultiByte(UINT, DWORD, const WCHAR* text, int length, char* out, int size, const char*, BOOL*) {
    int n = 0;
    for (; (length < 0 || n < length) && n < size; n++) {
        out[n] = text[n] < 0x80 ? (char)text[n] : '?';
        if (length < 0 && text[n] == 0) return n + 1;
    }
    return length < 0 ? 0 : n;  // no room for the terminator: Windows fails the call
}
