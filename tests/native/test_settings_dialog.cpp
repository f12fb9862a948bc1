// The Options dialog's operations on the simulated controls.
#include "loopback_server.h"
#include "machine.h"
#include "window/status_line.h"
#include "base/text.h"
#include "dialogs/settings_dialog.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "shell/main_window.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "base/controls.h"
#include "sync/autosync.h"
#include "tests/wait_until.h"

namespace {

HWND const window = (HWND)0x4D41;
HWND const dialog = (HWND)0x5E7;
int confirmations;
int confirm_answer;
HWND confirmation_owner;

int answer_confirmation(HWND owner) {
    confirmations++;
    confirmation_owner = owner;
    return confirm_answer;
}

class SettingsDialog : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        load_settings();
        main_window = window;
        confirmations = 0;
        confirm_settings_reset = answer_confirmation;
        os_test_set_any_address(own_loopback_address(9));
        init_settings_dialog(dialog);
    }
    void TearDown() override {
        stop_time_server();
        Machine::TearDown();
    }
    void type(int control, const char* text) { SetDlgItemTextA(dialog, control, text); }
    void click(int control) {
        CheckDlgButton(dialog, control, IsDlgButtonChecked(dialog, control) ? BST_UNCHECKED : BST_CHECKED);
        on_settings_command(dialog, control);
    }
    void choose(int radio) {
        CheckRadioButton(dialog, IDR_SETTINGS_LIST, IDR_SETTINGS_MANUAL_B, radio);
        on_settings_command(dialog, radio);
    }
    bool enabled(int control) { return os_test_control_enabled(dialog, control); }
};

TEST_F(SettingsDialog, OpensWithItsListsRangesTooltipsAndTheRecord) {
    EXPECT_EQ(os_test_combo_items(dialog, IDL_SETTINGS_PROTOCOL), (std::vector<std::string>{"RFC-868", "RFC-2030", "Auto"}));
    EXPECT_EQ(os_test_combo_items(dialog, IDL_SETTINGS_WINDOWS_START),
              (std::vector<std::string>{"Do Nothing", "Auto Start", "Auto Start, Sync, then Exit"}));
    EXPECT_EQ(os_test_combo_selection(dialog, IDL_SETTINGS_PROTOCOL), 2);
    EXPECT_EQ(os_test_combo_items(dialog, IDL_SETTINGS_SERVERS).size(), 5u);
    for (auto [updown, field] : {std::pair{IDU_SETTINGS_OFFSET, &settings_record::offset_minutes},
                                 {IDU_SETTINGS_AUTOSYNC_COUNT, &settings_record::autosync_count},
                                 {IDU_SETTINGS_TIMEOUT, &settings_record::sync_timeout_seconds}})
        EXPECT_EQ(os_test_updown_range(dialog, updown), std::make_pair((int)range_of(field).low, (int)range_of(field).high));
    EXPECT_EQ(os_test_tooltip(dialog, IDX_SETTINGS_SERVER), "Activate Pendulark's internal time server");
    EXPECT_EQ(os_test_control_text(dialog, IDE_SETTINGS_TIMEOUT),
              std::to_string(range_of(&settings_record::sync_timeout_seconds).fallback));
    EXPECT_EQ(os_test_control_text(dialog, IDE_SETTINGS_ADDRESS_A), default_address_a);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDR_SETTINGS_LIST), BST_CHECKED);
    // "Resident" follows "Tray"; the dates and AutoSync are greyed while off.
    EXPECT_TRUE(enabled(IDX_SETTINGS_RESIDENT));
    EXPECT_FALSE(enabled(IDE_SETTINGS_DATE_START));
    EXPECT_FALSE(enabled(IDE_SETTINGS_AUTOSYNC_COUNT));
    EXPECT_FALSE(enabled(IDE_SETTINGS_ADDRESS_A));
}

TEST_F(SettingsDialog, ShownAndAppliedBackEveryRecordIsUnchanged) {
    // Each field away from its default in at least one record, and both ends
    // of every range and list.
    for (uint32_t variant = 0; variant < 3; variant++) {
        reset_settings();
        settings.server_index = variant + 2;
        settings.server_source = variant;
        settings.protocol = variant;
        settings.log_level = variant + 1;
        settings.offset_direction = variant % 2;
        settings.offset_minutes = variant == 2 ? 99 : 42 * variant;
        settings.autosync_count = variant == 0 ? 1 : 99 - variant;
        settings.autosync_unit = 2 - variant;
        settings.sync_timeout_seconds = variant == 2 ? 99 : 5 + 28 * variant;
        settings.windows_start_action = variant;
        settings.program_start_action = 2 - variant;
        settings.minutes_seconds_only = variant == 1;
        settings.multi_site_average = variant == 2;
        settings.resident = variant != 0;
        settings.date_window_enabled = variant != 1;
        settings.on_top = variant == 0;
        more_settings.slew_small_corrections = variant != 2;
        text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "10.0.0.1");
        text_copy(settings.manual_address_b, sizeof settings.manual_address_b, variant ? "192.168.200.254" : "10.20.30.40");
        // The pickers hold whole milliseconds, as a SYSTEMTIME does.
        SYSTEMTIME start{(WORD)(2020 + variant), 2, 0, (WORD)(28 - variant), 23, 59, 58, (WORD)(7 * variant)},
            end{2030, 12, 0, 31, 0, 0, 1, 12};
        SystemTimeToFileTime(&start, &settings.date_window_start);
        SystemTimeToFileTime(&end, &settings.date_window_end);
        settings_record before = settings;
        settings_extension more_before = more_settings;
        show_settings(dialog);
        reset_settings();  // so that a field the dialog leaves out shows
        apply_settings_dialog(dialog);
        for (size_t i = 0; i < sizeof settings; i++)
            ASSERT_EQ(((const unsigned char*)&settings)[i], ((const unsigned char*)&before)[i])
                << "variant " << variant << ", byte " << i;
        EXPECT_EQ(more_settings.slew_small_corrections, more_before.slew_small_corrections) << variant;
    }
}

TEST_F(SettingsDialog, NumbersAreHeldToTheirRanges) {
    const setting_range &offset = range_of(&settings_record::offset_minutes),
                        &count = range_of(&settings_record::autosync_count),
                        &timeout = range_of(&settings_record::sync_timeout_seconds);
    struct { const char* offset; const char* count; const char* timeout; uint32_t o, c, t; } cases[] = {
        {"150", "0", "2", offset.high, count.low, timeout.low},
        {"-5", "500", "500", offset.high, count.high, timeout.high},
        {"abc", "", "12x", offset.low, count.low, timeout.low},
        {"7", "3", "60", 7, 3, 60},
    };
    for (auto& c : cases) {
        type(IDE_SETTINGS_OFFSET, c.offset);
        type(IDE_SETTINGS_AUTOSYNC_COUNT, c.count);
        type(IDE_SETTINGS_TIMEOUT, c.timeout);
        apply_settings_dialog(dialog);
        EXPECT_EQ(settings.offset_minutes, c.o) << c.offset;
        EXPECT_EQ(settings.autosync_count, c.c) << c.count;
        EXPECT_EQ(settings.sync_timeout_seconds, c.t) << c.timeout;
    }
}

TEST_F(SettingsDialog, AListWithoutASelectionLeavesItsField) {
    settings.log_level = 3;
    SendDlgItemMessageA(dialog, IDL_SETTINGS_LOG, CB_SETCURSEL, (WPARAM)-1, 0);
    SendDlgItemMessageA(dialog, IDL_SETTINGS_SERVERS, CB_RESETCONTENT, 0, 0);
    settings.server_index = 2;
    apply_settings_dialog(dialog);
    EXPECT_EQ(settings.log_level, 3u);
    EXPECT_EQ(settings.server_index, 2u);
}

TEST_F(SettingsDialog, RadioButtonsApplyAtOnceAndEnableTheirAddresses) {
    choose(IDR_SETTINGS_MANUAL_A);
    EXPECT_EQ(settings.server_source, source_manual_a);
    EXPECT_TRUE(enabled(IDE_SETTINGS_ADDRESS_A));
    EXPECT_FALSE(enabled(IDE_SETTINGS_ADDRESS_B));
    EXPECT_FALSE(enabled(IDL_SETTINGS_SERVERS));
    EXPECT_FALSE(enabled(IDX_SETTINGS_DEFAULT_ONLY));
    choose(IDR_SETTINGS_MANUAL_B);
    EXPECT_TRUE(enabled(IDE_SETTINGS_ADDRESS_B));
    EXPECT_FALSE(enabled(IDE_SETTINGS_ADDRESS_A));
    // Opened on manual address A, the other address is greyed from the start.
    settings.server_source = source_manual_a;
    show_settings(dialog);
    EXPECT_FALSE(enabled(IDE_SETTINGS_ADDRESS_B));
    choose(IDR_SETTINGS_LIST);
    EXPECT_FALSE(enabled(IDE_SETTINGS_ADDRESS_A));
    EXPECT_TRUE(enabled(IDB_SETTINGS_EDIT_LIST));
}

TEST_F(SettingsDialog, AnEmptyListKeepsTheUsersChoiceOfIt) {
    write("ServFile.txt", "");
    show_settings(dialog);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDR_SETTINGS_LIST), BST_CHECKED);
    // The list can still be mended from here.
    for (int control : {IDB_SETTINGS_EDIT_LIST, IDB_SETTINGS_REFRESH}) EXPECT_TRUE(enabled(control)) << control;
    click(IDOK);
    EXPECT_EQ(settings.server_source, source_list);
}

// Tests that start the time server's thread carry the prefix ThreadSanitizer picks.
using ThreadedSettingsDialog = SettingsDialog;

TEST_F(ThreadedSettingsDialog, AutoSyncAndTheServerStartAndStopAtOnce) {
    click(IDX_SETTINGS_AUTOSYNC);
    EXPECT_EQ(autosync_armed, 1u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 4u * 3600000);
    EXPECT_TRUE(enabled(IDE_SETTINGS_AUTOSYNC_COUNT));
    click(IDX_SETTINGS_AUTOSYNC);
    EXPECT_EQ(autosync_armed, 0u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 0u);

    click(IDX_SETTINGS_SERVER);
    EXPECT_EQ(settings.time_server_enabled, 1u);
    EXPECT_NE(time_server_running, 0u);
    click(IDX_SETTINGS_SERVER);
    EXPECT_EQ(time_server_running, 0u);
    EXPECT_EQ(settings.time_server_enabled, 0u);
}

// Typed edits stay in the dialog until OK: a control that acts at once takes
// its own field only, and Cancel drops the rest.
TEST_F(ThreadedSettingsDialog, EachControlThatActsAtOnceTakesItsOwnFieldOnly) {
    for (int control : {IDX_SETTINGS_AUTOSYNC, IDX_SETTINGS_TRAY, IDX_SETTINGS_DATES, IDX_SETTINGS_SERVER}) {
        type(IDE_SETTINGS_OFFSET, "7");
        click(control);
        click(control);
        EXPECT_EQ(settings.offset_minutes, 0u) << control;
    }
    for (int radio : {IDR_SETTINGS_MANUAL_A, IDR_SETTINGS_MANUAL_B, IDR_SETTINGS_LIST}) choose(radio);
    EXPECT_EQ(settings.offset_minutes, 0u);
    on_settings_command(dialog, IDCANCEL);
    EXPECT_FALSE(exists("dSync.dat"));
}

TEST_F(ThreadedSettingsDialog, ARunningServerLogsByTheLevelChosenAtOk) {
    click(IDX_SETTINGS_SERVER);
    ASSERT_TRUE(wait_until([] { return os_test_listen_calls() > 0; }));
    SendDlgItemMessageA(dialog, IDL_SETTINGS_LOG, CB_SETCURSEL, log_level_syncs, 0);
    on_settings_command(dialog, IDOK);
    EXPECT_EQ(ask_time_server(own_loopback_address(9), own_loopback_address(10)).size(), 4u);
    EXPECT_TRUE(wait_until([&] { return read("dLog.txt").find("Server Pendularked") != std::string::npos; }));
}

TEST_F(ThreadedSettingsDialog, ResetAsksThenRestoresDefaultsAndStopsWhatRuns) {
    click(IDX_SETTINGS_SERVER);
    click(IDX_SETTINGS_AUTOSYNC);
    settings.on_top = 1;
    set_topmost(window, 1);
    settings.log_level = 3;
    confirm_answer = 2;
    on_settings_command(dialog, IDB_SETTINGS_RESET);
    EXPECT_EQ(confirmations, 1);
    // Its own question: the dialog beneath cannot be used while it is asked.
    EXPECT_EQ(confirmation_owner, dialog);
    EXPECT_EQ(settings.log_level, 3u);
    EXPECT_NE(time_server_running, 0u);

    confirm_answer = 1;
    on_settings_command(dialog, IDB_SETTINGS_RESET);
    EXPECT_EQ(settings.log_level, 0u);
    EXPECT_EQ(settings.time_server_enabled, 0u);
    EXPECT_EQ(time_server_running, 0u);
    EXPECT_EQ(autosync_armed, 0u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 0u);
    EXPECT_EQ(status_hold_ticks, hold_then_ready) << "the countdown gives way to Ready";
    EXPECT_FALSE(os_test_topmost(window));
    EXPECT_EQ(os_test_combo_items(dialog, IDL_SETTINGS_LOG).size(), 4u);
    EXPECT_EQ(os_test_combo_items(dialog, IDL_SETTINGS_OFFSET_DIRECTION).size(), 2u);
    EXPECT_EQ(os_test_combo_items(dialog, IDL_SETTINGS_PROTOCOL).size(), 3u);
}

TEST_F(SettingsDialog, AChangedAutoSyncPeriodCountsFromOk) {
    click(IDX_SETTINGS_AUTOSYNC);
    os_test_advance_ms(3600000);
    on_settings_command(dialog, IDOK);
    EXPECT_EQ(autosync_start_tick, GetTickCount64() - 3600000);  // unchanged: it keeps its place
    init_settings_dialog(dialog);
    type(IDE_SETTINGS_AUTOSYNC_COUNT, "2");
    SendDlgItemMessageA(dialog, IDL_SETTINGS_AUTOSYNC_UNIT, CB_SETCURSEL, unit_minutes, 0);
    on_settings_command(dialog, IDOK);
    EXPECT_EQ(autosync_start_tick, GetTickCount64());
    EXPECT_EQ(autosync_period_ms, 120000u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 120000u);
}

TEST_F(SettingsDialog, EveryOpeningTakesItsToolsAwayWhenItCloses) {
    int before = os_test_tool_count();
    on_settings_command(dialog, IDCANCEL);
    int tools = before - os_test_tool_count();
    EXPECT_GT(tools, 30);
    for (int opening = 1; opening <= 3; opening++) {
        HWND const another = (HWND)(uintptr_t)(0x600 + opening);
        init_settings_dialog(another);
        EXPECT_EQ(os_test_tool_count(), before);
        on_settings_command(another, opening == 2 ? IDOK : IDCANCEL);
        EXPECT_EQ(os_test_tool_count(), before - tools);
    }
}

TEST_F(SettingsDialog, OkSavesAndFilesOpenOnlyWhenThere) {
    on_settings_command(dialog, IDB_SETTINGS_VIEW_LOG);
    EXPECT_EQ(os_test_shell_opened(), "");
    std::filesystem::remove(dir + "ServFile.txt");
    on_settings_command(dialog, IDB_SETTINGS_EDIT_LIST);
    EXPECT_TRUE(exists("ServFile.txt"));
    EXPECT_EQ(os_test_shell_opened(), os_test_windows_path(dir + "ServFile.txt"));

    click(IDX_SETTINGS_ON_TOP);
    type(IDE_SETTINGS_TIMEOUT, "42");
    on_settings_command(dialog, IDOK);
    EXPECT_TRUE(os_test_topmost(window));
    EXPECT_EQ(status_hold_ticks, hold_then_ready);
    EXPECT_EQ(read("dSync.dat").substr(8 + 140, 1), "\x2A");
}

// OK that cannot save says so, and "Ready" does not take the line at the next tick.
TEST_F(SettingsDialog, OkThatCannotSaveKeepsSayingSo) {
    for (bool folder_gone : {false, true}) {
        save_failures_told = 0;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (folder_gone) text_append(data_dir, sizeof data_dir, "gone\\");
        else held = CreateFileA((std::string(data_dir) + "dSync.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                0, nullptr);
        init_settings_dialog(dialog);
        on_settings_command(dialog, IDOK);
        display_tick(window);
        EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS), settings_unsaved_text) << folder_gone;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    }
}

}  // namespace
