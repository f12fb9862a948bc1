// What real Winsock and Win32 threads add to the protocol client's native
// tests: a stream that hands the reply over in pieces, and a stop that must
// wake a worker blocked in recv.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "loopback_server.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"
#include "tests/program_state.h"
#include "tests/wait_until.h"

namespace {

void run_attempt() {
    ASSERT_TRUE(start_sync_worker());
    ASSERT_TRUE(wait_until([] { return sync_step == step_valid || sync_failed; }));
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

TEST_F(WinsockWorker, TimeProtocolReplyGatheredFromTwoReads) {
    settings.protocol = 0;
    Server server(true, std::string("\xE9\x61\x2C\x00", 4));
    ASSERT_TRUE(server.bound);
    run_attempt();
    EXPECT_EQ(sync_step, uint32_t(step_valid));
    EXPECT_EQ(sync_result().seconds, 0xE9612C00u);
}

// Winsock's own error numbers reach the log's reason.
TEST_F(WinsockWorker, NobodyListeningIsRefused) {
    settings.protocol = 0;
    set_current_server_name("127.0.0.78");
    run_attempt();
    EXPECT_EQ(sync_failed, 1u);
    EXPECT_EQ(sync_result().failure, uint32_t(failure_refused));
}

// Wine gives no way to hold a look-up, so the late worker here is one blocked
// in recv: the stop wakes it by closing its socket, and the next attempt starts
// at once, while the first may still be on its way out.
TEST_F(WinsockWorker, StoppedWorkerEndsAtOnceAndLeavesTheNextAttemptAlone) {
    settings.protocol = 1;
    set_current_server_name("127.0.0.78");  // nobody answers here
    ASSERT_TRUE(start_sync_worker());
    ASSERT_TRUE(wait_until([] { return sync_step == step_connected; }));
    // Blocked in recv for ever, unless closing its socket wakes it: the end
    // of this test finds Winsock down only if it ended.
    stop_sync_worker();

    {
        Server server(false);
        ASSERT_TRUE(server.bound);
        set_current_server_name(server_address);
        run_attempt();
        EXPECT_EQ(sync_step, uint32_t(step_valid));
        EXPECT_EQ(sync_failed, 0u);
        // A server on our own clock, yet Wine's clock moves between our two
        // readings: the sum is small but real.
        EXPECT_LT(sync_result().offset_sum < 0 ? -sync_result().offset_sum : sync_result().offset_sum, 1ll << 32);
    }
    // Every worker gave back its own Winsock reference, and no more: with the
    // server's gone too, Winsock is down again.
    EXPECT_TRUE(wait_until(winsock_is_down));
}

}  // namespace
