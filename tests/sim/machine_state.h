// The simulated machine's state, shared by its area files in tests/sim/. Only
// those files include it; tests reach the machine through tests/sim/os_test.h.
#pragma once
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "os/win32.h"

namespace sim {

// The zone a fresh machine is in: UTC, named "Virtual Standard Time".
TIME_ZONE_INFORMATION virtual_zone();

// Everything a test may change, at its start value. os_test_reset assigns a
// fresh one, so a field added here needs no reset code of its own.
struct State {
    uint64_t utc = 0;
    uint64_t tick = 0;  // GetTickCount gives its low 32 bits
    // True time, and the clock's own rate: the clock moves (1 + rate_error) *
    // adjustment_factor for each unit of true time, the factor 1 while Windows
    // keeps the rate (adjustment_disabled).
    uint64_t true_utc = 0;
    double rate_error = 0;
    double adjustment_factor = 1;
    bool adjustment_disabled = true;
    double utc_fraction = 0;
    bool precise_adjustment = true;  // Windows 10 and later
    int adjustment_calls = 0;
    LONG bias = 0;
    bool allow_set_time = true;
    int set_time_calls = 0;
    SYSTEMTIME last_set_time{};
    std::string program_path;
    UINT drive_type = DRIVE_FIXED;
    std::string appdata;
    std::string command_line;
    std::string long_date_format;
    std::string race_path, race_bytes;
    std::map<std::string, std::map<std::string, std::string>> registry;
    std::map<std::string, int> mutexes;
    std::string failing_reads;  // host path of a file whose reads fail once it is open
    // Named events share their state, as two processes' handles to one event do.
    std::map<std::string, std::shared_ptr<std::atomic<bool>>> events;
    int winsock_users = 0;
    struct Host {
        std::vector<sockaddr_storage> addresses;
        bool held;
    };
    std::map<std::string, Host> hosts;
    // A fresh state ends any look-up still held from the last test.
    bool lookups_released = true;
    int time_change_broadcasts = 0;
    int setting_change_broadcasts = 0;
    TIME_ZONE_INFORMATION zone = virtual_zone();
    DWORD zone_result = TIME_ZONE_ID_UNKNOWN;
    std::string zone_key;  // the registry key of the zone, "" when Windows gives none
    bool allow_set_zone = true;
    int set_zone_calls = 0;
    bool zone_privilege = false;
    std::map<std::pair<HWND, int>, UINT> checks;
    std::map<std::pair<HWND, int>, SYSTEMTIME> dates;
    std::map<std::pair<HWND, int>, std::pair<int, int>> ranges;
    struct Combo {
        std::vector<std::string> items;
        int selection = CB_ERR;
    };
    std::map<std::pair<HWND, int>, Combo> combos;
    struct Control {
        std::string text;
        bool enabled = true;
        std::string tooltip;
    };
    std::map<std::pair<HWND, int>, Control> controls;
    // Control handles stand for their (dialog, id); window texts by handle.
    std::map<HWND, std::pair<HWND, int>> control_of_handle;
    std::map<HWND, std::string> window_texts;
    std::map<std::pair<HWND, UINT_PTR>, UINT> timers;
    std::map<HWND, bool> topmost;
    // Each window's words, by window and index.
    std::map<std::pair<HWND, int>, LONG_PTR> window_words;
    std::string shell_opened;
    std::string computer_name = "SIMULATED";
    // The process's account, and the Task Scheduler's tasks by "folder\name",
    // each its XML, all in UTF-8.
    std::wstring account_domain = L"SIMULATED", account_user = L"Sim User.1";
    bool task_scheduler = true;
    std::map<std::string, std::string> tasks;
    int quit_code = -1;
    std::vector<int> dialogs_shown;
    std::map<HWND, std::vector<UINT>> posted;
    in_addr any_address{htonl(INADDR_LOOPBACK)};
    int bind_calls = 0;
    bool ipv6 = false;
    // No route and no name server until the tick count reaches this.
    uint64_t network_down_until = 0;
    int listen_calls = 0;
    bool taskbar = true, tray_icon = false;
    std::string tray_tip;
    std::map<HMENU, std::vector<std::pair<std::string, UINT_PTR>>> menus;
    std::vector<std::pair<std::string, UINT_PTR>> last_menu;
    std::map<HWND, int> show_commands;
    HWND focus = nullptr;
    std::string common_appdata;
    std::vector<SERVICE_STATUS> service_statuses;
    DWORD registered_service_state = 0;  // as the control manager tells it; 0: none registered
    // The other end of the named pipes: the reply to a request, "" for none.
    std::function<std::string(const std::string& name, const std::string& request)> pipe_server;
};

// The state, and what outlives a reset: a look-up, thread or window a test
// lets go of may still be at work in the next one.
struct Machine {
    std::mutex lock;
    std::condition_variable lookup_release;
    int held_lookups = 0;  // look-ups waiting for their release now
    // Handles keep rising, so that one kept from the last test names nothing new.
    uintptr_t next_handle = 0x10000;
    State state;
};

Machine& machine();
// The state, under machine().lock.
inline State& state() { return machine().state; }

// GetLastError's value, one a thread as on Windows.
extern thread_local DWORD last_error;

// What a handle stands for.
enum Kind { kFile, kThread, kMutex, kEvent, kKey, kToken };

struct Thread {
    std::mutex lock;
    std::condition_variable done_signal;
    bool done = false;
};

// Outlives a reset, as handles a test lets go of may close in the next.
extern std::atomic<int> open_objects;

struct Object {
    explicit Object(Kind k) : kind(k) { open_objects++; }
    ~Object() { open_objects--; }
    Kind kind;
    int fd = -1;
    DWORD access = 0, share = 0;
    std::string path;
    std::shared_ptr<Thread> thread;
    std::shared_ptr<std::atomic<bool>> signaled;  // an event's
};

// Registry keys and host names compare without case.
inline std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

}  // namespace sim

// The Precise rate calls, which GetProcAddress finds on a machine that has them.
BOOL WINAPI sim_get_adjustment_precise(uint64_t* adjustment, uint64_t* increment, BOOL* disabled);
BOOL WINAPI sim_set_adjustment_precise(uint64_t adjustment, BOOL disabled);
bool os_test_precise_adjustment();
