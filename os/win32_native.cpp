// The simulated machine of the native build. It implements only the calls the
// components make, with the semantics they rely on, and never touches the
// host's clock, time zone or registry.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/task_scheduler.h"
#include "tests/sim/os_test.h"

namespace {

constexpr uint64_t kTicksPerMs = 10000;

struct Machine {
    std::mutex lock;
    uint64_t utc = 0;
    uint64_t tick = 0;  // GetTickCount gives its low 32 bits
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
    bool privilege_available = true;
    int privilege_adjustments = 0;
    int winsock_users = 0;
    struct Host {
        in_addr address;
        bool held;
    };
    std::map<std::string, Host> hosts;
    int held_lookups = 0;
    bool lookups_released = false;
    std::condition_variable lookup_release;
    int time_change_broadcasts = 0;
    int setting_change_broadcasts = 0;
    TIME_ZONE_INFORMATION zone{};
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
    std::string shell_opened;
    std::string computer_name = "SIMULATED";
    // The Task Scheduler's tasks by "folder\name": command, a space, arguments.
    bool task_scheduler = true;
    std::map<std::string, std::string> tasks;
    int quit_code = -1;
    std::vector<int> dialogs_shown;
    std::map<HWND, std::vector<UINT>> posted;
    in_addr any_address{htonl(INADDR_LOOPBACK)};
    int bind_calls = 0;
    int listen_calls = 0;
    bool taskbar = true, tray_icon = false;
    std::string tray_tip;
    std::map<HMENU, std::vector<std::pair<std::string, UINT_PTR>>> menus;
    std::vector<std::pair<std::string, UINT_PTR>> last_menu;
    std::map<HWND, int> show_commands;
    HWND focus = nullptr;
    uintptr_t next_handle = 0x10000;
};

Machine& machine() {
    static Machine m;
    return m;
}

thread_local DWORD last_error = 0;

enum Kind { kFile, kThread, kMutex, kKey, kToken };

struct Thread {
    std::mutex lock;
    std::condition_variable done_signal;
    bool done = false;
};

// Outlives a reset, as handles a test lets go of may close in the next.
std::atomic<int> open_objects;

struct Object {
    explicit Object(Kind k) : kind(k) { open_objects++; }
    ~Object() { open_objects--; }
    Kind kind;
    int fd = -1;
    DWORD access = 0, share = 0;
    std::string path;
    std::shared_ptr<Thread> thread;
};

// Open files by host path, for the sharing rules of CreateFileA.
std::mutex open_lock;
std::multimap<std::string, Object*> open_files;

bool sharing_allows(const Object& open, DWORD access, DWORD share) {
    if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return false;
    if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
    return true;
}

int64_t days_from_civil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = (unsigned)(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

uint64_t ticks_of(const FILETIME& ft) { return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime; }

FILETIME filetime_of_ticks(uint64_t t) { return FILETIME{(DWORD)t, (DWORD)(t >> 32)}; }

// Days from 1970-01-01 to 1601-01-01.
const int64_t kDays1601 = days_from_civil(1601, 1, 1);

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

std::string key_path(HKEY root, const char* sub) {
    std::string base = root == HKEY_CURRENT_USER ? "hkcu" : root == HKEY_LOCAL_MACHINE ? "hklm" : "";
    if (base.empty()) base = ((Object*)root)->path;
    return lower(base + "\\" + (sub ? sub : ""));
}

}  // namespace

// ---- test controls ----

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

void os_test_set_utc(uint64_t filetime) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().utc = filetime;
}

uint64_t os_test_utc() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().utc;
}

void os_test_set_utc(int year, int month, int day, int hour, int minute, int second, int ms) {
    SYSTEMTIME st{(WORD)year, (WORD)month, 0, (WORD)day, (WORD)hour, (WORD)minute, (WORD)second, (WORD)ms};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    os_test_set_utc(ticks_of(ft));
}

void os_test_set_tick(DWORD tick) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().tick = tick;
}

void os_test_advance_ms(DWORD ms) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().tick += ms;
    machine().utc += (uint64_t)ms * kTicksPerMs;
}

void os_test_allow_set_time(bool allow) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().allow_set_time = allow;
}

int os_test_set_time_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().set_time_calls;
}

SYSTEMTIME os_test_last_set_time() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().last_set_time;
}

void os_test_set_bias(LONG bias) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().bias = bias;
}

void os_test_set_program_path(const std::string& path) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().program_path = path;
}

void os_test_set_drive_type(UINT type) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().drive_type = type;
}

void os_test_set_appdata(const std::string& path) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().appdata = path;
}

void os_test_set_command_line(const std::string& line) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().command_line = line;
}

std::string os_test_registry_value(const std::string& key, const std::string& name, bool* exists) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto& reg = machine().registry;
    auto k = reg.find(lower(key));
    bool found = k != reg.end() && k->second.count(lower(name));
    if (exists) *exists = found;
    return found ? k->second[lower(name)] : "";
}

void os_test_set_privilege_available(bool available) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().privilege_available = available;
}

int os_test_privilege_adjustments() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().privilege_adjustments;
}

std::string os_test_windows_path(const std::string& host_path) {
    std::string s = host_path;
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

std::string os_test_host_path(const std::string& windows_path) {
    std::string s = windows_path;
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

void os_test_write_before_next_create(const std::string& host_path, const std::string& bytes) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().race_path = host_path;
    machine().race_bytes = bytes;
}

void os_test_set_long_date_format(const std::string& picture) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().long_date_format = picture;
}

// ---- files ----

static void run_create_race(DWORD disposition) {
    if (disposition == OPEN_EXISTING) return;
    std::string path, bytes;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        path.swap(machine().race_path);
        bytes = machine().race_bytes;
    }
    if (path.empty()) return;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD,
                   HANDLE) {
    std::string path = os_test_host_path(name ? name : "");
    run_create_race(disposition);
    std::lock_guard<std::mutex> g(open_lock);
    auto range = open_files.equal_range(path);
    for (auto it = range.first; it != range.second; ++it) {
        if (!sharing_allows(*it->second, access, share)) {
            last_error = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        default: break;
    }
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        last_error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        last_error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    Object* o = new Object(kFile);
    o->fd = fd;
    o->access = access;
    o->share = share;
    o->path = path;
    open_files.emplace(path, o);
    last_error = 0;
    return o;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* done, void*) {
    Object* o = (Object*)file;
    ssize_t n = read(o->fd, buffer, size);
    if (done) *done = n > 0 ? (DWORD)n : 0;
    return n >= 0;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* done, void*) {
    Object* o = (Object*)file;
    ssize_t n = write(o->fd, buffer, size);
    if (done) *done = n > 0 ? (DWORD)n : 0;
    return n == (ssize_t)size;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    struct stat st;
    if (fstat(((Object*)file)->fd, &st) != 0) return INVALID_FILE_SIZE;
    if (high) *high = (DWORD)((uint64_t)st.st_size >> 32);
    return (DWORD)st.st_size;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG*, DWORD method) {
    off_t r = lseek(((Object*)file)->fd, distance, method == FILE_END ? SEEK_END : SEEK_SET);
    return r < 0 ? INVALID_SET_FILE_POINTER : (DWORD)r;
}

BOOL FlushFileBuffers(HANDLE file) {
    return fsync(((Object*)file)->fd) == 0;
}

BOOL CloseHandle(HANDLE object) {
    Object* o = (Object*)object;
    if (!o || o == INVALID_HANDLE_VALUE) return FALSE;
    if (o->kind == kFile) {
        std::lock_guard<std::mutex> g(open_lock);
        auto range = open_files.equal_range(o->path);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == o) {
                open_files.erase(it);
                break;
            }
        }
        close(o->fd);
    }
    delete o;
    return TRUE;
}

static bool is_open(const std::string& path) {
    std::lock_guard<std::mutex> g(open_lock);
    return open_files.count(path) != 0;
}

BOOL DeleteFileA(const char* name) {
    std::string path = os_test_host_path(name);
    if (is_open(path)) {
        last_error = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    return unlink(path.c_str()) == 0;
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags) {
    std::string a = os_test_host_path(from), b = os_test_host_path(to);
    if (is_open(a) || is_open(b)) {
        last_error = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && access(b.c_str(), F_OK) == 0) {
        last_error = ERROR_ALREADY_EXISTS;
        return FALSE;
    }
    return rename(a.c_str(), b.c_str()) == 0;
}

BOOL CopyFileA(const char* from, const char* to, BOOL fail_if_exists) {
    std::string a = os_test_host_path(from), b = os_test_host_path(to);
    if (is_open(a) || is_open(b)) {
        last_error = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    FILE* in = fopen(a.c_str(), "rb");
    if (!in) return FALSE;
    if (fail_if_exists && access(b.c_str(), F_OK) == 0) {
        fclose(in);
        return FALSE;
    }
    FILE* out = fopen(b.c_str(), "wb");
    if (!out) {
        fclose(in);
        return FALSE;
    }
    char buf[65536];
    size_t n;
    bool ok = true;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) ok = ok && fwrite(buf, 1, n, out) == n;
    fclose(in);
    ok = fclose(out) == 0 && ok;
    return ok;
}

BOOL CreateDirectoryA(const char* name, void*) {
    if (mkdir(os_test_host_path(name).c_str(), 0755) == 0) return TRUE;
    last_error = errno == EEXIST ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
    return FALSE;
}

HMODULE GetModuleHandleA(const char*) { return (HMODULE)(uintptr_t)0x400000; }
static DWORD WINAPI get_dynamic_time_zone_information(DYNAMIC_TIME_ZONE_INFORMATION* zone) {
    *zone = DYNAMIC_TIME_ZONE_INFORMATION{};
    DWORD result = GetTimeZoneInformation(zone);
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& key = machine().zone_key;
    for (size_t i = 0; i < key.size() && i < 127; i++) zone->TimeZoneKeyName[i] = (WCHAR)(unsigned char)key[i];
    return result;
}

FARPROC GetProcAddress(HMODULE, const char* name) {
    if (strcmp(name, "GetDynamicTimeZoneInformation") == 0) return (FARPROC)get_dynamic_time_zone_information;
    return nullptr;
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD size) {
    std::string path;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        path = machine().program_path;
    }
    if (path.empty()) {
        last_error = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    // Like Windows XP: a path too long is cut to the buffer, unterminated, and the size returned.
    if (path.size() + 1 > size) {
        memcpy(buffer, path.c_str(), size);
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

UINT GetDriveTypeA(const char*) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().drive_type;
}

BOOL SHGetSpecialFolderPathA(HWND, char* path, int, BOOL) {
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& a = machine().appdata;
    if (a.empty() || a.size() >= MAX_PATH) return FALSE;
    memcpy(path, a.c_str(), a.size() + 1);
    return TRUE;
}

const char* GetCommandLineA() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().command_line.c_str();
}

DWORD GetLastError() { return last_error; }
void SetLastError(DWORD code) { last_error = code; }

// ---- synchronisation and threads ----

HANDLE CreateMutexA(void*, BOOL, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    int& count = machine().mutexes[name ? name : ""];
    last_error = count++ ? ERROR_ALREADY_EXISTS : 0;
    return new Object(kMutex);
}

// Outlives a reset: a thread let go of by one test may still end in the next.
static std::atomic<int> live_threads;

int os_test_live_threads() { return live_threads; }

int os_test_open_handles() { return open_objects; }

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD, DWORD* id) {
    Object* o = new Object(kThread);
    o->thread = std::make_shared<Thread>();
    std::shared_ptr<Thread> t = o->thread;
    live_threads++;
    std::thread([t, start, param] {
        start(param);
        live_threads--;
        std::lock_guard<std::mutex> g(t->lock);
        t->done = true;
        t->done_signal.notify_all();
    }).detach();
    if (id) *id = 1;
    return o;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    Object* o = (Object*)object;
    if (o->kind != kThread) return WAIT_OBJECT_0;
    std::unique_lock<std::mutex> g(o->thread->lock);
    auto done = [&] { return o->thread->done; };
    if (milliseconds == INFINITE) {
        o->thread->done_signal.wait(g, done);
        return WAIT_OBJECT_0;
    }
    return o->thread->done_signal.wait_for(g, std::chrono::milliseconds(milliseconds), done)
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
}

// Real time passes, and the virtual clock and tick move with it.
void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    os_test_advance_ms(milliseconds);
}

void ExitProcess(UINT code) { exit((int)code); }

HANDLE GetCurrentProcess() { return (HANDLE)(intptr_t)-1; }

// ---- time ----

void GetSystemTimeAsFileTime(FILETIME* now) {
    *now = filetime_of_ticks(os_test_utc());
}

void GetSystemTime(SYSTEMTIME* now) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, now);
}

void GetLocalTime(SYSTEMTIME* now) {
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, now);
}

BOOL SetSystemTime(const SYSTEMTIME* time) {
    FILETIME ft;
    if (!SystemTimeToFileTime(time, &ft)) return FALSE;
    std::lock_guard<std::mutex> g(machine().lock);
    Machine& m = machine();
    m.set_time_calls++;
    m.last_set_time = *time;
    if (!m.allow_set_time) {
        last_error = 1314;  // ERROR_PRIVILEGE_NOT_HELD
        return FALSE;
    }
    m.utc = ticks_of(ft);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
    if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999 || st->wYear < 1601)
        return FALSE;
    int64_t days = days_from_civil(st->wYear, st->wMonth, st->wDay) - kDays1601;
    uint64_t ms = (((uint64_t)days * 24 + st->wHour) * 60 + st->wMinute) * 60000 +
                  (uint64_t)st->wSecond * 1000 + st->wMilliseconds;
    *ft = filetime_of_ticks(ms * kTicksPerMs);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
    uint64_t t = ticks_of(*ft);
    if (t >> 63) return FALSE;
    uint64_t ms = t / kTicksPerMs;
    int64_t z = (int64_t)(ms / 86400000) + kDays1601 + 719468;
    uint64_t day_ms = ms % 86400000;
    const int64_t era = z / 146097;
    const unsigned doe = (unsigned)(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    st->wYear = (WORD)(yoe + era * 400 + (m <= 2));
    st->wMonth = (WORD)m;
    st->wDay = (WORD)d;
    st->wDayOfWeek = (WORD)((ms / 86400000 + 1) % 7);  // 1601-01-01 was a Monday
    st->wHour = (WORD)(day_ms / 3600000);
    st->wMinute = (WORD)(day_ms / 60000 % 60);
    st->wSecond = (WORD)(day_ms / 1000 % 60);
    st->wMilliseconds = (WORD)(day_ms % 1000);
    return TRUE;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* zone) {
    std::lock_guard<std::mutex> g(machine().lock);
    *zone = machine().zone;
    zone->Bias = machine().bias;
    return machine().zone_result;
}

BOOL SetTimeZoneInformation(const TIME_ZONE_INFORMATION* zone) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine& m = machine();
    m.set_zone_calls++;
    if (!m.allow_set_zone || !m.zone_privilege) {
        last_error = 1314;  // ERROR_PRIVILEGE_NOT_HELD
        return FALSE;
    }
    m.zone = *zone;
    m.bias = zone->Bias;
    return TRUE;
}

void os_test_set_zone_key(const std::string& key) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().zone_key = key;
}

void os_test_set_zone(const TIME_ZONE_INFORMATION& zone, DWORD result) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().zone = zone;
    machine().bias = zone.Bias;
    machine().zone_result = result;
}

TIME_ZONE_INFORMATION os_test_zone() {
    std::lock_guard<std::mutex> g(machine().lock);
    TIME_ZONE_INFORMATION zone = machine().zone;
    zone.Bias = machine().bias;
    return zone;
}

void os_test_allow_set_zone(bool allow) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().allow_set_zone = allow;
}

int os_test_set_zone_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().set_zone_calls;
}

int os_test_setting_change_broadcasts() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().setting_change_broadcasts;
}

int WideCharToMultiByte(UINT, DWORD, const WCHAR* text, int length, char* out, int size, const char*, BOOL*) {
    int n = 0;
    for (; (length < 0 || n < length) && n < size; n++) {
        out[n] = text[n] < 0x80 ? (char)text[n] : '?';
        if (length < 0 && text[n] == 0) return n + 1;
    }
    return length < 0 ? 0 : n;  // no room for the terminator: Windows fails the call
}

BOOL CheckDlgButton(HWND dialog, int control, UINT state) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().checks[{dialog, control}] = state;
    return TRUE;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int checked) {
    std::lock_guard<std::mutex> g(machine().lock);
    for (int control = first; control <= last; control++)
        machine().checks[{dialog, control}] = control == checked ? BST_CHECKED : BST_UNCHECKED;
    return TRUE;
}

std::pair<int, int> os_test_updown_range(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().ranges[{dialog, control}];
}

UINT IsDlgButtonChecked(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().checks[{dialog, control}];
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    LONG bias;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        bias = machine().bias;
    }
    *local = filetime_of_ticks(ticks_of(*utc) - (int64_t)bias * 60 * 10000000);
    return TRUE;
}

// The result of the formatting calls: the count with the zero byte, or 0 when it does not fit.
static int put_formatted(const std::string& text, char* out, int size) {
    if ((int)text.size() + 1 > size) {
        last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    memcpy(out, text.c_str(), text.size() + 1);
    return (int)text.size() + 1;
}

static std::string two_digits(int n) { return std::string(1, char('0' + n / 10 % 10)) + char('0' + n % 10); }

static std::string format_picture(const char* picture, const SYSTEMTIME& t) {
    static const char* const days[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    static const char* const months[] = {"January", "February", "March", "April", "May", "June",
                                         "July", "August", "September", "October", "November", "December"};
    std::string out;
    for (const char* p = picture; *p;) {
        char c = *p;
        if (c == '\'') {
            for (p++; *p && *p != '\''; p++) out += *p;
            if (*p) p++;
            continue;
        }
        int run = 0;
        while (p[run] == c) run++;
        int hour12 = t.wHour % 12 ? t.wHour % 12 : 12;
        switch (c) {
            case 'H': out += run > 1 ? two_digits(t.wHour) : std::to_string(t.wHour); break;
            case 'h': out += run > 1 ? two_digits(hour12) : std::to_string(hour12); break;
            case 'm': out += run > 1 ? two_digits(t.wMinute) : std::to_string(t.wMinute); break;
            case 's': out += run > 1 ? two_digits(t.wSecond) : std::to_string(t.wSecond); break;
            case 't': out += t.wHour < 12 ? "AM" : "PM"; break;
            case 'd': out += run >= 4 ? days[t.wDayOfWeek % 7] : run > 1 ? two_digits(t.wDay) : std::to_string(t.wDay); break;
            case 'M': out += run >= 4 ? months[(t.wMonth + 11) % 12] : run > 1 ? two_digits(t.wMonth) : std::to_string(t.wMonth); break;
            case 'y': out += run >= 4 ? std::to_string(t.wYear) : two_digits(t.wYear % 100); break;
            default: out.append(run, c); break;
        }
        p += run;
    }
    return out;
}

int GetTimeFormatA(LCID, DWORD, const SYSTEMTIME* time, const char* format, char* out, int size) {
    SYSTEMTIME now;
    if (!time) GetLocalTime(&now);
    return put_formatted(format_picture(format ? format : "h:mm:ss tt", time ? *time : now), out, size);
}

int GetDateFormatA(LCID, DWORD flags, const SYSTEMTIME* date, const char* format, char* out, int size) {
    SYSTEMTIME now;
    if (!date) GetLocalTime(&now);
    std::string long_date;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        long_date = machine().long_date_format.empty() ? "dddd, MMMM d, yyyy" : machine().long_date_format;
    }
    const char* picture = format ? format : flags & DATE_LONGDATE ? long_date.c_str() : "M/d/yyyy";
    return put_formatted(format_picture(picture, date ? *date : now), out, size);
}

// ---- windows ----

static Machine::Control* control_of(HWND handle);

// Only a broadcast that skips hung windows is counted: a plain SendMessage to
// every window would wait on the first one that hangs.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM, LPARAM, UINT flags, UINT timeout, DWORD_PTR* result) {
    std::lock_guard<std::mutex> g(machine().lock);
    bool bounded = (flags & SMTO_ABORTIFHUNG) && timeout > 0;
    if (window == HWND_BROADCAST && message == WM_TIMECHANGE && bounded) machine().time_change_broadcasts++;
    if (window == HWND_BROADCAST && message == WM_WININICHANGE && bounded) machine().setting_change_broadcasts++;
    if (result) *result = 0;
    return 1;
}

LRESULT SendMessageA(HWND, UINT message, WPARAM, LPARAM lparam) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (message == TTM_ADDTOOLA || message == TTM_DELTOOLA) {
        const TOOLINFOA* tool = (const TOOLINFOA*)lparam;
        Machine::Control* c = control_of((HWND)tool->uId);
        if (!c) return FALSE;
        if (message == TTM_DELTOOLA) c->tooltip.clear();
        else if (!c->tooltip.empty()) return FALSE;  // a second tool for a control is never shown
        else c->tooltip = tool->lpszText ? tool->lpszText : "";
        return TRUE;
    }
    return 0;
}

int os_test_time_change_broadcasts() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().time_change_broadcasts;
}

LRESULT SendDlgItemMessageA(HWND dialog, int control, UINT message, WPARAM wparam, LPARAM lparam) {
    std::lock_guard<std::mutex> g(machine().lock);
    switch (message) {
        case UDM_SETRANGE32:
            machine().ranges[{dialog, control}] = {(int)wparam, (int)lparam};
            return 0;
        case DTM_SETSYSTEMTIME:
            machine().dates[{dialog, control}] = *(const SYSTEMTIME*)lparam;
            return TRUE;
        case DTM_GETSYSTEMTIME:
            *(SYSTEMTIME*)lparam = machine().dates[{dialog, control}];
            return GDT_VALID;
    }
    Machine::Combo& combo = machine().combos[{dialog, control}];
    int count = (int)combo.items.size();
    switch (message) {
        case CB_RESETCONTENT:
            combo = Machine::Combo();
            return 0;
        case CB_INSERTSTRING: {
            int at = (int)wparam == -1 ? count : (int)wparam;
            if (at < 0 || at > count) return CB_ERR;
            combo.items.insert(combo.items.begin() + at, (const char*)lparam);
            return at;
        }
        case CB_GETCOUNT: return count;
        case CB_SETCURSEL:
            combo.selection = (int)wparam < count ? (int)wparam : CB_ERR;
            return combo.selection;
        case CB_GETCURSEL: return combo.selection;
        case CB_GETLBTEXT:
            if ((int)wparam < 0 || (int)wparam >= count) return CB_ERR;
            strcpy((char*)lparam, combo.items[wparam].c_str());
            return (LRESULT)combo.items[wparam].size();
    }
    return 0;
}

std::vector<std::string> os_test_combo_items(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().combos[{dialog, control}].items;
}

int os_test_combo_selection(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().combos[{dialog, control}].selection;
}

// ---- controls, timers and the shell ----

static Machine::Control& control_at(HWND dialog, int id) { return machine().controls[{dialog, id}]; }

static Machine::Control* control_of(HWND handle) {
    auto it = machine().control_of_handle.find(handle);
    if (it == machine().control_of_handle.end()) return nullptr;
    return &control_at(it->second.first, it->second.second);
}

HWND GetDlgItem(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine& m = machine();
    for (auto& [handle, place] : m.control_of_handle)
        if (place == std::make_pair(dialog, control)) return handle;
    HWND handle = (HWND)(m.next_handle++);
    m.control_of_handle[handle] = {dialog, control};
    return handle;
}

BOOL SetDlgItemTextA(HWND dialog, int control, const char* text) {
    std::lock_guard<std::mutex> g(machine().lock);
    control_at(dialog, control).text = text ? text : "";
    return TRUE;
}

// Like Windows: the text cut to size - 1 and terminated; the count copied.
UINT GetDlgItemTextA(HWND dialog, int control, char* text, int size) {
    if (size <= 0) return 0;
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& t = control_at(dialog, control).text;
    size_t n = t.size() < (size_t)size - 1 ? t.size() : (size_t)size - 1;
    memcpy(text, t.data(), n);
    text[n] = 0;
    return (UINT)n;
}

BOOL SetWindowTextA(HWND window, const char* text) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().window_texts[window] = text ? text : "";
    return TRUE;
}

// The result is whether the window was disabled before.
BOOL EnableWindow(HWND window, BOOL enable) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine::Control* c = control_of(window);
    if (!c) return FALSE;
    bool was_disabled = !c->enabled;
    c->enabled = enable != 0;
    return was_disabled;
}

BOOL IsWindowEnabled(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine::Control* c = control_of(window);
    return c && c->enabled;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC) {
    std::lock_guard<std::mutex> g(machine().lock);
    // Windows clamps periods to 10 ms .. 0x7FFFFFFF ms.
    if (milliseconds < 10) milliseconds = 10;
    if (milliseconds > 0x7FFFFFFFu) milliseconds = 0x7FFFFFFFu;
    machine().timers[{window, id}] = milliseconds;
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().timers.erase({window, id}) != 0;
}

HWND CreateWindowExA(DWORD, const char*, const char*, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, void*) {
    std::lock_guard<std::mutex> g(machine().lock);
    return (HWND)(machine().next_handle++);
}

BOOL SetWindowPos(HWND window, HWND after, int, int, int, int, UINT) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (after == HWND_TOPMOST || after == HWND_NOTOPMOST) machine().topmost[window] = after == HWND_TOPMOST;
    return TRUE;
}

HINSTANCE ShellExecuteA(HWND, const char*, const char* file, const char*, const char*, int) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().shell_opened = file ? file : "";
    return (HINSTANCE)(uintptr_t)42;
}

BOOL GetComputerNameA(char* name, DWORD* size) {
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& n = machine().computer_name;
    if (n.size() + 1 > *size) return FALSE;
    memcpy(name, n.c_str(), n.size() + 1);
    *size = (DWORD)n.size();
    return TRUE;
}

// The user name a Windows user name's rules allow: spaces and dots included.
BOOL GetUserNameA(char* name, DWORD* size) {
    static const char user[] = "Sim User.1";
    if (*size < sizeof user) return FALSE;
    memcpy(name, user, sizeof user);
    *size = sizeof user;
    return TRUE;
}

// ---- task scheduler ----

static std::string task_path(const char* folder, const char* name) { return std::string(folder) + "\\" + name; }

bool register_logon_task(const char* folder, const char* name, const char* command, const char* arguments) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!machine().task_scheduler) return false;
    machine().tasks[task_path(folder, name)] = std::string(command) + " " + arguments;
    return true;
}

bool delete_scheduled_task(const char* folder, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().task_scheduler && machine().tasks.erase(task_path(folder, name)) == 1;
}

bool delete_task_folder(const char* folder) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!machine().task_scheduler) return false;
    auto& tasks = machine().tasks;
    std::string prefix = task_path(folder, "");
    bool any = false;
    for (auto it = tasks.begin(); it != tasks.end();) {
        bool inside = it->first.compare(0, prefix.size(), prefix) == 0;
        any |= inside;
        it = inside ? tasks.erase(it) : std::next(it);
    }
    return any;
}

void os_test_set_task_scheduler(bool available) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().task_scheduler = available;
}

std::map<std::string, std::string> os_test_tasks() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().tasks;
}

UINT RegisterWindowMessageA(const char* name) {
    UINT hash = 0;
    for (const char* p = name; *p; p++) hash = hash * 31 + (unsigned char)*p;
    return 0xC000u + hash % 0x4000u;
}

void PostQuitMessage(int code) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().quit_code = code;
}

std::string os_test_control_text(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return control_at(dialog, control).text;
}

bool os_test_control_enabled(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return control_at(dialog, control).enabled;
}

std::string os_test_tooltip(HWND dialog, int control) {
    std::lock_guard<std::mutex> g(machine().lock);
    return control_at(dialog, control).tooltip;
}

int os_test_tool_count() {
    std::lock_guard<std::mutex> g(machine().lock);
    int count = 0;
    for (const auto& entry : machine().controls) count += !entry.second.tooltip.empty();
    return count;
}

std::string os_test_window_text(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().window_texts[window];
}

UINT os_test_timer(HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto it = machine().timers.find({window, id});
    return it == machine().timers.end() ? 0 : it->second;
}

std::string os_test_shell_opened() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().shell_opened;
}

bool os_test_topmost(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().topmost[window];
}

int os_test_quit_code() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().quit_code;
}

INT_PTR DialogBoxParamA(HINSTANCE, const char* name, HWND, DLGPROC procedure, LPARAM param) {
    HWND dialog;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        machine().dialogs_shown.push_back((int)(uintptr_t)name);
        dialog = (HWND)(machine().next_handle++);
    }
    procedure(dialog, WM_INITDIALOG, 0, param);
    return 0;
}

BOOL EndDialog(HWND, INT_PTR) { return TRUE; }

BOOL ShowWindow(HWND window, int command) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().show_commands[window] = command;
    return TRUE;
}

BOOL DestroyWindow(HWND) { return TRUE; }

HWND SetFocus(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    HWND before = machine().focus;
    machine().focus = window;
    return before;
}

HWND os_test_focus() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().focus;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM, LPARAM) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().posted[window].push_back(message);
    return TRUE;
}

BOOL SetForegroundWindow(HWND) { return TRUE; }

BOOL Shell_NotifyIconA(DWORD action, NOTIFYICONDATAA* data) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine& m = machine();
    if (!m.taskbar || data->cbSize != NOTIFYICONDATAA_V2_SIZE) return FALSE;
    if (action == NIM_ADD && m.tray_icon) return FALSE;
    if (action != NIM_ADD && !m.tray_icon) return FALSE;
    m.tray_icon = action != NIM_DELETE;
    m.tray_tip = m.tray_icon ? std::string(data->szTip, strnlen(data->szTip, sizeof data->szTip)) : "";
    return TRUE;
}

HMENU CreatePopupMenu() {
    std::lock_guard<std::mutex> g(machine().lock);
    HMENU menu = (HMENU)(machine().next_handle++);
    machine().menus[menu];
    return menu;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().menus[menu].push_back({flags & MF_SEPARATOR ? "-" : text, id});
    return TRUE;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT, int, int, HWND, void*) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().last_menu = machine().menus[menu];
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().menus.erase(menu) != 0;
}

BOOL GetCursorPos(POINT* at) {
    at->x = at->y = 100;
    return TRUE;
}

void os_test_set_taskbar(bool present) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().taskbar = present;
    if (!present) machine().tray_icon = false;
}

bool os_test_tray_icon(std::string* tip) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (tip) *tip = machine().tray_tip;
    return machine().tray_icon;
}

std::vector<std::string> os_test_last_menu(std::vector<UINT_PTR>* ids) {
    std::lock_guard<std::mutex> g(machine().lock);
    std::vector<std::string> texts;
    if (ids) ids->clear();
    for (auto& [text, id] : machine().last_menu) {
        texts.push_back(text);
        if (ids) ids->push_back(id);
    }
    return texts;
}

std::vector<UINT> os_test_take_posted(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    std::vector<UINT> taken;
    taken.swap(machine().posted[window]);
    return taken;
}

std::vector<int> os_test_dialogs_shown() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().dialogs_shown;
}

int os_test_show_command(HWND window) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().show_commands[window];
}

void os_test_set_machine_value(const std::string& key, const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto& values = machine().registry[lower("hklm\\" + key)];
    if (!name.empty()) values[lower(name)] = value;
}

void os_test_set_computer_name(const std::string& name) {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().computer_name = name;
}

ULONGLONG GetTickCount64() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().tick;
}

DWORD GetTickCount() {
    std::lock_guard<std::mutex> g(machine().lock);
    return (DWORD)machine().tick;
}

// ---- registry ----

LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD, char*, DWORD, REGSAM, void*, HKEY* result,
                     DWORD*) {
    Object* o = new Object(kKey);
    o->path = key_path(key, sub_key);
    std::lock_guard<std::mutex> g(machine().lock);
    machine().registry[o->path];
    *result = o;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD, REGSAM, HKEY* result) {
    std::string path = key_path(key, sub_key);
    std::lock_guard<std::mutex> g(machine().lock);
    if (!machine().registry.count(path)) return ERROR_FILE_NOT_FOUND;
    Object* o = new Object(kKey);
    o->path = path;
    *result = o;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD, const BYTE* data, DWORD size) {
    std::lock_guard<std::mutex> g(machine().lock);
    // The data is stored as given, terminator and all when it is counted.
    machine().registry[((Object*)key)->path][lower(name)] = std::string((const char*)data, size);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto& values = machine().registry[((Object*)key)->path];
    auto it = values.find(lower(name));
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = REG_SZ;
    DWORD need = (DWORD)it->second.size() + 1;
    if (data && *size >= need) memcpy(data, it->second.c_str(), need);
    bool fits = !data || *size >= need;
    *size = need;
    return fits ? ERROR_SUCCESS : 234;  // ERROR_MORE_DATA
}

LONG RegDeleteValueA(HKEY key, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().registry[((Object*)key)->path].erase(lower(name)) ? ERROR_SUCCESS
                                                                       : ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY key) {
    delete (Object*)key;
    return ERROR_SUCCESS;
}

// ---- security ----

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* token) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!machine().privilege_available) return FALSE;
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
        machine().privilege_adjustments++;
        if (state->Privileges[0].Luid.LowPart == time_zone_luid) machine().zone_privilege = true;
    }
    return TRUE;
}

// ---- sockets ----

int WSAStartup(WORD version, WSADATA* data) {
    data->wVersion = version;
    data->wHighVersion = 0x0202;
    std::lock_guard<std::mutex> g(machine().lock);
    machine().winsock_users++;
    return 0;
}

int WSACleanup() {
    std::lock_guard<std::mutex> g(machine().lock);
    if (machine().winsock_users == 0) return SOCKET_ERROR;
    machine().winsock_users--;
    return 0;
}

// A blocked recv in another thread only wakes on Linux if the socket is shut
// down first; closesocket on Windows wakes it by itself.
int os_test_winsock_users() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().winsock_users;
}

void os_test_add_host(const std::string& name, const std::string& address, bool held) {
    std::lock_guard<std::mutex> g(machine().lock);
    Machine::Host host{};
    inet_pton(AF_INET, address.c_str(), &host.address);
    host.held = held;
    machine().hosts[lower(name)] = host;
    if (held) machine().lookups_released = false;
}

void os_test_release_lookups() {
    std::lock_guard<std::mutex> g(machine().lock);
    machine().lookups_released = true;
    machine().lookup_release.notify_all();
}

int os_test_held_lookups() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().held_lookups;
}

// Names the tests did not add go to the host's own resolver.
#undef gethostbyname

// A slow resolver: the look-up waits for the test's release, 10 s at most.
static void hold_lookup(std::unique_lock<std::mutex>& g) {
    Machine& m = machine();
    m.held_lookups++;
    m.lookup_release.wait_for(g, std::chrono::seconds(10), [&] { return m.lookups_released; });
    m.held_lookups--;
}

hostent* os_gethostbyname(const char* name) {
    thread_local hostent entry;
    thread_local in_addr address;
    thread_local char* addresses[2];
    Machine& m = machine();
    std::unique_lock<std::mutex> g(m.lock);
    auto it = m.hosts.find(lower(name));
    if (it == m.hosts.end()) {
        g.unlock();
        return ::gethostbyname(name);
    }
    address = it->second.address;
    if (it->second.held) hold_lookup(g);
    addresses[0] = (char*)&address;
    addresses[1] = nullptr;
    entry = hostent{};
    entry.h_addrtype = AF_INET;
    entry.h_length = 4;
    entry.h_addr_list = addresses;
    return &entry;
}

hostent* os_gethostbyaddr(const char* address, int length, int type) {
    thread_local hostent entry;
    thread_local char name[256];
    if (length != 4 || type != AF_INET) return nullptr;
    std::unique_lock<std::mutex> g(machine().lock);
    for (auto& [host, known] : machine().hosts) {
        if (memcmp(&known.address, address, 4) != 0) continue;
        if (known.held) hold_lookup(g);
        snprintf(name, sizeof name, "%s", host.c_str());
        entry = hostent{};
        entry.h_name = name;
        entry.h_addrtype = AF_INET;
        entry.h_length = 4;
        return &entry;
    }
    return nullptr;
}

void os_test_set_any_address(const std::string& address) {
    std::lock_guard<std::mutex> g(machine().lock);
    inet_pton(AF_INET, address.c_str(), &machine().any_address);
}

#undef bind
int os_test_bind_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().bind_calls;
}

int os_bind(SOCKET s, const sockaddr* address, socklen_t length) {
    {
        std::lock_guard<std::mutex> g(machine().lock);
        machine().bind_calls++;
    }
    sockaddr_in at;
    if (length == sizeof at && address->sa_family == AF_INET) {
        memcpy(&at, address, sizeof at);
        if (at.sin_addr.s_addr == htonl(INADDR_ANY)) {
            std::lock_guard<std::mutex> g(machine().lock);
            at.sin_addr = machine().any_address;
        }
        int on = 1;
        setsockopt((int)s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        return ::bind((int)s, (const sockaddr*)&at, sizeof at);
    }
    return ::bind((int)s, address, length);
}

#undef listen
int os_test_listen_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().listen_calls;
}

int os_listen(SOCKET s, int backlog) {
    int result = ::listen((int)s, backlog);
    std::lock_guard<std::mutex> g(machine().lock);
    if (result == 0) machine().listen_calls++;
    return result;
}

int closesocket(SOCKET s) {
    shutdown((int)s, SHUT_RDWR);
    return close((int)s);
}
