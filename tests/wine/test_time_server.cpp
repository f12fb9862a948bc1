// The time server on Winsock: it answers on port 37 of every interface, and a
// stop while it waits for a client ends it.
#include <gtest/gtest.h>

#include <string>

#include "os/win32.h"
#include "server/time_server.h"
#include "store/settings_store.h"
#include "loopback_server.h"
#include "tests/program_state.h"
#include "tests/wait_until.h"

namespace {

// What port 37 of loopback says before it closes; "" when nobody answers.
std::string ask() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    DWORD limit = 3000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&limit, sizeof limit);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(37);
    at.sin_addr.s_addr = inet_addr("127.0.0.1");
    std::string got;
    if (connect(s, (sockaddr*)&at, sizeof at) == 0) {
        char buffer[16];
        int n;
        while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) got.append(buffer, n);
    }
    closesocket(s);
    WSACleanup();
    return got;
}

TEST(RealTimeServer, AnswersThenStops) {
    reset_program_state();
    reset_settings();
    start_time_server();
    std::string answer;
    ASSERT_TRUE(wait_until([&] { return !(answer = ask()).empty(); }));
    ASSERT_EQ(answer.size(), 4u);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint32_t expected = (uint32_t)(((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) / 10000000 - 9435484800ull);
    uint32_t got = (uint32_t)(unsigned char)answer[0] << 24 | (uint32_t)(unsigned char)answer[1] << 16 |
                   (uint32_t)(unsigned char)answer[2] << 8 | (unsigned char)answer[3];
    EXPECT_LE(expected - got, 2u);

    stop_time_server();
    EXPECT_EQ(ask(), "");
    // Blocked in accept for ever, unless closing its socket woke it.
    EXPECT_TRUE(wait_until(winsock_is_down));
}

}  // namespace
