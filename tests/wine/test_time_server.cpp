// The time server on Winsock: it answers on port 37 of every interface, and a
// stop while it waits for a client ends it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/win32.h"
#include "server/time_server.h"
#include "store/settings_store.h"
#include "loopback_server.h"
#include "tests/program_state.h"
#include "tests/wait_until.h"

namespace {

// A client socket of either kind that waits 3 s at most for an answer, and
// the port of loopback it asks; Winsock is started for it.
SOCKET loopback_client(int type, u_short port, sockaddr_in& at) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, type, 0);
    DWORD limit = 3000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&limit, sizeof limit);
    at = sockaddr_in{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = inet_addr("127.0.0.1");
    return s;
}

// What port 37 of loopback says before it closes; "" when nobody answers.
std::string ask() {
    sockaddr_in at;
    SOCKET s = loopback_client(SOCK_STREAM, 37, at);
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

// SNTP requests over UDP to port 123 of loopback: each one sent, then the
// first reply that comes back (none within 3 s: "").
std::string sntp_exchange(const std::vector<std::string>& requests) {
    sockaddr_in at;
    SOCKET s = loopback_client(SOCK_DGRAM, 123, at);
    for (const std::string& r : requests) sendto(s, r.data(), (int)r.size(), 0, (sockaddr*)&at, sizeof at);
    char reply[512];
    int got = recv(s, reply, sizeof reply, 0);
    closesocket(s);
    WSACleanup();
    return got > 0 ? std::string(reply, got) : "";
}

std::string sntp_request(char first, char mark) {
    std::string r(48, '\0');
    r[0] = first;
    r[47] = mark;  // the last byte of its transmit time comes back as originate
    return r;
}

TEST(RealTimeServer, AnswersSntpClientsOnly) {
    reset_program_state();
    reset_settings();
    start_time_server();
    std::string reply;
    ASSERT_TRUE(wait_until([&] { return !(reply = sntp_exchange({sntp_request(0x23, 1)})).empty(); }));
    ASSERT_EQ(reply.size(), 48u);
    EXPECT_EQ(reply[0], (char)0xE4) << "version 4, mode 4, and unsynchronised before any correction";
    EXPECT_EQ(reply[31], 1);
    // A control request and a short one get nothing: the reply that comes is the client's.
    reply = sntp_exchange({sntp_request(0x26, 2), sntp_request(0x23, 3).substr(0, 40), sntp_request(0x1B, 4)});
    ASSERT_EQ(reply.size(), 48u);
    EXPECT_EQ(reply[31], 4);
    stop_time_server();
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
