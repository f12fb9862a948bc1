#include "dialogs/settings_dialog.h"

#include "base/controls.h"
#include "base/filetime.h"
#include "window/modal_dialog.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/sync_controller.h"

int (*confirm_settings_reset)(HWND owner);

// Controls send notifications while they are filled; those are not the user's.
static int initialising;

struct list_items {
    int control;
    const char* items[4];
};
static const list_items fixed_lists[] = {
    {IDL_SETTINGS_WINDOWS_START, {"Do Nothing", "Auto Start", "Auto Start, Sync, then Exit"}},
    {IDL_SETTINGS_PROGRAM_START, {"Do Nothing", "Check Time Server", "Correct Time"}},
    {IDL_SETTINGS_AUTOSYNC_UNIT, {"Minutes", "Hours", "Days"}},
    {IDL_SETTINGS_PROTOCOL, {"RFC-868", "RFC-2030", "Auto"}},
};
static const list_items offset_list = {IDL_SETTINGS_OFFSET_DIRECTION, {"Add", "Subtract"}};
static const list_items log_list = {IDL_SETTINGS_LOG, {"No Log", "Log Errors", "Log Syncs", "Log All"}};

struct tooltip {
    int control;
    const char* text;
};
static const tooltip tooltips[] = {
    {IDB_SETTINGS_HELP, "Shows the ReadMe"},
    {IDB_SETTINGS_RESET, "Restore default settings"},
    {IDL_SETTINGS_OFFSET_DIRECTION, "Selects if Pendulark will add or subtract from Server time"},
    {IDE_SETTINGS_OFFSET, "Minutes different from server that the computer will be set to, 0 for no change"},
    {IDX_SETTINGS_DEFAULT_ONLY, "Don't automatically switch servers on failure"},
    {IDL_SETTINGS_LOG, "Pendulark Logging options. This enables you to monitor Pendularks performance."},
    {IDE_SETTINGS_ADDRESS_A, "Manually entered IP address of a server"},
    {IDE_SETTINGS_ADDRESS_B, "Manually entered IP address of a server"},
    {IDB_SETTINGS_AUTOSYNC_RESET, "Make the AutoSync time an offset of now"},
    {IDE_SETTINGS_DATE_START, "Lowest received time that Pendulark will accept as valid"},
    {IDB_SETTINGS_VIEW_LOG, "Opens up the Pendulark log text file"},
    {IDL_SETTINGS_PROTOCOL,
     "What 'language' Pendulark talks to the time server with. RFC-2030 is the default and the better protocol."},
    {IDX_SETTINGS_AVERAGE, "Check multiple sites to cancel out errors"},
    {IDX_SETTINGS_ON_TOP, "Make Pendulark stay above other windows"},
    {IDX_SETTINGS_AUTOSYNC, "Makes Pendulark periodically set the time"},
    {IDL_SETTINGS_AUTOSYNC_UNIT, "Unit of time to calculate the AutoSync time"},
    {IDE_SETTINGS_AUTOSYNC_COUNT, "How long Pendulark will wait between syncs"},
    {IDX_SETTINGS_TRAY, "Minimise to tray instead of the taskbar"},
    {IDL_SETTINGS_WINDOWS_START, "What Pendulark will do, if anything, when Windows boots"},
    {IDX_SETTINGS_MINIMISE, "Start Minimised"},
    {IDE_SETTINGS_DATE_END, "Highest received time that Pendulark will accept as valid"},
    {IDX_SETTINGS_RESIDENT, "Keep Pendulark running until closed from Tray menu (Only valid when Tray enabled)"},
    {IDB_SETTINGS_REFRESH, "Reload the Server List file"},
    {IDX_SETTINGS_DATES, "If enabled Pendulark will only accept server replies in the set time range"},
    {IDB_SETTINGS_DATES_RESET, "Reset the Date ranges to one month before now and one year after today"},
    {IDL_SETTINGS_PROGRAM_START, "What Pendulark will do, if anything, on Pendulark Startup"},
    {IDL_SETTINGS_SERVERS, "Default server select"},
    {IDR_SETTINGS_LIST, "Uses the internal list of servers for syncing. This is the default setting"},
    {IDR_SETTINGS_MANUAL_A, "Use a manually selected IP address"},
    {IDR_SETTINGS_MANUAL_B, "Use a manually selected IP address"},
    {IDX_SETTINGS_SERVER, "Activate Pendulark's internal time server"},
    {IDX_SETTINGS_MINOR, "Only change minutes and seconds"},
    {IDX_SETTINGS_SLEW, "Take small differences out gradually, and correct the clock's rate between syncs"},
};

struct check_box {
    int control;
    uint32_t settings_record::*field;
};
static const check_box check_boxes[] = {
    {IDX_SETTINGS_DEFAULT_ONLY, &settings_record::default_server_only},
    {IDX_SETTINGS_AVERAGE, &settings_record::multi_site_average},
    {IDX_SETTINGS_ON_TOP, &settings_record::on_top},
    {IDX_SETTINGS_AUTOSYNC, &settings_record::autosync_enabled},
    {IDX_SETTINGS_TRAY, &settings_record::minimise_to_tray},
    {IDX_SETTINGS_SERVER, &settings_record::time_server_enabled},
    {IDX_SETTINGS_MINOR, &settings_record::minutes_seconds_only},
    {IDX_SETTINGS_DATES, &settings_record::date_window_enabled},
    {IDX_SETTINGS_MINIMISE, &settings_record::start_minimised},
    {IDX_SETTINGS_RESIDENT, &settings_record::resident},
};

static void fill_list(HWND dialog, const list_items& list) {
    SendDlgItemMessageA(dialog, list.control, CB_RESETCONTENT, 0, 0);
    for (const char* item : list.items)
        if (item) SendDlgItemMessageA(dialog, list.control, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)item);
}

static void add_server_choice(const char* entry, void* dialog) {
    SendDlgItemMessageA((HWND)dialog, IDL_SETTINGS_SERVERS, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)entry);
}

// The list read anew, with entry server_index chosen.
static void refresh_server_choices(HWND dialog) {
    SendDlgItemMessageA(dialog, IDL_SETTINGS_SERVERS, CB_RESETCONTENT, 0, 0);
    list_server_entries(add_server_choice, dialog);
    SendDlgItemMessageA(dialog, IDL_SETTINGS_SERVERS, CB_SETCURSEL, settings.server_index, 0);
}

static void select(HWND dialog, int control, uint32_t position) {
    SendDlgItemMessageA(dialog, control, CB_SETCURSEL, position, 0);
}

// A list without a selection leaves the field as it was.
static void take_selection(HWND dialog, int control, uint32_t& field) {
    LRESULT position = SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0);
    if (position != CB_ERR) field = (uint32_t)position;
}

static void show_number(HWND dialog, int control, uint32_t value) {
    char text[12];
    text_of_int((int32_t)value, text);
    SetDlgItemTextA(dialog, control, text);
}

// A box that holds no number reads as 0.
static int64_t read_number(HWND dialog, int control) {
    char text[32];
    read_control_text(dialog, control, text);
    const char* p = text;
    bool negative = *p == '-';
    if (negative) p++;
    if (!*p) return 0;
    int64_t value = 0;
    for (; *p; p++) {
        if (*p < '0' || *p > '9') return 0;
        if (value < 1000000000) value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

static uint32_t held(int64_t value, uint32_t low, uint32_t high) {
    return value < (int64_t)low ? low : value > (int64_t)high ? high : (uint32_t)value;
}

struct number_box {
    int box, updown;
    uint32_t settings_record::*field;
};
static const number_box number_boxes[] = {
    {IDE_SETTINGS_OFFSET, IDU_SETTINGS_OFFSET, &settings_record::offset_minutes},
    {IDE_SETTINGS_AUTOSYNC_COUNT, IDU_SETTINGS_AUTOSYNC_COUNT, &settings_record::autosync_count},
    {IDE_SETTINGS_TIMEOUT, IDU_SETTINGS_TIMEOUT, &settings_record::sync_timeout_seconds},
};

void init_settings_dialog(HWND dialog) {
    for (const list_items& list : fixed_lists) fill_list(dialog, list);
    for (const number_box& number : number_boxes) {
        const setting_range& range = range_of(number.field);
        SendDlgItemMessageA(dialog, number.updown, UDM_SETRANGE32, range.low, range.high);
    }
    for (const tooltip& tip : tooltips) add_tooltip(dialog, tip.control, tip.text);
    show_settings(dialog);
}

void show_date_window(HWND dialog) {
    SYSTEMTIME start, end;
    FileTimeToSystemTime(&settings.date_window_start, &start);
    FileTimeToSystemTime(&settings.date_window_end, &end);
    SendDlgItemMessageA(dialog, IDE_SETTINGS_DATE_START, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&start);
    SendDlgItemMessageA(dialog, IDE_SETTINGS_DATE_END, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&end);
}

void show_settings(HWND dialog) {
    SetDlgItemTextA(dialog, IDE_SETTINGS_ADDRESS_A, settings.manual_address_a);
    SetDlgItemTextA(dialog, IDE_SETTINGS_ADDRESS_B, settings.manual_address_b);
    fill_list(dialog, offset_list);
    select(dialog, IDL_SETTINGS_OFFSET_DIRECTION, settings.offset_direction);
    fill_list(dialog, log_list);
    select(dialog, IDL_SETTINGS_LOG, settings.log_level);
    refresh_server_choices(dialog);
    CheckRadioButton(dialog, IDR_SETTINGS_LIST, IDR_SETTINGS_MANUAL_B, IDR_SETTINGS_LIST + (int)settings.server_source);
    for (const number_box& number : number_boxes) show_number(dialog, number.box, settings.*number.field);
    for (const check_box& box : check_boxes)
        CheckDlgButton(dialog, box.control, settings.*box.field ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDX_SETTINGS_SLEW, more_settings.slew_small_corrections ? BST_CHECKED : BST_UNCHECKED);
    select(dialog, IDL_SETTINGS_WINDOWS_START, settings.windows_start_action);
    select(dialog, IDL_SETTINGS_PROGRAM_START, settings.program_start_action);
    select(dialog, IDL_SETTINGS_AUTOSYNC_UNIT, settings.autosync_unit);
    select(dialog, IDL_SETTINGS_PROTOCOL, settings.protocol);
    show_date_window(dialog);
    update_settings_controls(dialog);
}

static uint32_t checked(HWND dialog, int control) { return IsDlgButtonChecked(dialog, control) == BST_CHECKED; }

static void apply_autosync(HWND dialog) {
    settings.autosync_enabled = checked(dialog, IDX_SETTINGS_AUTOSYNC);
    if (!settings.autosync_enabled) disarm_autosync();
    else if (!autosync_armed) arm_autosync();
}

static void apply_time_server(HWND dialog) {
    uint32_t wanted = checked(dialog, IDX_SETTINGS_SERVER);
    if (wanted && !settings.time_server_enabled) {
        settings.time_server_enabled = 1;
        start_time_server();
    } else if (!wanted && settings.time_server_enabled) {
        stop_time_server();
        settings.time_server_enabled = 0;
    }
}

static void read_date(HWND dialog, int control, FILETIME& field) {
    SYSTEMTIME date;
    if (SendDlgItemMessageA(dialog, control, DTM_GETSYSTEMTIME, 0, (LPARAM)&date) == GDT_VALID)
        SystemTimeToFileTime(&date, &field);
}

static void apply_server_source(HWND dialog) {
    settings.server_source = source_manual_b;
    for (uint32_t source = source_list; source < source_manual_b; source++) {
        if (!checked(dialog, IDR_SETTINGS_LIST + (int)source)) continue;
        settings.server_source = source;
        break;
    }
}

// A box that holds a negative number reads as the largest unsigned one: the top of its range.
static void apply_number(HWND dialog, const number_box& number) {
    const setting_range& range = range_of(number.field);
    int64_t value = read_number(dialog, number.box);
    settings.*number.field = value < 0 ? range.high : held(value, range.low, range.high);
}

void apply_settings_dialog(HWND dialog) {
    apply_server_source(dialog);
    read_control_text(dialog, IDE_SETTINGS_ADDRESS_A, settings.manual_address_a);
    read_control_text(dialog, IDE_SETTINGS_ADDRESS_B, settings.manual_address_b);
    take_selection(dialog, IDL_SETTINGS_OFFSET_DIRECTION, settings.offset_direction);
    take_selection(dialog, IDL_SETTINGS_LOG, settings.log_level);
    take_selection(dialog, IDL_SETTINGS_WINDOWS_START, settings.windows_start_action);
    take_selection(dialog, IDL_SETTINGS_PROGRAM_START, settings.program_start_action);
    for (const number_box& number : number_boxes) apply_number(dialog, number);
    settings.date_window_enabled = checked(dialog, IDX_SETTINGS_DATES);
    settings.default_server_only = checked(dialog, IDX_SETTINGS_DEFAULT_ONLY);
    settings.multi_site_average = checked(dialog, IDX_SETTINGS_AVERAGE);
    settings.on_top = checked(dialog, IDX_SETTINGS_ON_TOP);
    apply_autosync(dialog);
    settings.minimise_to_tray = checked(dialog, IDX_SETTINGS_TRAY);
    apply_time_server(dialog);
    settings.minutes_seconds_only = checked(dialog, IDX_SETTINGS_MINOR);
    settings.resident = checked(dialog, IDX_SETTINGS_RESIDENT);
    settings.start_minimised = checked(dialog, IDX_SETTINGS_MINIMISE);
    more_settings.slew_small_corrections = checked(dialog, IDX_SETTINGS_SLEW);
    take_selection(dialog, IDL_SETTINGS_PROTOCOL, settings.protocol);
    take_selection(dialog, IDL_SETTINGS_AUTOSYNC_UNIT, settings.autosync_unit);
    take_selection(dialog, IDL_SETTINGS_SERVERS, settings.server_index);
    read_date(dialog, IDE_SETTINGS_DATE_START, settings.date_window_start);
    read_date(dialog, IDE_SETTINGS_DATE_END, settings.date_window_end);
}

void update_settings_controls(HWND dialog) {
    for (int control : {IDB_SETTINGS_AUTOSYNC_RESET, IDL_SETTINGS_AUTOSYNC_UNIT, IDE_SETTINGS_AUTOSYNC_COUNT})
        set_control_enabled(dialog, control, settings.autosync_enabled == 1);
    bool list = settings.server_source == source_list;
    for (int control : {IDX_SETTINGS_DEFAULT_ONLY, IDB_SETTINGS_EDIT_LIST, IDB_SETTINGS_REFRESH, IDL_SETTINGS_SERVERS})
        set_control_enabled(dialog, control, list);
    set_control_enabled(dialog, IDE_SETTINGS_ADDRESS_A, settings.server_source == source_manual_a);
    set_control_enabled(dialog, IDE_SETTINGS_ADDRESS_B, settings.server_source == source_manual_b);
    set_control_enabled(dialog, IDX_SETTINGS_RESIDENT, settings.minimise_to_tray == 1);
    for (int control : {IDE_SETTINGS_DATE_START, IDE_SETTINGS_DATE_END, IDB_SETTINGS_DATES_RESET})
        set_control_enabled(dialog, control, settings.date_window_enabled == 1);
}

// A file that is not there yet opens nothing.
static void open_data_file(const char* name) {
    char path[dir_text_size];
    resolve_data_file(path, name);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    CloseHandle(file);
    ShellExecuteA(nullptr, nullptr, path, nullptr, nullptr, SW_SHOWNORMAL);
}

// The question belongs to this dialog, so that nothing beneath it can be used meanwhile.
static void reset_all(HWND dialog) {
    if (!confirm_settings_reset || confirm_settings_reset(dialog) != 1) return;
    // The record and the running program must agree: a reset server and
    // AutoSync stop, and the window leaves the top.
    if (settings.time_server_enabled) stop_time_server();
    reset_settings();
    disarm_autosync();
    set_topmost(main_window, settings.on_top);
    show_settings(dialog);
}

static void apply_and_save(HWND dialog) {
    uint32_t count = settings.autosync_count, unit = settings.autosync_unit;
    apply_settings_dialog(dialog);
    // A new period counts from now; an unchanged one keeps its place.
    if (settings.autosync_enabled && (settings.autosync_count != count || settings.autosync_unit != unit))
        arm_autosync();
    set_time_server_log_level(settings.log_level);
    set_topmost(main_window, settings.on_top);
    // Before the save: a save that fails holds its own words on the line.
    status_hold_ticks = hold_then_ready;
    save_settings_with_sync_state();
}

// The controls that act at once take their own field only: Cancel still
// drops every other edit.
static void apply_at_once(HWND dialog, int control) {
    switch (control) {
        case IDX_SETTINGS_AUTOSYNC: apply_autosync(dialog); break;
        case IDX_SETTINGS_TRAY: settings.minimise_to_tray = checked(dialog, IDX_SETTINGS_TRAY); break;
        case IDX_SETTINGS_DATES: settings.date_window_enabled = checked(dialog, IDX_SETTINGS_DATES); break;
        case IDX_SETTINGS_SERVER: apply_time_server(dialog); break;
        default: apply_server_source(dialog); break;
    }
    update_settings_controls(dialog);
}

void on_settings_command(HWND dialog, int command) {
    if (initialising) return;
    switch (command) {
        case IDOK:
            apply_and_save(dialog);
            end_modal_dialog(dialog);
            break;
        case IDCANCEL: end_modal_dialog(dialog); break;
        case IDB_SETTINGS_HELP: open_help(); break;
        case IDB_SETTINGS_RESET: reset_all(dialog); break;
        case IDB_SETTINGS_AUTOSYNC_RESET: arm_autosync(); break;
        case IDB_SETTINGS_VIEW_LOG: open_data_file(log_file_name); break;
        case IDB_SETTINGS_EDIT_LIST:
            ensure_server_list();
            open_data_file(SERVER_LIST_NAME);
            break;
        case IDB_SETTINGS_REFRESH: refresh_server_choices(dialog); break;
        case IDB_SETTINGS_DATES_RESET:
            reset_date_window();
            show_date_window(dialog);
            break;
        case IDX_SETTINGS_AUTOSYNC: case IDX_SETTINGS_TRAY: case IDX_SETTINGS_DATES: case IDR_SETTINGS_LIST:
        case IDR_SETTINGS_MANUAL_A: case IDR_SETTINGS_MANUAL_B: case IDX_SETTINGS_SERVER:
            apply_at_once(dialog, command);
            break;
    }
}

uint32_t settings_window_open;

// Controls that a command changes while the dialog fills them in do not answer.
static void start_settings_dialog(HWND dialog) {
    initialising = 1;
    init_settings_dialog(dialog);
    initialising = 0;
}

const modal_dialog settings_dialog = {IDD_SETTINGS, start_settings_dialog, on_settings_command, nullptr, nullptr};

void show_settings_window(HWND owner) {
    settings_window_open = 1;
    run_modal_dialog(owner, settings_dialog);
    settings_window_open = 0;
}
