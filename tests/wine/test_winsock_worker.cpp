// The protocol client over Winsock and Win32 threads, against servers on loopback.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>

#include "base/text.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"
#include "tests/program_state.h"

namespace {

// Wine binds a datagram socket to every interface whatever address it is given,
// so its replies leave from 127.0.0.1 and only a client of that address sees them.
const char* const server_address = "127.0.0.1";

// A one-shot server on port 37 (stream) or 123 (datagram) of server_address.
struct Server {
    SOCKET s;
    std::thread thread;
    bool bound = false;
    Server(bool tcp, std::string reply, bool split) {
        // Our own start-up: the worker's cleanup must not pull Winsock from under us.
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        s = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        DWORD limit = 5000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&limit, sizeof limit);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(tcp ? 37 : 123);
        at.sin_addr.s_addr = inet_addr(server_address);
        bound = bind(s, (sockaddr*)&at, sizeof at) == 0 && (!tcp || listen(s, 2) == 0);
        if (!bound) return;
        thread = std::thread([this, tcp, reply, split] {
            if (tcp) {
                SOCKET peer = accept(s, nullptr, nullptr);
                if (peer == INVALID_SOCKET) return;
                if (split) {
                    send(peer, reply.data(), 1, 0);
                    Sleep(50);
                    send(peer, reply.data() + 1, (int)reply.size() - 1, 0);
                } else {
                    send(peer, reply.data(), (int)reply.size(), 0);
                }
                Sleep(50);
                closesocket(peer);
                return;
            }
            char request[48];
            sockaddr_in from{};
            int length = sizeof from;
            if (recvfrom(s, request, sizeof request, 0, (sockaddr*)&from, &length) != 48) return;
            std::string r(48, '\0');
            r[0] = 0x24;
            r[1] = 1;
            r.replace(24, 8, std::string(request + 40, 8));  // originate
            r.replace(32, 8, std::string(request + 40, 8));
            r.replace(40, 8, std::string(request + 40, 8));
            sendto(s, r.data(), 48, 0, (sockaddr*)&from, length);
        });
    }
    ~Server() {
        closesocket(s);
        if (thread.joinable()) thread.join();
        WSACleanup();
    }
};

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
