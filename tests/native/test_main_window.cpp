// The main window's operations on the simulated window: initialisation, the
// display tick, AutoSync and its countdown, the commands and the About window.
#include "cycle_ticks.h"
#include "loopback_server.h"
#include "machine.h"
#include "replies.h"
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
#include "sync/clock_discipline.h"
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
        autosync_wait_ms = c.left_ms;
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

TEST(AutoSyncRetry, WaitsDoubleFromAMinuteAndNeverPassThePeriod) {
    constexpr uint64_t minute = 60000, day = 86400000;
    struct { uint32_t failures; uint64_t period, wait; } cases[] = {
        {0, 4 * hour_ms, 4 * hour_ms}, {1, 4 * hour_ms, minute},      {2, 4 * hour_ms, 2 * minute},
        {4, 4 * hour_ms, 8 * minute},  {8, 4 * hour_ms, 128 * minute}, {9, 4 * hour_ms, 4 * hour_ms},
        {1, minute, minute},           {3, 2 * minute, 2 * minute},    {30, 99 * day, 99 * day},
        {200, 99 * day, 99 * day},
    };
    for (auto& c : cases) EXPECT_EQ(autosync_retry_ms(c.failures, c.period), c.wait) << c.failures;
}

// AutoSync against the manual address, where a Time Protocol server of the
// test's own answers or nobody listens (refused at once).
class ThreadedAutoSync : public MainWindow {
protected:
    std::string server = own_loopback_address();

    void SetUp() override {
        MainWindow::SetUp();
        settings.autosync_enabled = 1;
        settings.autosync_count = 1;
        settings.autosync_unit = unit_hours;
        settings.server_source = source_manual_a;
        settings.protocol = protocol_time;
        settings.log_level = 1;
        text_copy(settings.manual_address_a, sizeof settings.manual_address_a, server.c_str());
        arm_autosync();
        display_tick(window);  // the first look at the clock
    }
    std::unique_ptr<LoopbackServer> answering() {
        uint32_t soon = filetime_to_protocol_seconds(os_test_utc()) + 60;
        return std::make_unique<LoopbackServer>(true, server, [soon](const std::string&) {
            return std::vector<std::string>{be32(soon)};
        });
    }
    void finish_cycle() { tick_until_the_cycle_ends(window); }
    uint32_t next_wait() { return os_test_timer(window, TIMER_AUTOSYNC); }
    // Timer 10 at the end of its wait: the AutoSync starts and runs to its end.
    void next_autosync() {
        os_test_advance_ms(next_wait());
        autosync_tick(window);
        ASSERT_EQ(sync_running, 1u);
        finish_cycle();
    }
    std::string until() {
        char text[until_autosync_size];
        format_until_autosync(text);
        return text;
    }
    bool logged(const std::string& line) {
        return exists("dLog.txt") && read("dLog.txt").find(line) != std::string::npos;
    }
};

TEST_F(ThreadedAutoSync, AFailureIsTriedAgainSoonAndAnAnswerGoesBackToThePeriod) {
    next_autosync();
    EXPECT_EQ(next_wait(), 60000u);
    EXPECT_EQ(until(), "1 Mns until AutoSync retry");
    EXPECT_TRUE(logged(" : AutoSync failed: next try in 1 Mns\r\n"));
    next_autosync();
    EXPECT_EQ(next_wait(), 120000u);
    EXPECT_TRUE(logged(" : AutoSync failed: next try in 2 Mns\r\n"));
    auto up = answering();
    next_autosync();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    EXPECT_EQ(next_wait(), hour_ms);
    EXPECT_EQ(until(), "1 Hrs until AutoSync");
    // Its own step of the clock is no change made by someone else.
    display_tick(window);
    EXPECT_EQ(sync_running, 0u);
}

// A sleep moves the tick count and the clock together; the resume message
// brings the sync, tried every 5 s while there is no route, for two minutes.
TEST_F(ThreadedAutoSync, AResumeSyncsOnceTheNetworkAnswers) {
    settings.autosync_unit = unit_days;
    arm_autosync();
    os_test_advance_ms(8 * hour_ms);
    display_tick(window);
    EXPECT_EQ(sync_running, 0u) << "a sleep is no change of the clock";
    os_test_network_down_for(7000);
    on_power_broadcast(window, PBT_APMRESUMEAUTOMATIC);
    ASSERT_EQ(sync_running, 1u);
    finish_cycle();
    EXPECT_EQ(next_wait(), 5000u);
    on_power_broadcast(window, PBT_APMRESUMESUSPEND);  // the same resume, told again
    EXPECT_EQ(sync_running, 0u);
    next_autosync();
    EXPECT_EQ(next_wait(), 5000u);
    auto up = answering();
    next_autosync();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    EXPECT_EQ(next_wait(), 24 * hour_ms);

    // A network that never comes: the tries end after two minutes, and the
    // retries go on as after any failure.
    os_test_advance_ms(hour_ms);
    os_test_network_down_for(INFINITE);
    on_power_broadcast(window, PBT_APMRESUMEAUTOMATIC);
    finish_cycle();
    int tries = 1;
    for (; next_wait() == 5000u && tries < 40; tries++) next_autosync();
    EXPECT_EQ(tries, 25);
    EXPECT_EQ(next_wait(), 60000u);

    settings.autosync_enabled = 0;
    disarm_autosync();
    on_power_broadcast(window, PBT_APMRESUMEAUTOMATIC);
    EXPECT_EQ(sync_running, 0u) << "without AutoSync";
}

// Only a missing network is tried again every 5 s after a resume: a cycle
// whose one answer waited in vain for a second server goes up the ladder.
TEST_F(ThreadedAutoSync, AFarAnswerAfterAResumeIsNoMissingNetwork) {
    settings.server_source = source_list;
    write("ServFile.txt", "no.such.name\r\n" + server + "\r\n");
    LoopbackServer far(true, server, time_answer(filetime_to_protocol_seconds(os_test_utc()) + 3600));
    os_test_advance_ms(hour_ms / 2);
    on_power_broadcast(window, PBT_APMRESUMEAUTOMATIC);
    ASSERT_EQ(sync_running, 1u);
    finish_cycle();
    EXPECT_EQ(os_test_set_time_calls(), 0);
    EXPECT_EQ(next_wait(), 60000u);
}

TEST_F(ThreadedAutoSync, AClockSetElsewhereBringsASyncAtMostOnceAMinute) {
    os_test_set_utc(os_test_utc() + 10000000ull);  // a second: Windows' own nudges
    display_tick(window);
    EXPECT_EQ(sync_running, 0u);
    os_test_set_utc(os_test_utc() - 30 * 10000000ull);
    auto up = answering();
    on_time_change(window);
    ASSERT_EQ(sync_running, 1u);
    finish_cycle();
    EXPECT_EQ(next_wait(), hour_ms);
    // Another change within the minute waits for the minute's end.
    os_test_advance_ms(10000);
    os_test_set_utc(os_test_utc() - 30 * 10000000ull);
    display_tick(window);
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(next_wait(), 50000u);
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

// Log-off, shutdown and Exit leave the clock's rate to Windows again.
TEST_F(MainWindow, SessionEndAndExitSaveAndGiveTheRateBack) {
    more_settings.slew_small_corrections = 1;
    for (bool session_end : {true, false}) {
        start_discipline();
        discipline_answer(0.1, 0.001);
        double moved;
        ASSERT_TRUE(slew_clock(&moved));
        ASSERT_FALSE(os_test_adjustment_disabled());
        if (session_end) EXPECT_TRUE(query_end_session(window));
        else on_main_command(window, IDB_MAIN_CANCEL);
        EXPECT_TRUE(exists("dSync.dat"));
        EXPECT_TRUE(os_test_adjustment_disabled()) << session_end;
        program_ending = 0;
    }
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
