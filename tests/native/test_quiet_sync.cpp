// The unattended walk over the server list, against loopback addresses where
// nobody listens (refused at once) and one-shot servers of the test's own.
#include <chrono>
#include <thread>

#include "replies.h"
#include "server_walk.h"
#include "tests/wait_until.h"
#include "base/filetime.h"
#include "base/text.h"
#include "shell/quiet_sync.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

namespace {

using ThreadedQuietSync = ServerWalk;

// A minute ahead of the clock: near enough to be stepped on one server's word.
uint32_t soon() { return filetime_to_protocol_seconds(os_test_utc()) + 60; }

TEST_F(ThreadedQuietSync, AllFailingFromTheMiddleTriesEachOnce) {
    settings.server_index = 2;
    quiet_sync_walk();
    EXPECT_EQ(unanswered(), in_order({2, 3, 4, 0, 1}));
    EXPECT_EQ(os_test_set_time_calls(), 0);
}

TEST_F(ThreadedQuietSync, AllFailingFromTheFirstGoesRoundTwiceAndOnce) {
    settings.server_index = 0;
    settings.log_level = 3;
    quiet_sync_walk();
    EXPECT_EQ(unanswered(), in_order({0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0}));
    EXPECT_EQ(wrap_count, 2u);
}

TEST_F(ThreadedQuietSync, LevelsWithoutErrorsLogNothing) {
    for (uint32_t level : {0u, 2u}) {
        settings.log_level = level;
        settings.server_index = 4;
        quiet_sync_walk();
    }
    EXPECT_FALSE(exists("dLog.txt"));
}

TEST_F(ThreadedQuietSync, FirstAnswerSetsTheClockOnce) {
    LoopbackServer server(true, servers[1], time_answer(soon()));
    ASSERT_TRUE(server.bound());
    settings.server_index = 1;
    settings.log_level = 3;
    quiet_sync_walk();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    EXPECT_EQ(os_test_last_set_time().wMinute, 1);
    std::string log = read("dLog.txt");
    EXPECT_NE(log.find("Server used was " + servers[1] + " (stratum 2, delay 0.0 ms, root distance 1000.0 ms)\r\n"),
              std::string::npos);
    EXPECT_TRUE(unanswered().empty());
}

// A one-entry list whose name's first address refuses: the second answers.
TEST_F(ThreadedQuietSync, TheSecondAddressOfANameAnswersForItsEntry) {
    os_test_add_host("pool.example", servers[0] + " " + servers[1] + " " + servers[2]);
    write("ServFile.txt", "pool.example\r\n");
    LoopbackServer second(true, servers[1], time_answer(soon()));
    settings.server_index = 0;
    quiet_sync_walk();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    EXPECT_EQ(no_responses(), std::vector<std::string>{"pool.example [" + servers[0] + "] (refused)"});
}

// A far step at logon waits for a second server's word: made when another
// agrees, or by two that outvote the first, never on one server alone. The
// step judged is the one made: a clock kept 30 minutes behind is near.
TEST_F(ThreadedQuietSync, AFarStepWaitsForASecondServer) {
    struct { std::vector<int> ahead; uint32_t behind_minutes; bool stepped; std::string logged; } cases[] = {
        {{3600, 3600}, 0, true, ""},
        {{3600, 7200}, 0, false, "Not stepped by +3600.000 s: only " + servers[0] + " says so"},
        {{3600, -1}, 0, false, "Not stepped by +3600.000 s: only " + servers[0] + " says so"},
        {{3600, 1, 1}, 0, true, servers[0] + " dropped: +3600.000 s, 2 others agree on +1.000 s"},
        {{1800}, 30, true, ""},
    };
    for (auto& c : cases) {
        std::remove((dir + "dLog.txt").c_str());
        settings.server_index = 5;  // one round from the first
        settings.offset_minutes = c.behind_minutes;
        settings.offset_direction = offset_subtract;
        int sets = os_test_set_time_calls();
        auto running = answering(c.ahead);
        quiet_sync_walk();
        EXPECT_EQ(os_test_set_time_calls() - sets, c.stepped ? 1 : 0) << c.ahead.size() << c.ahead[1 % c.ahead.size()];
        std::string log = exists("dLog.txt") ? read("dLog.txt") : "";
        EXPECT_EQ(log.find(" : Not stepped by ") != std::string::npos, !c.stepped) << log;
        EXPECT_TRUE(c.logged.empty() || log.find(" : " + c.logged) != std::string::npos) << log;
    }
}

// Two addresses of one name that tell nothing of their server are one server:
// both are asked, as the window asks them, and the hour is not confirmed.
TEST_F(ThreadedQuietSync, OneHostAtTwoAddressesDoesNotConfirmItself) {
    os_test_add_host("pool.example", servers[0] + " " + servers[1]);
    write("ServFile.txt", "pool.example\r\n");
    auto running = answering({3600, 3600});
    settings.server_index = 1;  // one round
    quiet_sync_walk();
    EXPECT_EQ(os_test_set_time_calls(), 0);
    EXPECT_EQ(running[1]->requests(), 1);
}

TEST_F(ThreadedQuietSync, AnAnswerAfterTheSecondWrapIsApplied) {
    // Two entries and an index past them: 0, 1, then 0 once more after the second wrap.
    write("ServFile.txt", servers[0] + "\r\n" + servers[1] + "\r\n");
    int calls = 0;
    LoopbackServer server(
        true, servers[0], [&](const std::string& r) { return time_answer(++calls == 1 ? 0 : soon())(r); }, 2);
    ASSERT_TRUE(server.bound());
    settings.server_index = 7;
    quiet_sync_walk();
    EXPECT_EQ(wrap_count, 2u);
    EXPECT_EQ(no_responses(), (std::vector<std::string>{servers[0] + " (server without the time)",
                                                        servers[1] + " (refused)"}));
    EXPECT_EQ(os_test_set_time_calls(), 1);
}

TEST_F(ThreadedQuietSync, SilentServerRunsOutOfTimeAndIsStopped) {
    LoopbackServer silent(false, servers[0], no_answer);
    ASSERT_TRUE(silent.bound());
    settings.protocol = 1;
    settings.sync_timeout_seconds = 2;
    settings.server_index = 5;  // one pass from entry 0: the silent one first
    sync_aborted = 0;
    quiet_sync_walk();
    EXPECT_EQ(silent.requests(), 1);
    EXPECT_EQ(sync_aborted, 1u);
    EXPECT_EQ(unanswered(), in_order({0, 1, 2, 3, 4}));
    EXPECT_EQ(no_responses()[0], servers[0] + " (timed out)");
}

TEST_F(ThreadedQuietSync, AReplyInTheLastSecondIsTaken) {
    LoopbackServer late(true, servers[0], [](const std::string& r) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return time_answer(soon())(r);
    });
    ASSERT_TRUE(late.bound());
    settings.protocol = protocol_time;
    settings.sync_timeout_seconds = 2;
    settings.server_index = 5;
    quiet_sync_walk();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    EXPECT_EQ(sync_failed, 0u);
}

// A start of the program's window tells the run at logon to end: it ends
// within about a second, with the entries after the one it asked untried.
TEST_F(ThreadedQuietSync, AStopEndsTheWalkAtOnce) {
    LoopbackServer silent(false, servers[0], no_answer);
    ASSERT_TRUE(silent.bound());
    quiet_stop_event = CreateEventA(nullptr, TRUE, FALSE, quiet_stop_event_name);
    settings.protocol = protocol_sntp;
    settings.sync_timeout_seconds = 60;
    settings.server_index = 5;
    settings.log_level = 3;
    // Once the request is out: a stop then cuts the wait for the answer short.
    std::thread starter([&silent] {
        wait_until([&silent] { return silent.received() >= 1; });
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, quiet_stop_event_name);  // another process's handle
        SetEvent(stop);
        CloseHandle(stop);
    });
    auto started = std::chrono::steady_clock::now();
    quiet_sync_walk();
    starter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(silent.requests(), 1);
    EXPECT_EQ(os_test_set_time_calls(), 0);
    EXPECT_FALSE(exists("dLog.txt")) << "a stop is no failure to log";
    CloseHandle(quiet_stop_event);
}

// The run at logon may start before the network: a walk that finds no route
// is walked again every few seconds until the network comes, two minutes at
// most; a refusal says that the network works, and ends the run at once.
TEST_F(ThreadedQuietSync, AWalkWithoutANetworkWaitsForIt) {
    // Each walk asks both entries, from the second.
    struct { DWORD down_ms; bool answering; size_t unreachable; int sets; } cases[] = {
        {2000, true, 2, 1},      // up after the first wait: asked again, and stepped
        {INFINITE, true, 4, 0},  // never up: the bound ends the wait after the next walk
        {0, false, 0, 0},        // up, but everyone refuses: no second walk
    };
    settings.protocol = protocol_time;
    settings.log_level = 3;
    quiet_stop_event = CreateEventA(nullptr, TRUE, FALSE, quiet_stop_event_name);
    for (auto& c : cases) {
        std::remove((dir + "dLog.txt").c_str());
        write("ServFile.txt", servers[0] + "\r\n" + servers[1] + "\r\n");
        int sets = os_test_set_time_calls();
        os_test_network_down_for(c.down_ms);
        settings.server_index = 1;
        std::thread run(quiet_sync_waiting_for_network);
        // The wait goes by the tick count: the test moves it past the network's
        // coming, or past the bound, once the walk has found no network. The
        // server comes with the network, so that the walk after the wait of
        // seconds still finds it taking connections.
        if (c.down_ms != 0)
            EXPECT_TRUE(wait_until(
                [&] { return exists("dLog.txt") && read("dLog.txt").find("No network yet") != std::string::npos; }));
        auto running = answering({c.answering ? 60 : -1});
        if (c.down_ms != 0) os_test_advance_ms(c.down_ms == INFINITE ? 120000 : c.down_ms);
        run.join();
        std::string log = read("dLog.txt");
        size_t unreachable = 0;
        for (size_t at = log.find("(unreachable)"); at != std::string::npos; at = log.find("(unreachable)", at + 1))
            unreachable++;
        EXPECT_EQ(unreachable, c.unreachable) << c.down_ms;
        EXPECT_EQ(os_test_set_time_calls() - sets, c.sets) << c.down_ms << "\n" << log;
        EXPECT_EQ(log.find("No network yet") != std::string::npos, c.down_ms != 0) << c.down_ms;
        os_test_network_down_for(0);
    }
    CloseHandle(quiet_stop_event);
}

TEST_F(ThreadedQuietSync, ManualAddressGetsOneAttempt) {
    settings.server_source = 2;
    text_copy(settings.manual_address_b, sizeof settings.manual_address_b, servers[3].c_str());
    quiet_sync_walk();
    EXPECT_EQ(unanswered(), in_order({3}));
}

TEST_F(ThreadedQuietSync, UnavailableListFallsBackToManualAddressA) {
    write("ServFile.txt", "");
    server_list_unavailable = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, servers[4].c_str());
    quiet_sync_walk();
    EXPECT_EQ(settings.server_source, source_list);
    EXPECT_EQ(unanswered(), in_order({4}));
}

}  // namespace
