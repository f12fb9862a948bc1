// The time server on the simulated machine, whose "every interface" is the
// test's own loopback address, with clients of the test's own.
#include <chrono>
#include <thread>

#include "loopback_server.h"
#include "machine.h"
#include "base/status_line.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"

namespace {

HWND const window = (HWND)0x4D41;

// The clients' own address, as the server sees them.
const std::string client = own_loopback_address(7);

// Connects to port 37 and reads until the server closes; "" when nobody listens.
std::string ask(const std::string& address) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, client.c_str(), &from.sin_addr);
    ::bind(s, (sockaddr*)&from, sizeof from);
    timeval limit{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(37);
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    std::string got;
    if (connect(s, (sockaddr*)&at, sizeof at) == 0) {
        char buffer[16];
        ssize_t n;
        while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) got.append(buffer, (size_t)n);
    }
    close(s);
    return got;
}

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
    // Waits (bounded) until the server has listened on its port.
    void start() {
        start_time_server();
        for (int i = 0; i < 200 && os_test_bind_calls() == 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The report the server posted, shown as the GUI thread would.
    bool report_posted(int wait_ms = 2000) {
        for (int waited = 0; waited < wait_ms; waited += 10) {
            std::vector<UINT> posted = os_test_take_posted(window);
            if (!posted.empty()) {
                EXPECT_EQ(posted, std::vector<UINT>(posted.size(), WM_STATUS_POSTED));
                show_posted_status();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string status() { return os_test_control_text(window, IDT_MAIN_STATUS); }
};

TEST_F(ThreadedTimeServer, AnswersFourBytesAndReportsThePeerByName) {
    settings.log_level = 2;
    os_test_add_host("client.example", client);
    start();
    EXPECT_EQ(ask(address), std::string("\xC7\x61\x9A\x00", 4));
    ASSERT_TRUE(report_posted());
    EXPECT_EQ(status(), "Server Pendularked client.example");
    EXPECT_EQ(status_hold_ticks, 40u);
    char name[server_name_size];
    copy_current_server_name(name);
    EXPECT_STREQ(name, "client.example");
    std::string log = read("dLog.txt");
    EXPECT_NE(log.find(" : Server Pendularked client.example\r\n"), std::string::npos);
}

TEST_F(ThreadedTimeServer, APeerWithoutANameIsReportedByItsAddressAndLevelZeroLogsNothing) {
    start();
    EXPECT_EQ(ask(address).size(), 4u);
    ASSERT_TRUE(report_posted());
    EXPECT_EQ(status(), "Server Pendularked " + client);
    EXPECT_FALSE(exists("dLog.txt"));
}

TEST_F(ThreadedTimeServer, RepliesOnBothSidesOf2036) {
    start();
    os_test_set_utc(2036, 2, 7, 6, 28, 15, 999);
    EXPECT_EQ(ask(address), std::string("\xFF\xFF\xFF\xFF", 4));
    ASSERT_TRUE(report_posted());
    os_test_set_utc(2036, 2, 7, 6, 28, 17);
    EXPECT_EQ(ask(address), std::string("\x00\x00\x00\x01", 4));
}

TEST_F(ThreadedTimeServer, ReportsWaitForTheSyncCycleAndSoDoesTheNextClient) {
    sync_running = 1;
    start();
    EXPECT_EQ(ask(address).size(), 4u);  // the reply comes at once
    std::string second;
    std::thread next([&] { second = ask(address); });
    EXPECT_FALSE(report_posted(700));
    sync_running = 0;
    EXPECT_TRUE(report_posted());
    next.join();
    EXPECT_EQ(second.size(), 4u);
}

TEST_F(ThreadedTimeServer, ATakenPortIsTriedOnceASecondAndAStopEndsTheWaitAtOnce) {
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(37);
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    ASSERT_EQ(::bind(holder, (sockaddr*)&at, sizeof at), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    start_time_server();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_GE(os_test_bind_calls(), 1);
    EXPECT_LE(os_test_bind_calls(), 3);
    auto before = std::chrono::steady_clock::now();
    stop_time_server();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
    close(holder);
}

TEST_F(ThreadedTimeServer, StoppingWhileItWaitsForAClientEndsItWithinASecond) {
    start();
    auto before = std::chrono::steady_clock::now();
    stop_time_server();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900));
    EXPECT_EQ(ask(address), "");
    EXPECT_EQ(os_test_winsock_users(), 0);
}

}  // namespace
