// The main window's operations on the simulated window: initialisation, the
// display tick, AutoSync and its countdown, the commands and the About window.
#include "loopback_server.h"
#include "machine.h"
#include "base/controls.h"
#include "base/filetime.h"
#include "base/program.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "shell/about_window.h"
#include "shell/main_window.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "dialogs/settings_dialog.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/wait_until.h"

namespace {

HWND const window = (HWND)0x4D41;
constexpr uint32_t hour_ms = 3600000;

class MainWindow : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        main_window = window;
        os_test_set_utc(2026, 12, 7, 10, 5, 9);
    }
    void TearDown() override {
        stop_sync_worker();
        Machine::TearDown();
    }
    std::string status() { return os_test_control_text(window, IDT_MAIN_STATUS); }
    std::string countdown() {
        char text[countdown_text_size];
        format_countdown(text);
        return text;
    }
};

TEST_F(MainWindow, InitialisationSetsUpTheWindow) {
    os_test_set_computer_name("DESK-7");
    os_test_set_utc(2026, 12, 7, 10, 5, 9, 300);
    settings.on_top = 1;
    settings.autosync_enabled = 1;
    init_main_dialog(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_COMPUTER), "DESK-7");
    EXPECT_EQ(os_test_tooltip(window, IDB_MAIN_CHECK), "Check the time but don't change it");
    EXPECT_EQ(os_test_tooltip(window, IDB_MAIN_CORRECT), "Check the time and change it");
    EXPECT_EQ(os_test_tooltip(window, IDB_MAIN_TIME_ZONE), "Time Zone data");
    EXPECT_FALSE(os_test_tooltip(window, IDB_MAIN_ABOUT).empty());
    EXPECT_EQ(os_test_timer(window, TIMER_INIT), 0u);
    EXPECT_EQ(os_test_timer(window, TIMER_DISPLAY), 500u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 4 * hour_ms);
    EXPECT_TRUE(os_test_topmost(window));
    EXPECT_NE(taskbar_created_message, 0u);
    EXPECT_EQ(status_hold_ticks, hold_then_ready);
    EXPECT_EQ(sync_running, 0u);
    // The display tick was put on the next whole second.
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(now.wSecond, 10);
    EXPECT_EQ(now.wMilliseconds, 0);
}

TEST_F(MainWindow, DisplayTickShowsClocksThenReadyThenTheCountdown) {
    settings.autosync_enabled = 1;
    settings.time_server_enabled = 1;
    arm_autosync();
    status_hold_ticks = hold_then_ready + 1;
    SetDlgItemTextA(window, IDT_MAIN_STATUS, "Time Corrected");
    display_tick(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_COMPUTER_CLOCK), "10:05:09 AM\r\nMonday, December 7, 2026");
    EXPECT_EQ(status(), "Time Corrected");
    display_tick(window);
    EXPECT_EQ(status(), "Ready (Server Active)");
    for (uint32_t i = 0; i < hold_then_ready; i++) display_tick(window);
    EXPECT_EQ(status_hold_ticks, 0u);
    // A 4-hour period reads 3 Hrs 59 Mns throughout its first minute.
    os_test_advance_ms(59000);
    display_tick(window);
    EXPECT_EQ(status(), "3 Hrs 59 Mns until AutoSync (Server Active)");

    settings.time_server_enabled = 0;
    os_test_advance_ms(5 * hour_ms);
    display_tick(window);
    EXPECT_EQ(status(), " until AutoSync");
    // Off, the line keeps its last text; a running cycle owns it.
    settings.autosync_enabled = 0;
    SetDlgItemTextA(window, IDT_MAIN_STATUS, "kept");
    display_tick(window);
    EXPECT_EQ(status(), "kept");
}

// Kept in UTC, shown in the zone's time of the moment: a change of daylight
// saving shows at the next tick.
TEST_F(MainWindow, ServerClockRunsOnFromTheAnswer) {
    os_test_set_bias(-60);
    settings.server_clock = filetime_from(os_test_utc());
    server_clock_tick = GetTickCount();
    server_clock_valid = 1;
    os_test_advance_ms(2500);
    display_tick(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_SERVER_CLOCK), "11:05:11 AM\r\nMonday, December 7, 2026");
    EXPECT_EQ(server_clock_tick, GetTickCount());
    os_test_set_bias(-120);
    display_tick(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_SERVER_CLOCK), "12:05:11 PM\r\nMonday, December 7, 2026");
}

TEST_F(MainWindow, CountdownShowsTwoUnitsCutNotRounded) {
    struct { uint64_t left_ms; const char* text; } cases[] = {
        {90061000, "1 Dys 1 Hrs"}, {93600000, "1 Dys 2 Hrs"}, {3605000, "1 Hrs 5 Scs"},
        {59999, "59 Scs"},         {999, ""},
    };
    for (auto& c : cases) {
        autosync_start_tick = GetTickCount64();
        autosync_period_ms = c.left_ms;
        EXPECT_EQ(countdown(), c.text);
    }
}

TEST_F(MainWindow, LongAutoSyncPeriodsAreKeptExactly) {
    settings.autosync_unit = 2;
    for (uint32_t days : {30u, 99u}) {
        settings.autosync_count = days;
        arm_autosync();
        uint64_t period = (uint64_t)days * 86400000;
        EXPECT_EQ(autosync_period_ms, period);
        // The timer waits a day at a time, and each expiry before the end sets it again.
        EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 86400000u);
        uint64_t waited = 0;
        int expiries = 0;
        while (expiries < 200) {
            uint64_t step = os_test_timer(window, TIMER_AUTOSYNC);
            os_test_advance_ms((DWORD)step);
            waited += step;
            expiries++;
            if (autosync_due()) break;
            if (expiries == 1) {
                EXPECT_EQ(countdown(), std::to_string(days - 1) + " Dys");
            }
        }
        EXPECT_EQ(waited, period);
        EXPECT_EQ(expiries, (int)days);
    }
}

// Tests that start a worker carry the prefix by which ThreadSanitizer picks them.
using ThreadedMainWindow = MainWindow;

TEST_F(ThreadedMainWindow, AutoSyncTickCorrectsAndArmsAgain) {
    settings.autosync_enabled = 1;
    settings.autosync_count = 1;
    settings.autosync_unit = 0;
    settings.server_source = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "not-an-address");
    arm_autosync();
    os_test_advance_ms(30000);
    autosync_tick(window);
    EXPECT_EQ(sync_running, 0u);  // not yet: the timer is set for the half minute left
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 30000u);
    os_test_advance_ms(30000);
    autosync_tick(window);
    EXPECT_EQ(sync_running, 1u);
    EXPECT_EQ(correct_mode, 1u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 60000u);
    EXPECT_EQ(autosync_start_tick, GetTickCount64());

    // A tick already queued when AutoSync was turned off starts nothing.
    abort_sync_cycle(window);
    settings.autosync_enabled = 0;
    os_test_advance_ms(60000);
    autosync_tick(window);
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 0u);
}

// A due AutoSync waits for a running cycle and for Options, then starts.
TEST_F(ThreadedMainWindow, ADueAutoSyncWaitsItsTurn) {
    settings.autosync_enabled = 1;
    settings.autosync_count = 1;
    settings.autosync_unit = unit_minutes;
    settings.server_source = source_manual_a;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, own_loopback_address().c_str());
    arm_autosync();
    on_main_command(window, IDB_MAIN_CHECK);
    // The first ticks of the window do not reset the running cycle.
    ASSERT_TRUE(wait_until([] { return sync_step != 0; }));
    init_main_dialog(window);
    EXPECT_NE(sync_step, 0u);

    os_test_advance_ms(60000);
    autosync_tick(window);
    EXPECT_EQ(correct_mode, 0u);
    on_main_command(window, IDB_MAIN_CHECK);  // the Check ends: Options is open now
    settings_window_open = 1;
    display_tick(window);
    EXPECT_EQ(sync_running, 0u);
    settings_window_open = 0;
    display_tick(window);
    EXPECT_EQ(sync_running, 1u);
    EXPECT_EQ(correct_mode, 1u);
    EXPECT_EQ(autosync_start_tick, GetTickCount64());
}

TEST_F(ThreadedMainWindow, CheckTurnsIntoAbortAndEscSavesAndEnds) {
    settings.server_source = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, own_loopback_address().c_str());
    settings.protocol = 1;
    sync_aborted = 1;
    on_main_command(window, IDB_MAIN_CHECK);
    EXPECT_EQ(sync_running, 1u);
    EXPECT_EQ(correct_mode, 0u);
    EXPECT_EQ(sync_aborted, 0u);
    EXPECT_EQ(os_test_control_text(window, IDB_MAIN_CHECK), "Abort");
    // Correct does nothing while an attempt runs, not even clear an abort.
    ASSERT_TRUE(wait_until([] { return sync_step != 0; }));
    sync_aborted = 1;
    on_main_command(window, IDB_MAIN_CORRECT);
    EXPECT_EQ(correct_mode, 0u);
    EXPECT_EQ(sync_aborted, 1u);
    sync_aborted = 0;

    on_main_command(window, IDB_MAIN_CHECK);
    EXPECT_EQ(status(), "Aborting...");
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(sync_aborted, 1u);
    EXPECT_EQ(status_hold_ticks, hold_then_ready);
    EXPECT_EQ(os_test_control_text(window, IDB_MAIN_CHECK), "Check");
    EXPECT_EQ(os_test_timer(window, TIMER_SYNC), 0u);

    EXPECT_FALSE(exists("dSync.dat"));
    on_main_command(window, IDB_MAIN_CANCEL);
    EXPECT_EQ(os_test_quit_code(), 0);
    EXPECT_EQ(read("dSync.dat").substr(8 + 356, 1), "\1");  // the abort flag goes with the image
}

TEST_F(MainWindow, ClosingSavesUnlessTrayAndResidentKeepTheProgram) {
    settings.minimise_to_tray = 1;
    settings.resident = 1;
    close_main_window(window);
    EXPECT_EQ(os_test_quit_code(), -1);
    EXPECT_EQ(os_test_show_command(window), SW_HIDE);
    EXPECT_FALSE(exists("dSync.dat"));

    settings.resident = 0;
    close_main_window(window);
    EXPECT_EQ(os_test_quit_code(), 0);
    EXPECT_TRUE(exists("dSync.dat"));
    // The WM_DESTROY that may follow saves nothing more.
    std::filesystem::remove(dir + "dSync.dat");
    close_main_window(window);
    EXPECT_FALSE(exists("dSync.dat"));
}

TEST_F(MainWindow, SessionEndSavesAndLetsWindowsGoOn) {
    EXPECT_TRUE(query_end_session(window));
    EXPECT_TRUE(exists("dSync.dat"));
}

TEST_F(MainWindow, HelpAndResetFromTheTrayMenu) {
    on_main_command(window, IDM_TRAY_HELP);
    EXPECT_EQ(os_test_shell_opened(), os_test_windows_path(dir + "ReadMe.htm"));
    settings.autosync_count = 2;
    on_main_command(window, IDM_TRAY_RESET);
    EXPECT_EQ(autosync_armed, 1u);
    EXPECT_EQ(os_test_timer(window, TIMER_AUTOSYNC), 2 * hour_ms);
}

TEST_F(MainWindow, AboutShowsVersionFoldersAndTheSystem) {
    const std::string key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    os_test_set_machine_value(key, "ProductName", "Windows 10 Pro");
    os_test_set_machine_value(key, "EditionID", "Professional");
    os_test_set_machine_value(key, "CurrentBuildNumber", "19045");
    os_test_set_machine_value("Software\\Wine", "", "");
    on_main_command(window, IDB_MAIN_ABOUT);
    EXPECT_EQ(os_test_dialogs_shown(), std::vector<int>{IDD_ABOUT});
    EXPECT_EQ(about_open, 0u);
    char system[diagnostics_text_size];
    describe_system(system);
    EXPECT_STREQ(system,
                 "System: Windows 10 Pro\r\nEdition: Professional\r\nBuild: 19045\r\nRunning under: Wine\r\n");
    // Windows 11 keeps the name "Windows 10" in the registry.
    for (auto [build, name] : {std::pair{"22000", "Windows 11 Pro"}, {"21999", "Windows 10 Pro"}}) {
        os_test_set_machine_value(key, "CurrentBuildNumber", build);
        describe_system(system);
        EXPECT_EQ(std::string(system).find("System: " + std::string(name) + "\r\n"), 0u) << system;
    }
    HWND const about = (HWND)0xAB;
    init_about_window(about);
    EXPECT_EQ(os_test_control_text(about, IDT_ABOUT_TITLE), "Pendulark " PROGRAM_VERSION_TEXT);
    EXPECT_NE(os_test_control_text(about, IDT_ABOUT_FOLDERS).find("Data folder: " + std::string(data_dir)),
              std::string::npos);
    std::string diagnostics = os_test_control_text(about, IDE_ABOUT_DIAGNOSTICS);
    EXPECT_EQ(diagnostics.find("Pendulark " PROGRAM_VERSION_TEXT "\r\nSystem: Windows 10 Pro\r\n"), 0u);
    EXPECT_NE(diagnostics.find("Program folder: "), std::string::npos);
    // Open already (from the tray): nothing more opens.
    about_open = 1;
    show_about_window(window);
    EXPECT_EQ(os_test_dialogs_shown().size(), 1u);
}

}  // namespace
