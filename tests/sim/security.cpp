// The simulated process token and its privileges.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* token) {
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

// As on Windows, a privilege the account does not hold is not an error of the
// call: only the last error tells.
BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES* state, DWORD, TOKEN_PRIVILEGES*, DWORD*) {
    std::lock_guard<std::mutex> g(machine().lock);
    last_error = ERROR_SUCCESS;
    if (state->PrivilegeCount == 1 && state->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED) {
        DWORD luid = state->Privileges[0].Luid.LowPart;
        if (luid == time_zone_luid) sim::state().zone_privilege = true;
        if (luid == system_time_luid && !sim::state().allow_set_time) last_error = ERROR_NOT_ALL_ASSIGNED;
    }
    return TRUE;
}
