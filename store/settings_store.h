// The settings record, its file "dSync.dat" and the start-with-Windows value.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "base/program.h"
#include "os/win32.h"
#include "store/directories.h"

#pragma pack(push, 1)
struct settings_record {
    uint32_t server_index;          // 0
    uint32_t offset_direction;      // 4: 0 Add, 1 Subtract
    uint32_t offset_minutes;        // 8: 0..99
    uint32_t reserved_12;           // 12
    uint32_t default_server_only;   // 16
    uint32_t log_level;             // 20: 0..3
    char manual_address_a[32];      // 24
    char manual_address_b[32];      // 56
    uint32_t minimise_to_tray;      // 88
    uint32_t multi_site_average;    // 92
    uint32_t on_top;                // 96
    uint32_t autosync_enabled;      // 100
    uint32_t autosync_count;        // 104: 1..99
    uint32_t autosync_unit;         // 108: 0 minutes, 1 hours, 2 days
    uint32_t reserved_112;          // 112
    uint32_t protocol;              // 116: 0 RFC-868, 1 RFC-2030, 2 Auto
    uint32_t server_source;         // 120: 0 list, 1 manual A, 2 manual B
    uint32_t time_server_enabled;   // 124
    uint32_t minutes_seconds_only;  // 128
    uint32_t start_minimised;       // 132
    uint32_t windows_start_action;  // 136: 0 nothing, 1 start, 2 start with "/q"
    uint32_t sync_timeout_seconds;  // 140: 5..99
    FILETIME date_window_end;       // 144
    FILETIME date_window_start;     // 152
    uint32_t resident;              // 160
    uint32_t reserved_164;          // 164
    uint32_t date_window_enabled;   // 168
    uint32_t program_start_action;  // 172: 0 nothing, 1 check, 2 correct
    TIME_ZONE_INFORMATION saved_time_zone;  // 176
    uint32_t time_zone_locked;      // 348
    // State of other components carried in the image; their owners hand it
    // over before a save and take it back after the load.
    uint32_t force_time_protocol;   // 352
    uint32_t sync_aborted;          // 356
    FILETIME server_clock;          // 360
    char time_zone_display_name[132];  // 368
};
#pragma pack(pop)

static_assert(sizeof(settings_record) == 500);
static_assert(offsetof(settings_record, server_index) == 0);
static_assert(offsetof(settings_record, offset_direction) == 4);
static_assert(offsetof(settings_record, offset_minutes) == 8);
static_assert(offsetof(settings_record, reserved_12) == 12);
static_assert(offsetof(settings_record, default_server_only) == 16);
static_assert(offsetof(settings_record, log_level) == 20);
static_assert(offsetof(settings_record, manual_address_a) == 24);
static_assert(offsetof(settings_record, manual_address_b) == 56);
static_assert(offsetof(settings_record, minimise_to_tray) == 88);
static_assert(offsetof(settings_record, multi_site_average) == 92);
static_assert(offsetof(settings_record, on_top) == 96);
static_assert(offsetof(settings_record, autosync_enabled) == 100);
static_assert(offsetof(settings_record, autosync_count) == 104);
static_assert(offsetof(settings_record, autosync_unit) == 108);
static_assert(offsetof(settings_record, reserved_112) == 112);
static_assert(offsetof(settings_record, protocol) == 116);
static_assert(offsetof(settings_record, server_source) == 120);
static_assert(offsetof(settings_record, time_server_enabled) == 124);
static_assert(offsetof(settings_record, minutes_seconds_only) == 128);
static_assert(offsetof(settings_record, start_minimised) == 132);
static_assert(offsetof(settings_record, windows_start_action) == 136);
static_assert(offsetof(settings_record, sync_timeout_seconds) == 140);
static_assert(offsetof(settings_record, date_window_end) == 144);
static_assert(offsetof(settings_record, date_window_start) == 152);
static_assert(offsetof(settings_record, resident) == 160);
static_assert(offsetof(settings_record, reserved_164) == 164);
static_assert(offsetof(settings_record, date_window_enabled) == 168);
static_assert(offsetof(settings_record, program_start_action) == 172);
static_assert(offsetof(settings_record, saved_time_zone) == 176);
static_assert(offsetof(settings_record, saved_time_zone.StandardName) == 180);
static_assert(offsetof(settings_record, saved_time_zone.StandardDate) == 244);
static_assert(offsetof(settings_record, saved_time_zone.StandardBias) == 260);
static_assert(offsetof(settings_record, saved_time_zone.DaylightName) == 264);
static_assert(offsetof(settings_record, saved_time_zone.DaylightDate) == 328);
static_assert(offsetof(settings_record, saved_time_zone.DaylightBias) == 344);
static_assert(offsetof(settings_record, time_zone_locked) == 348);
static_assert(offsetof(settings_record, force_time_protocol) == 352);
static_assert(offsetof(settings_record, sync_aborted) == 356);
static_assert(offsetof(settings_record, server_clock) == 360);
static_assert(offsetof(settings_record, time_zone_display_name) == 368);

// The one settings record of the process; the GUI thread writes it.
extern settings_record settings;

// Settings newer than the record, written after it under their own tag. Older
// releases read the record and stop; a file without the tag (theirs, or one
// cut short) loads these at their defaults.
#pragma pack(push, 1)
struct settings_extension {
    char tag[4];
    uint32_t slew_small_corrections;  // small unattended corrections slew rather than step
};
#pragma pack(pop)
static_assert(sizeof(settings_extension) == 8);
constexpr char settings_extension_tag[4] = {'P', 'L', 'X', '1'};
extern settings_extension more_settings;
// The settings file's length as this release writes it.
constexpr uint32_t settings_file_size = 8 + sizeof(settings_record) + sizeof(settings_extension);

// The numbered settings, by name.
enum : uint32_t { offset_add = 0, offset_subtract = 1 };
enum : uint32_t { log_level_none = 0, log_level_errors = 1, log_level_syncs = 2, log_level_all = 3 };
enum : uint32_t { unit_minutes = 0, unit_hours = 1, unit_days = 2 };
enum : uint32_t { protocol_time = 0, protocol_sntp = 1, protocol_auto = 2 };
enum : uint32_t { source_list = 0, source_manual_a = 1, source_manual_b = 2 };
enum : uint32_t { windows_start_nothing = 0, windows_start_program = 1, windows_start_quiet = 2 };
enum : uint32_t { program_start_nothing = 0, program_start_check = 1, program_start_correct = 2 };

// Whether a log level writes errors: "Log Errors" and "Log All" do.
constexpr bool log_errors(uint32_t level) { return level == log_level_errors || level == log_level_all; }
inline bool log_errors() { return log_errors(settings.log_level); }

// Every setting with a range: the one place that load-time repair, reset, the
// settings dialog and the tests take its bounds and its default from.
struct setting_range {
    uint32_t settings_record::*field;
    uint32_t low, high, fallback;
};
inline constexpr setting_range setting_ranges[] = {
    {&settings_record::offset_direction, offset_add, offset_subtract, offset_add},
    {&settings_record::offset_minutes, 0, 99, 0},
    {&settings_record::log_level, log_level_none, log_level_all, log_level_none},
    {&settings_record::autosync_count, 1, 99, 4},
    {&settings_record::autosync_unit, unit_minutes, unit_days, unit_hours},
    {&settings_record::protocol, protocol_time, protocol_auto, protocol_auto},
    {&settings_record::server_source, source_list, source_manual_b, source_list},
    {&settings_record::windows_start_action, windows_start_nothing, windows_start_quiet, windows_start_nothing},
    {&settings_record::sync_timeout_seconds, 5, 99, 15},
    {&settings_record::program_start_action, program_start_nothing, program_start_correct, program_start_nothing},
};
constexpr const setting_range& range_of(uint32_t settings_record::*field) {
    for (const setting_range& r : setting_ranges)
        if (r.field == field) return r;
    return setting_ranges[0];  // never reached: every ranged field has its entry
}
// 1 when "dSync.dat" exists but could not be read: this run then runs on
// defaults and never saves over it.
extern uint32_t settings_unreadable;
// The failures of saving that this run has told the user of, once each (save_failure_ bits).
extern uint32_t save_failures_told;
enum { save_failure_file = 1, save_failure_logon = 2, save_failure_history = 4 };
// Once a run for each kind of failure (a save_failure_ bit), on the status line and in the log.
void tell_save_failure(uint32_t failure, const char* text);
constexpr const char* settings_unreadable_text = "dSync.dat could not be read: defaults this run, nothing saved";

// The file's first five bytes, then the release digits this program writes.
constexpr char settings_magic[] = "SYNC1";
constexpr const char* settings_release = PROGRAM_RELEASE_DIGITS;
// Default manual servers (NIST, Gaithersburg); both answer SNTP and the Time Protocol.
constexpr const char* default_address_a = "129.6.15.28";
constexpr const char* default_address_b = "129.6.15.29";

constexpr const char* settings_unsaved_text = "dSync.dat could not be written: this run's changes are not kept";
constexpr const char* start_at_logon_unsaved_text = "The start at logon could not be registered";

constexpr uint32_t header_not_sync1 = 1001;
constexpr uint32_t header_unreadable = 1002;  // the file opened, but reading it failed
constexpr uint32_t header_current = 1000;

// The longest start-with-Windows value: the quoted program path and " /q".
constexpr int run_command_size = dir_text_size + 8;

void load_settings();
void reset_settings();
void reset_time_settings();
void reset_date_window();
void save_settings();
uint32_t read_settings_header(HANDLE file);
// Brings fields that a damaged or foreign file left out of range back to their defaults.
void repair_settings();
