// The time server on the simulated machine, whose "every interface" is the
// test's own loopback address, with clients of the test's own.
#include <thread>

#include "loopback_server.h"
#include "machine.h"
#include "window/status_line.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "tests/wait_until.h"

namespace {

HWND const window = (HWND)0x4D41;

// The clients' own address, as the server sees them.
const std::string client = own_loopback_address(7);

class ThreadedTimeServer : public Machine {
protected:
    std::string address = own_loopback_address(6);

    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        main_window = window;
        os_test_set_any_address(address);
        os_test_set_utc(2006, 1, 1, 0, 0, 0, 900);
    }
    void TearDown() override {
        stop_time_server();
        Machine::TearDown();
    }
    void start() {
        start_time_server();
        ASSERT_TRUE(wait_until([] { return os_test_listen_calls() > 0; })) << "the server never listened";
    }
    // Waits for the report the server posts, and shows it as the GUI thread would.
    bool report_posted() {
        std::vector<UINT> posted;
        if (!wait_until([&] { return !(posted = os_test_take_posted(window)).empty(); })) return false;
        EXPECT_EQ(posted, std::vector<UINT>(posted.size(), WM_STATUS_POSTED));
        show_posted_status();
        return true;
    }
    std::string status() { return os_test_control_text(window, IDT_MAIN_STATUS); }
};

TEST_F(ThreadedTimeServer, AnswersFourBytesAndReportsThePeerByName) {
    settings.log_level = 2;
    os_test_add_host("client.example", client);
    start();
    EXPECT_EQ(ask_time_server(address, client), std::string("\xC7\x61\x9A\x00", 4));
    ASSERT_TRUE(report_posted());
    EXPECT_EQ(status(), "Server Pendularked client.example");
    EXPECT_EQ(status_hold_ticks, hold_result);
    char name[server_name_size];
    copy_current_server_name(name);
    EXPECT_STREQ(name, "client.example");
    std::string log = read("dLog.txt");
    EXPECT_NE(log.find(" : Server Pendularked client.example\r\n"), std::string::npos);
    // What About says of it: this machine has no IPv6 here.
    char listening[listening_text_size];
    EXPECT_TRUE(wait_until([&] {
        describe_listening(listening);
        return std::string(listening) == "TCP 0.0.0.0:37; UDP 0.0.0.0:123";
    })) << listening;
    stop_time_server();
    describe_listening(listening);
    EXPECT_STREQ(listening, "off");
}

// SNTP on UDP 123 beside the Time Protocol: a polling client is reported once a minute.
TEST_F(ThreadedTimeServer, SntpClientsAreAnsweredAndReportedOnceAMinute) {
    settings.log_level = 2;  // every report logged, none folded into a later one
    start();
    ASSERT_TRUE(wait_until([] { return os_test_bind_calls() >= 2; }));
    auto reports = [&] {
        std::string log = exists("dLog.txt") ? read("dLog.txt") : "";
        int count = 0;
        for (size_t at = log.find(" : Server Pendularked "); at != std::string::npos; at = log.find(" : Server", at + 1))
            count++;
        return count;
    };
    for (int poll = 0; poll < 3; poll++) {
        if (poll == 2) os_test_advance_ms(60000);
        std::string reply = ask_sntp(address, client);
        ASSERT_EQ(reply.size(), 48u) << poll;
        EXPECT_EQ(reply[0] & 7, 4);
        // A Time Protocol client after each poll: its report comes after the poll's, if any.
        EXPECT_EQ(ask_time_server(address, client).size(), 4u);
        int expected = poll == 0 ? 2 : poll == 1 ? 3 : 5;
        ASSERT_TRUE(wait_until([&] { return reports() >= expected; })) << poll;
        EXPECT_EQ(reports(), expected) << poll;
    }
    ASSERT_TRUE(report_posted());
    EXPECT_EQ(status(), "Server Pendularked " + client);
}

TEST_F(ThreadedTimeServer, APeerWithoutANameIsReportedByItsAddressAndLevelZeroLogsNothing) {
    start();
    EXPECT_EQ(ask_time_server(address, client).size(), 4u);
    ASSERT_TRUE(report_posted());
    EXPECT_EQ(status(), "Server Pendularked " + client);
    EXPECT_FALSE(exists("dLog.txt"));
}

TEST_F(ThreadedTimeServer, RepliesOnBothSidesOf2036) {
    start();
    os_test_set_utc(2036, 2, 7, 6, 28, 15, 999);
    EXPECT_EQ(ask_time_server(address, client), std::string("\xFF\xFF\xFF\xFF", 4));
    ASSERT_TRUE(report_posted());
    os_test_set_utc(2036, 2, 7, 6, 28, 17);
    EXPECT_EQ(ask_time_server(address, client), std::string("\x00\x00\x00\x01", 4));
}

// Clients are answered at once, during a sync cycle and during a slow look-up
// of a name; only the report waits.
TEST_F(ThreadedTimeServer, OnlyTheReportWaitsForTheCycleAndTheLookUp) {
    os_test_add_host("slow.example", client, true);
    set_current_server_name("list.example");
    sync_running = 1;
    start();
    for (int i = 0; i < 3; i++) EXPECT_EQ(ask_time_server(address, client).size(), 4u);
    ASSERT_TRUE(wait_until([] { return os_test_held_lookups() == 1; }));
    os_test_release_lookups();
    // The report waits in steps of the server's own: a second of them shows it waited.
    DWORD held_from = GetTickCount();
    ASSERT_TRUE(wait_until([&] { return GetTickCount() - held_from >= 1000; }));
    EXPECT_TRUE(os_test_take_posted(window).empty());
    char name[server_name_size];
    copy_current_server_name(name);
    EXPECT_STREQ(name, "list.example") << "the cycle's name was overwritten";
    sync_running = 0;
    EXPECT_TRUE(report_posted());
    EXPECT_EQ(status(), "Server Pendularked slow.example");
}

TEST_F(ThreadedTimeServer, AStoppedServerReportsNothingMore) {
    settings.log_level = 2;
    os_test_add_host("slow.example", client, true);
    set_current_server_name("list.example");
    start();
    EXPECT_EQ(ask_time_server(address, client).size(), 4u);
    ASSERT_TRUE(wait_until([] { return os_test_held_lookups() == 1; }));
    stop_time_server();
    os_test_release_lookups();
    ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 0; }));
    EXPECT_TRUE(os_test_take_posted(window).empty());
    EXPECT_FALSE(exists("dLog.txt"));
    char name[server_name_size];
    copy_current_server_name(name);
    EXPECT_STREQ(name, "list.example");
}

TEST_F(ThreadedTimeServer, ATakenPortIsTriedOnceASecondAndAStopEndsTheWaitAtOnce) {
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at = loopback_at(address, 37);
    ASSERT_EQ(::bind(holder, (sockaddr*)&at, sizeof at), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    // Virtual time moves only with the server's own waits.
    DWORD started = GetTickCount();
    int binds = os_test_bind_calls(), listens = os_test_listen_calls();
    start_time_server();
    // Port 37 tried, 123 bound, then 37 tried again.
    ASSERT_TRUE(wait_until([&] { return os_test_bind_calls() >= binds + 3; })) << "the taken port was not tried again";
    EXPECT_GE(GetTickCount() - started, 1000u);
    // Said once, however often it is tried.
    ASSERT_TRUE(report_posted());
    EXPECT_EQ(status(), "Time server: TCP port 37 is in use");
    EXPECT_EQ(os_test_listen_calls(), listens) << "the server listened on a port it did not bind";
    DWORD stopped = GetTickCount();
    stop_time_server();
    ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 0; }));
    EXPECT_LE(GetTickCount() - stopped, 50u) << "the stop did not cut the wait short";
    close(holder);
}

TEST_F(ThreadedTimeServer, StoppingWhileItWaitsForAClientEndsIt) {
    start();
    stop_time_server();
    // Blocked in accept for ever, unless closing its socket woke it.
    ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 0; }));
    EXPECT_EQ(ask_time_server(address, client), "");
    EXPECT_EQ(os_test_winsock_users(), 0);
}

}  // namespace
