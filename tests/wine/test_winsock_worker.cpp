// The protocol client over Winsock and Win32 threads, against servers on loopback.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>

#include "loopback_server.h"
#include "base/text.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"
#include "tests/program_state.h"

namespace {

void run_attempt() {
    ASSERT_TRUE(start_sync_worker());
    for (int i = 0; i < 500 && sync_step != step_valid && !sync_failed; i++) Sleep(10);
    ASSERT_TRUE(sync_step == step_valid || sync_failed);
    Sleep(50);
}

class WinsockWorker : public ::testing::Test {
protected:
    void SetUp() override {
        reset_program_state();
        reset_settings();
        set_current_server_name(server_address);
    }
    void TearDown() override { stop_sync_worker(); }
};

TEST_F(WinsockWorker, TimeProtocolReplyWholeAndSplit) {
    settings.protocol = 0;
    for (bool split : {false, true}) {
        Server server(true, std::string("\xE9\x61\x2C\x00", 4), split);
        ASSERT_TRUE(server.bound);
        run_attempt();
        EXPECT_EQ(sync_step, uint32_t(step_valid));
        EXPECT_EQ(server_seconds, 0xE9612C00u);
    }
}

TEST_F(WinsockWorker, TimeProtocolZeroReplyFails) {
    settings.protocol = 0;
    Server server(true, std::string(4, '\0'), false);
    run_attempt();
    EXPECT_EQ(sync_failed, 1u);
    EXPECT_EQ(sync_step, uint32_t(step_connected));
}

TEST_F(WinsockWorker, SntpAgainstAServerOnOurClock) {
    settings.protocol = 1;
    Server server(false, "", false);
    ASSERT_TRUE(server.bound);
    run_attempt();
    EXPECT_EQ(sync_step, uint32_t(step_valid));
    // Wine's clock moves between our two readings: the sum is small but real.
    EXPECT_LT(offset_sum.load() < 0 ? -offset_sum.load() : offset_sum.load(), 1ll << 32);
}

// Wine gives no way to hold a look-up, so the late worker here is one blocked
// in recv: the stop wakes it by closing its socket, and the next attempt starts
// at once, while the first may still be on its way out.
TEST_F(WinsockWorker, StoppedWorkerEndsAtOnceAndLeavesTheNextAttemptAlone) {
    settings.protocol = 1;
    set_current_server_name("127.0.0.78");  // nobody answers here
    ASSERT_TRUE(start_sync_worker());
    for (int i = 0; i < 200 && sync_step < step_connected; i++) Sleep(10);
    ASSERT_EQ(sync_step, uint32_t(step_connected));
    DWORD before = GetTickCount();
    stop_sync_worker();
    // Below the stop's own second: the closed socket woke the worker.
    EXPECT_LT(GetTickCount() - before, 900u);

    {
        Server server(false, "", false);
        ASSERT_TRUE(server.bound);
        set_current_server_name(server_address);
        run_attempt();
        EXPECT_EQ(sync_step, uint32_t(step_valid));
        EXPECT_EQ(sync_failed, 0u);
    }
    // Every worker gave back its own Winsock reference, and no more: with the
    // server's gone too, Winsock is down again.
    Sleep(100);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(s, INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    if (s != INVALID_SOCKET) closesocket(s);
}

}  // namespace
