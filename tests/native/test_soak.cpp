// A week of AutoSync every minute on the simulated machine, against a server
// that rotates through every kind of answer, with time-server clients and
// Options in between: every cycle ends within its time-out, and the week
// leaves no thread, handle, socket or tooltip behind and the log within its
// bounds (the leak checker of this build sees the rest). Too long for the
// ThreadSanitizer run, which the short threaded tests serve.
#include <dirent.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "loopback_server.h"
#include "machine.h"
#include "replies.h"
#include "window/status_line.h"
#include "base/text.h"
#include "dialogs/settings_dialog.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "shell/main_window.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/wait_until.h"

namespace {

HWND const window = (HWND)0x4D41;
constexpr int week_of_minutes = 7 * 24 * 60;

enum answer { good, late, silent, kiss_of_death, bad_originate, too_short, refused, kinds };

// One SNTP server for the whole week; the test says how it answers next.
class RotatingServer {
public:
    std::atomic<int> kind{good};

    explicit RotatingServer(const std::string& address) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        timeval limit{0, 100000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in at = loopback_at(address, 123);
        bound_ = ::bind(fd_, (sockaddr*)&at, sizeof at) == 0;
        if (bound_) thread_ = std::thread([this] { serve(); });
    }
    ~RotatingServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    bool bound() const { return bound_; }

private:
    void serve() {
        while (!stop_) {
            char buffer[64];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, (sockaddr*)&from, &length);
            if (got != 48) continue;
            std::string request(buffer, 48);
            uint64_t now = read64(request, 40);  // the client's own time: the clock stays where it is
            std::string reply = sntp_reply(request, now, now);
            switch (kind.load()) {
                case silent: continue;
                case late: std::this_thread::sleep_for(std::chrono::milliseconds(2)); break;
                case kiss_of_death: reply[1] = 0; break;
                case bad_originate: reply[31] ^= 1; break;
                case too_short: reply.resize(20); break;
            }
            sendto(fd_, reply.data(), reply.size(), 0, (sockaddr*)&from, length);
        }
    }
    int fd_;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int open_descriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) count++;
        closedir(d);
    }
    return count;
}

long file_size(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    return error ? 0 : (long)size;
}

class Soak : public Machine {
protected:
    std::string server_address = own_loopback_address(11), nobody = own_loopback_address(12);

    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        load_settings();
        main_window = window;
        settings.server_source = source_manual_a;
        settings.protocol = protocol_sntp;
        settings.log_level = log_level_all;
        settings.sync_timeout_seconds = 5;
        settings.autosync_enabled = 1;
        settings.autosync_count = 1;
        settings.autosync_unit = unit_minutes;
        os_test_set_any_address(own_loopback_address(13));
    }
    void TearDown() override {
        stop_time_server();
        stop_sync_worker();
        Machine::TearDown();
    }
    // Ticks one cycle to its end as the 100 ms timer would; the ticks it took.
    int run_cycle() {
        int ticks = 0;
        while (sync_running && ticks < 200) {
            // A tick waits for a worker that is still on its way, as the timer's
            // next tick would come after it.
            wait_until([] { return sync_step >= step_connected || sync_failed; }, std::chrono::seconds(5));
            sync_tick(window);
            os_test_advance_ms(100);
            ticks++;
        }
        return ticks;
    }
    // Each opening is a window of its own, as Windows makes it.
    void use_options(int opening) {
        HWND const options = (HWND)(uintptr_t)(0x5E70 + opening);
        init_settings_dialog(options);
        on_settings_command(options, IDOK);
    }
};

TEST_F(Soak, AWeekOfAutoSyncEveryMinute) {
    RotatingServer server(server_address);
    ASSERT_TRUE(server.bound());
    int descriptors = open_descriptors(), handles = os_test_open_handles();
    start_time_server();
    ASSERT_TRUE(wait_until([] { return os_test_listen_calls() > 0; }));
    arm_autosync();
    int tools = 0;
    // Time-out plus the steps before it: 50 ticks and a few.
    const int longest_cycle = settings.sync_timeout_seconds * 10 + 8;
    int worst = 0, served = 0, answered_sntp = 0;
    for (int minute = 0; minute < week_of_minutes; minute++) {
        server.kind = minute % kinds;
        const std::string& address = minute % kinds == refused ? nobody : server_address;
        text_copy(settings.manual_address_a, sizeof settings.manual_address_a, address.c_str());
        os_test_advance_ms(60000 - (uint32_t)(GetTickCount64() - autosync_start_tick));
        autosync_tick(window);
        ASSERT_EQ(sync_running, 1u) << "minute " << minute;
        int ticks = run_cycle();
        ASSERT_EQ(sync_running, 0u) << "minute " << minute << " never ended";
        worst = std::max(worst, ticks);
        if (minute % 10 == 0) {
            served += ask_time_server(own_loopback_address(13), own_loopback_address(14)).size() == 4;
            // More SNTP clients than the server remembers, each back every few hours.
            std::string client = "127.254." + std::to_string(minute / 10 % 100) + ".1";
            answered_sntp += ask_sntp(own_loopback_address(13), client).size() == 48;
            for (UINT message : os_test_take_posted(window))
                if (message == WM_STATUS_POSTED) show_posted_status();
        }
        if (minute % 500 == 0) use_options(minute / 500);
        if (minute == 0) tools = os_test_tool_count();  // the window's own, once it has shown them
    }
    EXPECT_LE(worst, longest_cycle);
    EXPECT_EQ(served, week_of_minutes / 10);
    EXPECT_EQ(answered_sntp, week_of_minutes / 10);
    EXPECT_EQ(os_test_tool_count(), tools) << "tools piled up";
    EXPECT_LE(file_size(dir + "dLog.txt"), (long)log_rotate_size + 200);
    EXPECT_LE(file_size(dir + "dLogOld.txt"), (long)log_rotate_size + 200);

    stop_time_server();
    ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 0; }));
    EXPECT_EQ(os_test_winsock_users(), 0);
    EXPECT_EQ(os_test_open_handles(), handles);
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace
