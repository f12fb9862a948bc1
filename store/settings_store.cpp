#include "store/settings_store.h"

#include <string.h>

#include "base/files.h"
#include "base/program.h"
#include "window/status_line.h"
#include "base/text.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/start_at_logon.h"
#include "store/sync_log.h"

settings_record settings;
settings_extension more_settings;
uint32_t settings_unreadable;
uint32_t save_failures_told;

static void settings_path(const char* name, char* out) { path_in(data_dir, name, out); }

uint32_t read_settings_header(HANDLE file) {
    char magic[5], digits[3];
    DWORD got_magic = 0, got_digits = 0;
    if (!ReadFile(file, magic, 5, &got_magic, nullptr) || !ReadFile(file, digits, 3, &got_digits, nullptr))
        return header_unreadable;
    if (got_magic != 5 || got_digits != 3 || memcmp(magic, settings_magic, 5) != 0) return header_not_sync1;
    if (memcmp(digits, settings_release, 3) == 0) return header_current;
    return int_of_text(digits, 3);
}

void reset_date_window() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    SystemTimeToFileTime(&now, &settings.date_window_start);
    settings.date_window_start.dwHighDateTime -= 6119;  // about a month before now
    SystemTimeToFileTime(&now, &settings.date_window_end);
    settings.date_window_end.dwHighDateTime += 73426;  // about a year after today
}

void reset_time_settings() {
    reset_date_window();
    GetTimeZoneInformation(&settings.saved_time_zone);
    settings.time_zone_locked = 0;
}

static void reset_more_settings() {
    memcpy(more_settings.tag, settings_extension_tag, sizeof more_settings.tag);
    more_settings.slew_small_corrections = 1;
}

static void read_more_settings(HANDLE file) {
    settings_extension read{};
    DWORD got = 0;
    if (!ReadFile(file, &read, sizeof read, &got, nullptr) || got != sizeof read ||
        memcmp(read.tag, settings_extension_tag, sizeof read.tag) != 0 || read.slew_small_corrections > 1)
        return;
    more_settings = read;
}

void reset_settings() {
    reset_more_settings();
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, default_address_a);
    text_copy(settings.manual_address_b, sizeof settings.manual_address_b, default_address_b);
    for (const setting_range& r : setting_ranges) settings.*r.field = r.fallback;
    settings.server_index = 0;
    settings.default_server_only = 0;
    settings.minimise_to_tray = 1;
    settings.multi_site_average = 0;
    settings.on_top = 0;
    settings.autosync_enabled = 0;
    settings.time_server_enabled = 0;
    settings.resident = 0;
    settings.date_window_enabled = 0;
    settings.minutes_seconds_only = 0;
    settings.start_minimised = 0;
    settings.reserved_112 = 1;
    reset_time_settings();
}

void repair_settings() {
    // server_index + 1 names the list entry to fetch; it must not wrap to 0.
    if (settings.server_index == 0xFFFFFFFFu) settings.server_index = 0;
    for (const setting_range& r : setting_ranges) {
        uint32_t& field = settings.*r.field;
        if (field < r.low || field > r.high) field = r.fallback;
    }
    settings.manual_address_a[sizeof settings.manual_address_a - 1] = 0;
    settings.manual_address_b[sizeof settings.manual_address_b - 1] = 0;
}

static void read_settings_file() {
    char path[dir_text_size];
    settings_path("dSync.dat", path);
    // A backup or a virus scan may be reading it too.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        settings_unreadable = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        reset_settings();
        return;
    }
    uint32_t release = read_settings_header(file);
    if (release == header_not_sync1 || release < 113) {
        reset_settings();
    } else if (release != header_unreadable) {
        // A short file fills the front of the record; the rest keeps what it held.
        DWORD got = 0;
        if (!ReadFile(file, &settings, sizeof settings, &got, nullptr)) release = header_unreadable;
        else if (release == 113) reset_time_settings();
        reset_more_settings();
        if (got == sizeof settings) read_more_settings(file);
        repair_settings();
    }
    // A locked range or a failing disk is the user's file all the same: never saved over.
    if (release == header_unreadable) {
        settings_unreadable = 1;
        reset_settings();
    }
    CloseHandle(file);
}

void load_settings() {
    read_settings_file();
    ensure_server_list();
}

// The new file is written whole beside the old one and then put in its place,
// so a failed or interrupted save never leaves a short "dSync.dat".
static bool write_settings_file() {
    char path[dir_text_size], temp[dir_text_size];
    settings_path("dSync.dat", path);
    settings_path("dSync.new", temp);
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char header[8];
    memcpy(header, settings_magic, 5);
    memcpy(header + 5, settings_release, 3);
    bool ok = write_all(file, header, sizeof header) && write_all(file, &settings, sizeof settings) &&
              write_all(file, &more_settings, sizeof more_settings);
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    ok = ok && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(temp);
    return ok;
}

void tell_save_failure(uint32_t failure, const char* text) {
    if (save_failures_told & failure) return;
    save_failures_told |= failure;
    show_status(text);
    status_hold_ticks = hold_result;
    write_log(text);
}

void save_settings() {
    // Defaults saved over a file we could not read would lose the user's settings.
    if (settings_unreadable) return;
    if (!write_settings_file()) tell_save_failure(save_failure_file, settings_unsaved_text);
    if (!update_start_at_logon()) tell_save_failure(save_failure_logon, start_at_logon_unsaved_text);
}
