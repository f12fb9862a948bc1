// The simulated clock: a virtual UTC time and tick count that only tests move,
// and the locale's time and date formats.
#include <string.h>

#include <string>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

namespace {

constexpr uint64_t kTicksPerMs = 10000;

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

}  // namespace

void os_test_set_utc(uint64_t filetime) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().utc = filetime;
    state().true_utc = filetime;
    state().utc_fraction = 0;
}

uint64_t os_test_true_utc() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().true_utc;
}

void os_test_set_rate_error(double ppm) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().rate_error = ppm * 1e-6;
}

uint64_t os_test_utc() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().utc;
}

void os_test_set_utc(int year, int month, int day, int hour, int minute, int second, int ms) {
    SYSTEMTIME st{(WORD)year, (WORD)month, 0, (WORD)day, (WORD)hour, (WORD)minute, (WORD)second, (WORD)ms};
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    os_test_set_utc(ticks_of(ft));
}

void os_test_set_tick(DWORD tick) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().tick = tick;
}

void os_test_advance_ms(DWORD ms) {
    std::lock_guard<std::mutex> g(machine().lock);
    State& m = state();
    m.tick += ms;
    m.true_utc += (uint64_t)ms * kTicksPerMs;
    // Whole units, the rest carried: a clock kept at its rate moves exactly ms.
    double factor = (1 + m.rate_error) * (m.adjustment_disabled ? 1 : m.adjustment_factor);
    double moved = (double)ms * kTicksPerMs * factor + m.utc_fraction;
    double whole = moved < 0 ? 0 : (double)(uint64_t)moved;
    m.utc += (uint64_t)whole;
    m.utc_fraction = moved - whole;
}

// Windows' own increment: 15.625 ms in 100 ns units. The Precise calls count
// in finer units of their own.
constexpr uint64_t kIncrement = 156250;
constexpr uint64_t kPreciseIncrement = 1000000000;

static BOOL get_adjustment(uint64_t increment, uint64_t* adjustment, uint64_t* step, BOOL* disabled) {
    std::lock_guard<std::mutex> g(machine().lock);
    const State& m = state();
    *step = increment;
    *adjustment = m.adjustment_disabled ? increment : (uint64_t)(increment * m.adjustment_factor + 0.5);
    *disabled = m.adjustment_disabled;
    return TRUE;
}

static BOOL set_adjustment(uint64_t increment, uint64_t adjustment, BOOL disabled) {
    std::lock_guard<std::mutex> g(machine().lock);
    State& m = state();
    if (!m.allow_set_time) {
        last_error = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    m.adjustment_calls++;
    m.adjustment_disabled = disabled != 0;
    if (!disabled) m.adjustment_factor = (double)adjustment / increment;
    return TRUE;
}

BOOL GetSystemTimeAdjustment(DWORD* adjustment, DWORD* increment, BOOL* disabled) {
    uint64_t a, i;
    BOOL result = get_adjustment(kIncrement, &a, &i, disabled);
    *adjustment = (DWORD)a;
    *increment = (DWORD)i;
    return result;
}

BOOL SetSystemTimeAdjustment(DWORD adjustment, BOOL disabled) {
    return set_adjustment(kIncrement, adjustment, disabled);
}

BOOL WINAPI sim_get_adjustment_precise(uint64_t* adjustment, uint64_t* increment, BOOL* disabled) {
    return get_adjustment(kPreciseIncrement, adjustment, increment, disabled);
}

BOOL WINAPI sim_set_adjustment_precise(uint64_t adjustment, BOOL disabled) {
    return set_adjustment(kPreciseIncrement, adjustment, disabled);
}

bool os_test_precise_adjustment() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().precise_adjustment;
}

double os_test_adjustment_factor() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().adjustment_disabled ? 1 : state().adjustment_factor;
}

bool os_test_adjustment_disabled() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().adjustment_disabled;
}

void os_test_set_adjustment(double factor, bool disabled) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().adjustment_factor = factor;
    state().adjustment_disabled = disabled;
}

void os_test_set_precise_adjustment(bool available) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().precise_adjustment = available;
}

int os_test_adjustment_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().adjustment_calls;
}

void os_test_allow_set_time(bool allow) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().allow_set_time = allow;
}

int os_test_set_time_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().set_time_calls;
}

SYSTEMTIME os_test_last_set_time() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().last_set_time;
}

ULONGLONG GetTickCount64() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().tick;
}

DWORD GetTickCount() {
    std::lock_guard<std::mutex> g(machine().lock);
    return (DWORD)state().tick;
}

void GetSystemTimeAsFileTime(FILETIME* now) {
    *now = filetime_of_ticks(os_test_utc());
}

void GetSystemTime(SYSTEMTIME* now) {
    FILETIME ft{};
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
    FILETIME ft{};
    if (!SystemTimeToFileTime(time, &ft)) return FALSE;
    std::lock_guard<std::mutex> g(machine().lock);
    State& m = state();
    m.set_time_calls++;
    m.last_set_time = *time;
    if (!m.allow_set_time) {
        last_error = ERROR_PRIVILEGE_NOT_HELD;
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

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    LONG bias;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        bias = state().bias;
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
        long_date = state().long_date_format.empty() ? "dddd, MMMM d, yyyy" : state().long_date_format;
    }
    const char* picture = format ? format : flags & DATE_LONGDATE ? long_date.c_str() : "M/d/yyyy";
    return put_formatted(format_picture(picture, date ? *date : now), out, size);
}

void os_test_set_long_date_format(const std::string& picture) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().long_date_format = picture;
}
