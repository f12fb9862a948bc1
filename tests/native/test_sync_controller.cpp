// The sync cycle on the simulated main window: its status texts tick by tick,
// time-out, fail-over, averaging and the results, against loopback servers.
#include "replies.h"
#include "server_walk.h"
#include "base/filetime.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/directories.h"
#include "store/history_file.h"
#include "sync/autosync.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/wait_until.h"

namespace {

constexpr uint64_t second = 1ull << 32;  // 32.32 fixed point
HWND const window = (HWND)0x4D41;

class ThreadedSyncController : public ServerWalk {
protected:
    std::vector<std::string> texts;  // every status text, as it changed

    void SetUp() override {
        ServerWalk::SetUp();
        main_window = window;
        write("ServFile.txt", servers[0] + "\r\n" + servers[1] + "\r\n" + servers[2] + "\r\n" + servers[3] + "\r\n");
    }
    std::string status() { return os_test_control_text(window, IDT_MAIN_STATUS); }
    void tick() {
        sync_tick(window);
        if (texts.empty() || texts.back() != status()) texts.push_back(status());
    }
    // Waits until the worker has reached the step, or failed.
    void wait_for_worker(uint32_t step = step_valid) {
        ASSERT_TRUE(wait_until([step] { return sync_step >= step || sync_failed; })) << "the worker is stuck";
    }
    // Ticks the cycle to its end, letting each worker finish before the ticks go on.
    void run_cycle(int limit = 200) {
        for (int i = 0; i < limit && sync_running; i++) {
            ASSERT_NO_FATAL_FAILURE(wait_for_worker());
            tick();
        }
        ASSERT_EQ(sync_running, 0u) << "the cycle did not end";
    }
    void start(uint32_t correct) {
        correct_mode = correct;
        start_sync_cycle(window);
    }
    void expect_buttons_back() {
        EXPECT_EQ(os_test_control_text(window, IDB_MAIN_CHECK), "Check");
        EXPECT_TRUE(os_test_control_enabled(window, IDB_MAIN_CORRECT));
        EXPECT_TRUE(os_test_control_enabled(window, IDB_MAIN_OPTIONS));
        EXPECT_EQ(os_test_tooltip(window, IDB_MAIN_CHECK), "Check the time but don't change it");
        EXPECT_EQ(os_test_timer(window, TIMER_SYNC), 0u);
    }
};

TEST_F(ThreadedSyncController, OneTextPerTickThenTheFailureAndNoFailOverFromAManualAddress) {
    settings.server_source = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "not-an-address");
    start(0);
    EXPECT_EQ(os_test_control_text(window, IDB_MAIN_CHECK), "Abort");
    EXPECT_FALSE(os_test_control_enabled(window, IDB_MAIN_CORRECT));
    EXPECT_FALSE(os_test_control_enabled(window, IDB_MAIN_OPTIONS));
    EXPECT_EQ(os_test_tooltip(window, IDB_MAIN_CHECK), "Cancel Pendulark operation");
    EXPECT_EQ(os_test_timer(window, TIMER_SYNC), 100u);
    ASSERT_NO_FATAL_FAILURE(wait_for_worker());  // it fails at step 2 before the first tick
    run_cycle();
    std::vector<std::string> expected = {"Initialising...", "Creating Socket...", "Unable to sync from not-an-address"};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(status_hold_ticks, hold_result);  // the failure stays as long as a result
    EXPECT_EQ(no_responses(), std::vector<std::string>{"not-an-address (not an IPv4 address)"});
    expect_buttons_back();
}

TEST_F(ThreadedSyncController, FailOverAsksEveryEntryOnceThenEnds) {
    // Nobody listens: every connection is refused at once.
    write("ServFile.txt", servers[0] + "\r\n" + servers[1] + "\r\n" + servers[2] + "\r\n");
    settings.server_index = 1;
    sync_aborted = 1;  // an abort of an earlier cycle, or of an earlier run
    start(1);
    run_cycle();
    EXPECT_EQ(unanswered(), (std::vector<std::string>{servers[1], servers[2], servers[0]}));
    EXPECT_EQ(status(), "Unable to sync from " + servers[0]);
    EXPECT_EQ(status_hold_ticks, hold_result);
    EXPECT_EQ(settings.server_index, 0u);  // the last entry tried
    EXPECT_EQ(os_test_set_time_calls(), 0);
    expect_buttons_back();
}

// Each address of a name is an attempt of its own before the next entry, with
// "Default only" too: they are one server. The texts name the address asked.
TEST_F(ThreadedSyncController, EveryAddressOfANameBeforeTheNextEntry) {
    os_test_add_host("pool.example", servers[0] + " " + servers[1]);
    write("ServFile.txt", "pool.example\r\n" + servers[2] + "\r\n");
    for (uint32_t default_only : {0u, 1u}) {
        settings.default_server_only = default_only;
        settings.server_index = 0;
        std::remove((dir + "dLog.txt").c_str());
        LoopbackServer second(true, servers[1], time_answer(new_year_2006));
        start(0);
        run_cycle();
        EXPECT_EQ(no_responses(), std::vector<std::string>{"pool.example [" + servers[0] + "] (refused)"});
        EXPECT_EQ(second.requests(), 1) << default_only;
        EXPECT_EQ(os_test_control_text(window, IDT_MAIN_SERVER), "pool.example");
        EXPECT_EQ(settings.server_index, 0u);
    }
}

// AutoSync and the start action step far only on a second server's word; the
// user's Correct steps on one (above). A manual server is one server: Average
// asks it once. Whatever the end, the next cycle starts from a clean state.
TEST_F(ThreadedSyncController, AFarUnattendedStepWaitsForASecondServer) {
    const std::string unconfirmed = "Unable to sync: no second server confirms +3600.000 s";
    struct { int second_ahead; bool average, manual; std::string status; } cases[] = {
        {3600, false, false, "Time Corrected by 3600.50000 Scs"},
        {7200, false, false, unconfirmed},
        {-1, false, false, unconfirmed},
        {-1, true, false, unconfirmed},
        {-1, true, true, unconfirmed},
    };
    for (auto& c : cases) {
        settings.server_index = 0;
        settings.multi_site_average = c.average;
        settings.server_source = c.manual ? source_manual_a : source_list;
        text_copy(settings.manual_address_a, sizeof settings.manual_address_a, servers[0].c_str());
        int sets = os_test_set_time_calls();
        auto running = answering({3600, c.second_ahead});
        cycle_unattended = 1;
        start(1);
        run_cycle();
        EXPECT_EQ(status(), c.status) << c.second_ahead << c.average << c.manual;
        EXPECT_EQ(os_test_set_time_calls() - sets, c.second_ahead == 3600 ? 1 : 0) << c.second_ahead;
        EXPECT_EQ(running[0]->requests(), 1) << "asked once: " << c.second_ahead << c.average << c.manual;
        if (c.second_ahead == 3600) {
            char last[last_answer_text_size];
            describe_last_answer(last);
            EXPECT_EQ(std::string(last).substr(0, servers[0].size() + 1), servers[0] + ",") << "the first server's answer";
        }
        EXPECT_EQ(status_hold_ticks, hold_result);
        EXPECT_EQ(shown_step, 0u);
        EXPECT_EQ(sync_step, 0u);
    }
}

TEST_F(ThreadedSyncController, AListWithoutAnEntryEndsTheCycleWithoutAskingAnyone) {
    write("ServFile.txt", "# nothing but a remark\r\n");
    set_current_server_name("left.over.example");
    start(1);
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(status(), "Unable to sync: no server in ServFile.txt");
    EXPECT_EQ(status_hold_ticks, hold_result);
    EXPECT_NE(read("dLog.txt").find("no server in ServFile.txt"), std::string::npos);
    EXPECT_TRUE(unanswered().empty());
    expect_buttons_back();
}

TEST_F(ThreadedSyncController, AutoAsksEachServerBySntpThenByTheTimeProtocol) {
    write("ServFile.txt", servers[0] + "\r\n" + servers[1] + "\r\n");
    settings.protocol = 2;
    LoopbackServer udp_a(false, servers[0], no_answer);
    LoopbackServer udp_b(false, servers[1], no_answer);
    // Silent SNTP servers run out of time: 5 s, 50 ticks after "Initialising...".
    // The request leaves just after step 4, so the ticks wait for it to arrive;
    // the Time Protocol's connect is refused before step 4.
    auto asking_b = [&] {
        return servers[1] == sync_result().address;
    };
    start(0);
    for (int i = 0; i < 400 && sync_running; i++) {
        ASSERT_NO_FATAL_FAILURE(wait_for_worker(step_connected));
        int due = asking_b() ? 2 : 1;
        ASSERT_TRUE(wait_until([&] { return sync_failed || udp_a.received() + udp_b.received() >= due; }));
        tick();
    }
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(udp_a.requests(), 1);
    EXPECT_EQ(udp_b.requests(), 1);
    EXPECT_EQ(unanswered(), (std::vector<std::string>{servers[0], servers[0], servers[1], servers[1]}));
    EXPECT_EQ(auto_protocol, 1u);
    // A time-out in list mode with fail-over allowed clears the abort flag.
    EXPECT_EQ(sync_aborted, 0u);
}

TEST_F(ThreadedSyncController, TimeOutOnTheTickItsSecondsRunOut) {
    settings.server_source = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, servers[0].c_str());
    settings.protocol = 1;
    LoopbackServer silent(false, servers[0], no_answer);
    start(0);
    ASSERT_NO_FATAL_FAILURE(wait_for_worker(step_connected));
    int ticks = 0;
    while (sync_running && ticks < 200) {
        tick();
        ticks++;
    }
    // 5 s are 50 ticks, counted after the one that showed "Initialising...".
    EXPECT_EQ(ticks, 51);
    EXPECT_EQ(texts[texts.size() - 2], "Waiting for reply from " + servers[0]);
    EXPECT_EQ(status(), "Unable to sync from " + servers[0]);
    EXPECT_EQ(sync_aborted, 1u);  // a manual address: the time-out ends the cycle
    expect_buttons_back();
}

TEST_F(ThreadedSyncController, CorrectionTextsGiveHalfTheOffsetSumToFiveDecimals) {
    settings.protocol = 1;
    // The text cuts to five decimals; the clock moves to the nearest millisecond.
    struct { int64_t offset_sum; const char* text; int64_t moved_ms; } cases[] = {
        {-(int64_t)(3 * second), "Time Corrected by -1.50000 Scs", -1500},
        {(int64_t)(second / 2), "Time Corrected by 0.25000 Scs", 250},
        {(int64_t)(second / 3), "Time Corrected by 0.16666 Scs", 167},
    };
    for (auto& c : cases) {
        LoopbackServer server(false, servers[0], sntp_answer(c.offset_sum / 2));
        uint64_t before = os_test_utc();
        settings.server_index = 0;
        start(1);
        run_cycle();
        EXPECT_EQ(status(), c.text);
        EXPECT_EQ(os_test_control_text(window, IDT_MAIN_SERVER), servers[0]);
        EXPECT_EQ(status_hold_ticks, hold_result);
        int64_t moved_ms = (int64_t)(set_to() - before) / 10000;
        EXPECT_EQ(moved_ms, c.moved_ms) << c.text;
        os_test_set_utc(before);
    }
}

// Small corrections that nobody asked for slew, and say how long they take;
// a large one, or the user's Correct, steps.
TEST_F(ThreadedSyncController, SmallUnattendedCorrectionsSlewTheRestStep) {
    settings.protocol = 1;
    more_settings.slew_small_corrections = 1;
    start_discipline();
    struct { uint64_t offset; uint32_t unattended; bool slewed; const char* text; } cases[] = {
        {second / 4, 1, true, "Slewing by +0.25000 Scs over 8 Mns 20 Scs"},
        {30 * second, 1, false, "Time Corrected by 30.00000 Scs"},
        {second / 4, 0, false, "Time Corrected by 0.25000 Scs"},
    };
    for (auto& c : cases) {
        LoopbackServer server(false, servers[0], sntp_answer((int64_t)c.offset));
        int steps = os_test_set_time_calls(), rates = os_test_adjustment_calls();
        settings.server_index = 0;
        cycle_unattended = c.unattended;
        cycle_slews = c.unattended;
        start(1);
        run_cycle();
        EXPECT_EQ(status(), c.text);
        EXPECT_EQ(os_test_set_time_calls() - steps, c.slewed ? 0 : 1) << c.text;
        EXPECT_EQ(os_test_adjustment_calls() > rates, c.slewed) << c.text;
        std::string history = read("dHistory.csv");
        EXPECT_EQ(history.substr(history.rfind(",1,") + 3, 4), c.slewed ? "slew" : "step") << c.text;
    }
}

TEST_F(ThreadedSyncController, TimeProtocolCorrectsWithoutAnAmountAndACheckOnlyShows) {
    LoopbackServer tcp(true, servers[0], time_answer(new_year_2006), 2);
    start(1);
    run_cycle();
    // Twenty years on one server's word: the user's Correct makes it, and says so.
    EXPECT_EQ(status(), "Time Corrected, on one server's word");
    EXPECT_EQ(os_test_last_set_time().wYear, 2006);
    char last[last_answer_text_size];
    describe_last_answer(last);  // as About shows it
    EXPECT_EQ(std::string(last), servers[0] + ", stratum 2, delay 0.0 ms, root distance 1000.0 ms");

    settings.server_index = 0;
    start(0);
    run_cycle();
    EXPECT_EQ(status(), "Converting...");  // kept until the display tick shows "Ready"
    EXPECT_EQ(status_hold_ticks, hold_then_ready);
    EXPECT_EQ(server_clock_valid, 1u);
    EXPECT_EQ(os_test_set_time_calls(), 1);
}

TEST_F(ThreadedSyncController, RefusedClockShowsThePrivilegeError) {
    os_test_allow_set_time(false);
    LoopbackServer tcp(true, servers[0], time_answer(new_year_2006));
    start(1);
    run_cycle();
    EXPECT_EQ(status(), "Error setting Time Change Privileges");
}

// Averaging: Time Protocol servers 0..3 answer the given seconds, `apart` ms
// after one another; each reply is accumulated 100 ms after it came.
class ThreadedAveraging : public ThreadedSyncController {
protected:
    void average(std::vector<uint32_t> answers, uint32_t apart_ms) {
        std::vector<std::unique_ptr<LoopbackServer>> running;
        for (size_t i = 0; i < answers.size(); i++) {
            uint32_t value = answers[i], wait = i ? apart_ms - 100 : 0;
            running.push_back(std::make_unique<LoopbackServer>(true, servers[i], [value, wait](const std::string& r) {
                os_test_advance_ms(wait);
                return time_answer(value)(r);
            }));
        }
        settings.multi_site_average = 1;
        start(0);
        for (int sample = 0; sample < 8 && sync_running; sample++) {
            ASSERT_NO_FATAL_FAILURE(wait_for_worker());
            os_test_advance_ms(100);
            for (int i = 0; i < 10 && sync_running && (sync_step != 0 || shown_step != 0); i++) tick();
        }
        run_cycle();
    }
};

TEST_F(ThreadedAveraging, EarlierSamplesAreCarriedForwardToTheLast) {
    average({new_year_2006, new_year_2006 + 4, new_year_2006 + 8, new_year_2006 + 12}, 4000);
    EXPECT_EQ(sync_answer.seconds, new_year_2006 + 12);
    EXPECT_EQ(cycle_answers.count, 4);
}

TEST_F(ThreadedAveraging, SamplesKeepTheirSecondsUntilTheMean) {
    average({new_year_2006, new_year_2006 + 1, new_year_2006 + 2, new_year_2006 + 3}, 1000);
    EXPECT_EQ(sync_answer.seconds, new_year_2006 + 3);
}

TEST_F(ThreadedAveraging, AListThatEndsEarlyGivesTheMeanOfWhatCame) {
    write("ServFile.txt", servers[0] + "\r\n" + servers[1] + "\r\n");
    average({new_year_2006, new_year_2006 + 4}, 4000);
    EXPECT_EQ(cycle_answers.count, 2);
    EXPECT_EQ(sync_answer.seconds, new_year_2006 + 4);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_SERVER), servers[0]);  // the first that agreed
}

// Average believes the servers that agree, if they are a majority: the
// median of their offsets, each server left out logged. With no majority the
// clock stays where it is and every server's offset is logged.
TEST_F(ThreadedAveraging, AMajorityThatAgreesIsBelievedAndNoMajorityMovesNothing) {
    settings.protocol = protocol_sntp;
    settings.multi_site_average = 1;
    const std::string agree = ", 3 others agree on +0.050 s";
    struct {
        std::vector<double> ahead;
        std::string status;
        int64_t moved_ms;
        std::vector<std::string> logged;
    } cases[] = {
        {{0.05, 0.05, 0.05, 3600}, "Time Corrected by 0.04999 Scs", 50, {servers[3] + " dropped: +3600.000 s" + agree}},
        {{3600, 0.05, 0.05, 0.05}, "Time Corrected by 0.04999 Scs", 50, {servers[0] + " dropped: +3600.000 s" + agree}},
        {{0.05, 3600}, "Unable to sync: servers disagree, 3599.950 s apart", 0,
         {servers[0] + " at +0.050 s", servers[1] + " at +3600.000 s"}},
        {{1, 2, 3, 4}, "Unable to sync: servers disagree, 3.000 s apart", 0, {servers[3] + " at +4.000 s"}},
        // The list ends before four: the three that came agree all the same.
        {{0.05, 0.05, 0.05}, "Time Corrected by 0.04999 Scs", 50, {}},
    };
    // An AutoSync: one that set the clock keeps its period.
    settings.autosync_enabled = 1;
    settings.autosync_count = 1;
    settings.autosync_unit = unit_hours;
    for (auto& c : cases) {
        std::string list;
        std::vector<std::unique_ptr<LoopbackServer>> running;
        for (size_t i = 0; i < c.ahead.size(); i++) {
            list += servers[i] + "\r\n";
            running.push_back(std::make_unique<LoopbackServer>(false, servers[i], sntp_answer((int64_t)(c.ahead[i] * second))));
        }
        write("ServFile.txt", list);
        std::remove((dir + "dLog.txt").c_str());
        settings.server_index = 0;
        uint64_t before = os_test_utc();
        int sets = os_test_set_time_calls();
        std::remove((dir + history_file_name).c_str());
        arm_autosync();
        cycle_autosync = 1;
        start(1);
        run_cycle();
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(os_test_set_time_calls() - sets, c.moved_ms ? 1 : 0);
        EXPECT_EQ(autosync_failures, c.moved_ms ? 0u : 1u) << c.status;
        autosync_failures = 0;
        if (c.moved_ms) {
            // What the agreeing servers say is kept, named and served, never a dropped one's.
            size_t first = c.ahead[0] < 1 ? 0 : 1;
            char last[last_answer_text_size];
            describe_last_answer(last);
            EXPECT_EQ(std::string(last).substr(0, servers[first].size() + 1), servers[first] + ",") << c.status;
        }
        // The rows of the servers left out come before the correction's own.
        std::vector<history_point> rows = read_history();
        EXPECT_EQ(rows.size(), c.ahead.size());
        for (size_t i = 1; i < rows.size(); i++) EXPECT_LE(rows[i - 1].corrected, rows[i].corrected) << c.status;
        if (c.moved_ms) {
            EXPECT_EQ((int64_t)(set_to() - before) / 10000, c.moved_ms);
        }
        std::string log = read("dLog.txt");
        for (const std::string& line : c.logged) EXPECT_NE(log.find(" : " + line + "\r\n"), std::string::npos) << line;
    }
}

}  // namespace
