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
    m.utc = 0;
    m.tick = 0;
    m.bias = 0;
    m.allow_set_time = true;
    m.set_time_calls = 0;
    m.last_set_time = {};
    m.program_path.clear();
    m.drive_type = DRIVE_FIXED;
    m.appdata.clear();
    m.command_line.clear();
    m.long_date_format.clear();
    m.race_path.clear();
    m.registry.clear();
    m.mutexes.clear();
    m.time_change_broadcasts = 0;
    m.setting_change_broadcasts = 0;
    m.zone = TIME_ZONE_INFORMATION{};
    const char* standard = "Virtual Standard Time";
    for (int i = 0; standard[i]; i++) m.zone.StandardName[i] = (WCHAR)standard[i];
    m.zone_result = TIME_ZONE_ID_UNKNOWN;
    m.zone_key.clear();
    m.allow_set_zone = true;
    m.set_zone_calls = 0;
    m.zone_privilege = false;
    m.checks.clear();
    m.dates.clear();
    m.ranges.clear();
    m.combos.clear();
    m.controls.clear();
    m.control_of_handle.clear();
    m.window_texts.clear();
    m.timers.clear();
    m.topmost.clear();
    m.shell_opened.clear();
    m.computer_name = "SIMULATED";
    m.task_scheduler = true;
    m.tasks.clear();
    m.quit_code = -1;
    m.dialogs_shown.clear();
    m.posted.clear();
    m.any_address.s_addr = htonl(INADDR_LOOPBACK);
    m.bind_calls = 0;
    m.listen_calls = 0;
    m.taskbar = true;
    m.tray_icon = false;
    m.tray_tip.clear();
    m.menus.clear();
    m.last_menu.clear();
    m.show_commands.clear();
    m.focus = nullptr;
    m.privilege_available = true;
    m.privilege_adjustments = 0;
    m.winsock_users = 0;
    m.hosts.clear();
    // A look-up still held from the last test ends now.
    m.lookups_released = true;
    m.lookup_release.notify_all();
}

int os_test_open_handles() { return open_objects; }

HMODULE GetModuleHandleA(const char*) { return (HMODULE)(uintptr_t)0x400000; }

const char* GetCommandLineA() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().command_line.c_str();
}

void os_test_set_command_line(const std::string& line) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().command_line = line;
}

DWORD GetLastError() { return last_error; }
void SetLastError(DWORD code) { last_error = code; }

void ExitProcess(UINT code) { exit((int)code); }

HANDLE GetCurrentProcess() { return (HANDLE)(intptr_t)-1; }

BOOL GetComputerNameA(char* name, DWORD* size) {
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& n = machine().computer_name;
    if (n.size() + 1 > *size) return FALSE;
    memcpy(name, n.c_str(), n.size() + 1);
    *size = (DWORD)n.size();
    return TRUE;
}

void os_test_set_computer_name(const std::string& name) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().computer_name = name;
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
