// The simulated process token and its privileges.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* token) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!state().privilege_available) return FALSE;
    *token = new Object(kToken);
    return TRUE;
}

// The two privileges the program asks for, by their numbers on Windows.
static const DWORD system_time_luid = 12, time_zone_luid = 34;

BOOL LookupPrivilegeValueA(const char*, const char* name, LUID* luid) {
    if (strcmp(name, "SeSystemtimePrivilege") == 0) luid->LowPart = system_time_luid;
    else if (strcmp(name, "SeTimeZonePrivilege") == 0) luid->LowPart = time_zone_luid;
    else return FALSE;
    luid->HighPart = 0;
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES* state, DWORD, TOKEN_PRIVILEGES*, DWORD*) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (state->PrivilegeCount == 1 && state->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED) {
        sim::state().privilege_adjustments++;
        if (state->Privileges[0].Luid.LowPart == time_zone_luid) sim::state().zone_privilege = true;
    }
    return TRUE;
}

void os_test_set_privilege_available(bool available) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().privilege_available = available;
}

int os_test_privilege_adjustments() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().privilege_adjustments;
}
