// Controls of the simulated machine, for tests only. Components never include this.
#pragma once
#include <stdint.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "os/win32.h"

// Puts the whole simulated machine back to its start state.
void os_test_reset();

// The virtual UTC clock, in FILETIME units, and the millisecond tick count.
// Setting the clock here sets true time with it; SetSystemTime sets the clock alone.
void os_test_set_utc(uint64_t filetime);
uint64_t os_test_utc();
void os_test_set_utc(int year, int month, int day, int hour, int minute, int second, int ms = 0);
void os_test_set_tick(DWORD tick);
void os_test_advance_ms(DWORD ms);
// True time, which the clock follows at its own rate (ppm, positive: it gains)
// times the adjustment SetSystemTimeAdjustment(Precise) asked for.
uint64_t os_test_true_utc();
void os_test_set_rate_error(double ppm);
// The adjustment in force as a factor of Windows' own rate, 1 when Windows
// keeps it; whether the Precise calls exist (Windows 10 and later); the calls
// that set it. Another program's rate is one a test sets here.
double os_test_adjustment_factor();
bool os_test_adjustment_disabled();
void os_test_set_adjustment(double factor, bool disabled);
void os_test_set_precise_adjustment(bool available);
int os_test_adjustment_calls();
// Set to false to make SetSystemTime fail the way an unprivileged process sees
// it; the account then does not hold the system-time privilege either.
void os_test_allow_set_time(bool allow);
int os_test_set_time_calls();
SYSTEMTIME os_test_last_set_time();
// How many WM_TIMECHANGE broadcasts were sent.
int os_test_time_change_broadcasts();
// Minutes west of UTC, as TIME_ZONE_INFORMATION.Bias.
void os_test_set_bias(LONG bias);
// The whole zone and what GetTimeZoneInformation answers with it; the zone now.
void os_test_set_zone(const TIME_ZONE_INFORMATION& zone, DWORD result);
// The zone's key name that GetDynamicTimeZoneInformation answers ("" = none).
void os_test_set_zone_key(const std::string& key);
TIME_ZONE_INFORMATION os_test_zone();
void os_test_allow_set_zone(bool allow);
int os_test_set_zone_calls();
int os_test_setting_change_broadcasts();

// Start-up environment: program path (Windows form, "\tmp\x\Pendulark.exe"; empty = not found),
// drive type of every root, application-data folder, command line.
void os_test_set_program_path(const std::string& path);
void os_test_set_drive_type(UINT type);
void os_test_set_appdata(const std::string& path);
// The folder of every user's application data (CSIDL_COMMON_APPDATA).
void os_test_set_common_appdata(const std::string& path);
void os_test_set_command_line(const std::string& line);

// Another program writes bytes to a file (host path) just before the next call
// that may create a file: the race between looking for a file and making it.
void os_test_write_before_next_create(const std::string& host_path, const std::string& bytes);
// Reads of this file fail once it is open, as a locked range or a failing disk makes them.
void os_test_fail_reads(const std::string& host_path);
// The long-date picture of the simulated user's locale ("" = the standard one).
void os_test_set_long_date_format(const std::string& picture);

// Registry values of the simulated user, "" when missing.
std::string os_test_registry_value(const std::string& key, const std::string& name, bool* exists);

// Name look-ups: a host added here resolves to its dotted address, and its
// address back to its name, after the test releases it when held (or after
// 10 s); other names go to the host's resolver.
// Several addresses, either family, are given apart by spaces, in the order
// the resolver answers them.
void os_test_add_host(const std::string& name, const std::string& addresses, bool held = false);
void os_test_release_lookups();
// Look-ups waiting for their release now.
int os_test_held_lookups();
// The address that binds to INADDR_ANY stand for (default: 127.0.0.1).
void os_test_set_any_address(const std::string& address);
// IPv6 sockets for this test: off by default.
void os_test_set_ipv6(bool available);
// The network is down for the next ms of the tick count (INFINITE: until set
// again): connections find no route and the names the tests added no answer.
void os_test_network_down_for(DWORD ms);
// The tray icon: whether there is a taskbar to take it, whether it is there, its tip.
void os_test_set_taskbar(bool present);
bool os_test_tray_icon(std::string* tip = nullptr);
// The items of the last menu tracked ("-" for a separator) and their ids.
std::vector<std::string> os_test_last_menu(std::vector<UINT_PTR>* ids = nullptr);
// Binds made so far, and listens that succeeded.
int os_test_bind_calls();
int os_test_listen_calls();
// Threads made by CreateThread that have not yet returned, in this test or before.
int os_test_live_threads();
// Handles made and not yet closed (files, threads, mutexes, keys, tokens).
int os_test_open_handles();
// Messages posted to a window and not yet taken.
std::vector<UINT> os_test_take_posted(HWND window);
// Winsock references taken and not yet given back.
int os_test_winsock_users();

// Controls of simulated windows: text, enabled flag, the last tooltip given.
std::string os_test_control_text(HWND dialog, int control);
bool os_test_control_enabled(HWND dialog, int control);
std::string os_test_tooltip(HWND dialog, int control);
// The tools the tooltip control holds, over every window.
int os_test_tool_count();
std::string os_test_window_text(HWND window);
// The period of a running timer, 0 when it does not run.
UINT os_test_timer(HWND window, UINT_PTR id);
// What the shell was asked to open, the topmost state, the exit code posted (-1: none).
std::string os_test_shell_opened();
bool os_test_topmost(HWND window);
int os_test_quit_code();
void os_test_set_computer_name(const std::string& name);
// Windows XP has no Task Scheduler for logon tasks; the tasks registered, by
// "folder\name", each its XML, in UTF-8. A task added here stands for another
// user's or an older release's.
void os_test_set_task_scheduler(bool available);
std::map<std::string, std::string> os_test_tasks();
void os_test_add_task(const std::string& folder_and_name);
// The account the process runs as: its logon task's name follows it.
void os_test_set_account(const std::wstring& domain, const std::wstring& user);
// Dialog templates shown so far, by number; the last ShowWindow command of a window.
std::vector<int> os_test_dialogs_shown();
int os_test_show_command(HWND window);
// The window that has the keyboard focus.
HWND os_test_focus();
// A registry value of the simulated machine's HKEY_LOCAL_MACHINE (a key alone when name is empty).
void os_test_set_machine_value(const std::string& key, const std::string& name, const std::string& value);

// The range of an up-down control ({low, high}).
std::pair<int, int> os_test_updown_range(HWND dialog, int control);

// The texts of a dialog's combo box and its selection.
std::vector<std::string> os_test_combo_items(HWND dialog, int control);
int os_test_combo_selection(HWND dialog, int control);

// Host path <-> Windows-form path ("/tmp/a" <-> "\tmp\a").
std::string os_test_windows_path(const std::string& host_path);
std::string os_test_host_path(const std::string& windows_path);

// The states the process reported to the service control manager, in order.
std::vector<DWORD> os_test_service_states();
SERVICE_STATUS os_test_last_service_status();
// The service "Pendulark" as the control manager tells others of it: SERVICE_RUNNING,
// SERVICE_STOPPED, ...; 0 for none registered.
void os_test_set_registered_service(DWORD state);
// The process at the other end of the named pipes: it gets each request and
// gives its reply ("" closes without one). None set: no pipe exists.
void os_test_set_pipe_server(std::function<std::string(const std::string& name, const std::string& request)> server);
