#include "dialogs/time_zone_window.h"

#include <string.h>

#include "base/controls.h"
#include "window/modal_dialog.h"
#include "base/privileges.h"
#include "base/program.h"
#include "base/registry.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/sync_controller.h"

uint32_t time_zone_in_daylight;
char time_zone_display_name[zone_text_size];

static const char zones_key[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\";

static void ansi_of(const WCHAR* name, char (&out)[zone_text_size]) {
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, out, sizeof out, nullptr, nullptr) == 0) out[0] = 0;
    out[sizeof out - 1] = 0;
}

static void keep_display_name_in_settings() {
    memcpy(settings.time_zone_display_name, time_zone_display_name, sizeof settings.time_zone_display_name);
}

void take_time_zone_name_from_settings() {
    memcpy(time_zone_display_name, settings.time_zone_display_name, sizeof settings.time_zone_display_name);
    time_zone_display_name[zone_text_size - 1] = 0;
}

void restore_time_zone() {
    TIME_ZONE_INFORMATION now;
    GetTimeZoneInformation(&now);
    if (now.Bias == settings.saved_time_zone.Bias) return;
    // Since Vista the zone can only be set with this privilege enabled.
    enable_privilege("SeTimeZonePrivilege");
    if (!SetTimeZoneInformation(&settings.saved_time_zone)) {
        // The user asked for the zone to be guarded: a refusal is not kept quiet.
        char why[refusal_text_size];
        refusal_text(GetLastError(), why);
        if (log_errors()) write_log("Time Zone Restore Failed", why);
        return;
    }
    broadcast_change(WM_WININICHANGE);
    if (log_errors()) write_log("Time Zone Restored");
}

// The "Display" text of a zone's key; false when there is none.
static bool read_display_name(const char* zone_key, char (&display)[zone_text_size]) {
    char key_name[sizeof zones_key + zone_text_size];
    text_copy(key_name, sizeof key_name, zones_key);
    text_append(key_name, sizeof key_name, zone_key);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool found = read_registry_text(key, "Display", display);
    RegCloseKey(key);
    return found;
}

// The zone's key name, which Windows gives from Vista on.
static bool zone_key_name(char (&out)[zone_text_size]) {
    typedef DWORD(WINAPI * dynamic_zone_call)(DYNAMIC_TIME_ZONE_INFORMATION*);
    auto call = (dynamic_zone_call)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                         "GetDynamicTimeZoneInformation");
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    if (!call || call(&zone) == TIME_ZONE_ID_INVALID) return false;
    ansi_of(zone.TimeZoneKeyName, out);
    return out[0] != 0;
}

// By the key where there is one; the standard name is the key only on English
// Windows. No name is better than the last zone's.
static void find_display_name(const TIME_ZONE_INFORMATION& zone) {
    char key[zone_text_size], display[zone_text_size] = "";
    if (!zone_key_name(key) || !read_display_name(key, display)) {
        ansi_of(zone.StandardName, key);
        read_display_name(key, display);
    }
    text_copy(time_zone_display_name, sizeof time_zone_display_name, display);
    keep_display_name_in_settings();
}

void check_time_zone(HWND window) {
    if (settings.time_zone_locked == 1) restore_time_zone();
    DWORD phase = GetTimeZoneInformation(&settings.saved_time_zone);
    if (phase == TIME_ZONE_ID_INVALID) return;
    // A zone without transitions (result 0) keeps standard time all year.
    time_zone_in_daylight = phase == TIME_ZONE_ID_DAYLIGHT;
    char name[zone_text_size], title[zone_text_size] = "Pendulark " PROGRAM_VERSION_TEXT " - ";
    const TIME_ZONE_INFORMATION& zone = settings.saved_time_zone;
    ansi_of(time_zone_in_daylight ? zone.DaylightName : zone.StandardName, name);
    text_append(title, sizeof title, name);
    SetWindowTextA(window, title);
    find_display_name(zone);
}

void format_bias(HWND dialog, int control, int32_t minutes) {
    if (minutes == 0) {
        SetDlgItemTextA(dialog, control, "None");
        return;
    }
    char text[zone_text_size], number[12];
    text_copy(text, sizeof text, minutes < 0 ? "- " : "+ ");
    uint32_t magnitude = minutes < 0 ? 0u - (uint32_t)minutes : (uint32_t)minutes;
    uint32_t hours = magnitude / 60, rest = magnitude % 60;
    if (hours) {
        text_of_int((int32_t)hours, number);
        text_append(text, sizeof text, number);
        text_append(text, sizeof text, hours == 1 ? " Hr" : " Hrs");
    }
    if (rest) {
        text_of_int((int32_t)rest, number);
        text_append(text, sizeof text, " ");
        text_append(text, sizeof text, number);
        text_append(text, sizeof text, rest == 1 ? " Mn" : " Mns");
    }
    SetDlgItemTextA(dialog, control, text);
}

static int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The weekday of a date, from the calendar of the system.
static int weekday_of(SYSTEMTIME date) {
    FILETIME ft;
    SystemTimeToFileTime(&date, &ft);
    FileTimeToSystemTime(&ft, &date);
    return date.wDayOfWeek;
}

// The day-in-month rule ("the last Sunday of October") in this year, or in
// the next when its month has passed.
static SYSTEMTIME next_rule_date(const SYSTEMTIME& rule) {
    SYSTEMTIME today;
    GetLocalTime(&today);
    SYSTEMTIME date{};
    date.wYear = (WORD)(today.wYear + (rule.wMonth < today.wMonth ? 1 : 0));
    date.wMonth = rule.wMonth;
    date.wDay = (WORD)(rule.wDay == 5 ? days_in_month(date.wYear, date.wMonth) - 6 : (rule.wDay - 1) * 7 + 1);
    while (weekday_of(date) != rule.wDayOfWeek) date.wDay++;
    return date;
}

int format_transition_date(HWND dialog, int control, const SYSTEMTIME& transition) {
    // A rule no calendar can meet, from a damaged file, counts as no rule.
    bool absolute = transition.wYear != 0;
    bool sound = transition.wMonth >= 1 && transition.wMonth <= 12 &&
                 (absolute || (transition.wDayOfWeek <= 6 && transition.wDay >= 1 && transition.wDay <= 5));
    if (!sound) {
        SetDlgItemTextA(dialog, control, "None");
        return 1;
    }
    SYSTEMTIME date = absolute ? transition : next_rule_date(transition);
    date.wHour = transition.wHour;
    date.wMinute = transition.wMinute;
    date.wSecond = transition.wSecond;
    date.wMilliseconds = 0;
    char text[zone_text_size], day[zone_text_size];
    if (GetTimeFormatA(0, 0, &date, nullptr, text, sizeof text) == 0) text[0] = 0;
    if (GetDateFormatA(0, 0, &date, nullptr, day, sizeof day) == 0) day[0] = 0;
    text_append(text, sizeof text, " ");
    text_append(text, sizeof text, day);
    SetDlgItemTextA(dialog, control, text);
    return 0;
}

static void show_phase(HWND dialog, const WCHAR* name, int name_control, const SYSTEMTIME& date, int date_control,
                       int32_t bias, int bias_control) {
    char text[zone_text_size];
    ansi_of(name, text);
    SetDlgItemTextA(dialog, name_control, text);
    if (format_transition_date(dialog, date_control, date)) SetDlgItemTextA(dialog, bias_control, "None");
    else format_bias(dialog, bias_control, bias);
}

void init_time_zone_window(HWND dialog) {
    const TIME_ZONE_INFORMATION& zone = settings.saved_time_zone;
    SetDlgItemTextA(dialog, IDT_ZONE_NAME, time_zone_display_name);
    SetDlgItemTextA(dialog, IDT_ZONE_PHASE, time_zone_in_daylight ? "Daylight" : "Standard");
    format_bias(dialog, IDT_ZONE_BIAS, -zone.Bias);
    show_phase(dialog, zone.StandardName, IDT_ZONE_STANDARD_NAME, zone.StandardDate, IDT_ZONE_STANDARD_DATE,
               zone.StandardBias, IDT_ZONE_STANDARD_BIAS);
    show_phase(dialog, zone.DaylightName, IDT_ZONE_DAYLIGHT_NAME, zone.DaylightDate, IDT_ZONE_DAYLIGHT_DATE,
               zone.DaylightBias, IDT_ZONE_DAYLIGHT_BIAS);
    CheckDlgButton(dialog, IDX_ZONE_LOCK, settings.time_zone_locked ? BST_CHECKED : BST_UNCHECKED);
    add_tooltip(dialog, IDX_ZONE_LOCK, "Ensure that the Time Zone settings are not changed");
}

void on_time_zone_command(HWND dialog, int command) {
    if (command == IDOK) {
        settings.time_zone_locked = IsDlgButtonChecked(dialog, IDX_ZONE_LOCK) == BST_CHECKED ? 1 : 0;
        // Kept at once: a program that is killed later must not lose the lock.
        save_settings_with_sync_state();
        end_modal_dialog(dialog);
    } else if (command == IDB_ZONE_HELP) {
        open_help();
    }
}

void show_time_zone_window(HWND owner) {
    check_time_zone(owner);
    static const modal_dialog window = {IDD_TIME_ZONE, init_time_zone_window, on_time_zone_command, nullptr, nullptr};
    run_modal_dialog(owner, window);
}
