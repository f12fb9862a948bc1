// The simulated machine of the native build. It implements only the calls the
// components make, with the semantics they rely on, and never touches the
// host's clock, time zone or registry. This file holds its state and reset and
// the process around the program; each area has a file of its own beside it.
#include <stdlib.h>
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

namespace sim {

Machine& machine() {
    static Machine m;
    return m;
}

thread_local DWORD last_error = 0;

// Outlives a reset, as handles a test lets go of may close in the next.
std::atomic<int> open_objects;

}  // namespace sim

void os_test_reset() {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    m.state = State{};
    // The fresh state has look-ups released: one still held from the last test ends now.
    m.lookup_release.notify_all();
}

int os_test_open_handles() { return open_objects; }

HMODULE GetModuleHandleA(const char*) { return (HMODULE)(uintptr_t)0x400000; }

const char* GetCommandLineA() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().command_line.c_str();
}

void os_test_set_command_line(const std::string& line) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().command_line = line;
}

DWORD GetLastError() { return last_error; }
void SetLastError(DWORD code) { last_error = code; }

void ExitProcess(UINT code) { exit((int)code); }

HANDLE GetCurrentProcess() { return (HANDLE)(intptr_t)-1; }

BOOL GetComputerNameA(char* name, DWORD* size) {
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& n = state().computer_name;
    if (n.size() + 1 > *size) return FALSE;
    memcpy(name, n.c_str(), n.size() + 1);
    *size = (DWORD)n.size();
    return TRUE;
}

void os_test_set_computer_name(const std::string& name) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().computer_name = name;
}

// The user name a Windows user name's rules allow: spaces and dots included.
BOOL GetUserNameA(char* name, DWORD* size) {
    static const char user[] = "Sim User.1";
    if (*size < sizeof user) return FALSE;
    memcpy(name, user, sizeof user);
    *size = sizeof user;
    return TRUE;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}
