// A one-shot time server on a loopback address of the test's own, for the
// protocol client's tests. Runs on a thread; every wait is bounded.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// The same bind in every test: the simulated machine's.
#include "os/win32.h"
#include "replies.h"

// 127.a.b.c, unique per test process and n (1..14), so that parallel tests never
// share a port: the low 20 bits of the pid and four bits of n.
inline std::string own_loopback_address(int n = 1) {
    unsigned pid = (unsigned)getpid() & 0xFFFFFu;
    return "127." + std::to_string(pid >> 12) + "." + std::to_string(pid >> 4 & 0xFF) + "." +
           std::to_string((pid & 0xF) << 4 | (unsigned)n);
}

inline sockaddr_in loopback_at(const std::string& address, uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    return at;
}

// An address of either family, as bind and connect take it.
inline socklen_t any_loopback_at(const std::string& address, uint16_t port, sockaddr_storage* out) {
    *out = sockaddr_storage{};
    if (address.find(':') == std::string::npos) {
        sockaddr_in v4 = loopback_at(address, port);
        memcpy(out, &v4, sizeof v4);
        return sizeof v4;
    }
    auto* v6 = (sockaddr_in6*)out;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr);
    return sizeof *v6;
}

// A client of a time server on port 37, from the given address of its own:
// what it says before it closes; "" when nobody listens.
inline std::string ask_time_server(const std::string& address, const std::string& from_address) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from = loopback_at(from_address, 0);
    ::bind(s, (sockaddr*)&from, sizeof from);
    timeval limit{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in at = loopback_at(address, 37);
    std::string got;
    if (connect(s, (sockaddr*)&at, sizeof at) == 0) {
        char buffer[16];
        ssize_t n;
        while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) got.append(buffer, (size_t)n);
    }
    close(s);
    return got;
}

// One SNTP client request to port 123 from the given address of its own; the
// reply, "" when none came.
inline std::string ask_sntp(const std::string& address, const std::string& from_address) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from = loopback_at(from_address, 0), at = loopback_at(address, 123);
    ::bind(s, (sockaddr*)&from, sizeof from);
    timeval limit{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string request(48, '\0');
    request[0] = 0x23;
    sendto(s, request.data(), request.size(), 0, (sockaddr*)&at, sizeof at);
    char reply[64];
    ssize_t got = recv(s, reply, sizeof reply, 0);
    close(s);
    return got > 0 ? std::string(reply, (size_t)got) : "";
}

class LoopbackServer {
public:
    // The handler gets the request bytes and returns the reply as pieces, each
    // sent on its own after a short pause (none = say nothing).
    using Handler = std::function<std::vector<std::string>(const std::string&)>;

    // A stream server takes up to `connections` connections, one after the other.
    LoopbackServer(bool tcp, const std::string& address, Handler handler, int connections = 1)
        : tcp_(tcp), connections_(connections) {
        sockaddr_storage at;
        socklen_t length = any_loopback_at(address, tcp ? 37 : 123, &at);
        fd_ = socket(at.ss_family, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // A bound for a server nobody stops; stop() ends it at once. Longer
        // than any wait of the program's between two attempts.
        timeval limit{20, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        bound_ = bind(fd_, (sockaddr*)&at, length) == 0 && (!tcp || listen(fd_, 4) == 0);
        if (bound_) thread_ = std::thread([this, handler] { serve(handler); });
    }
    ~LoopbackServer() {
        stop();
        close(fd_);
    }
    void stop() {
        shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
    }
    bool bound() const { return bound_; }
    // Both end the server first, so they never race its thread.
    int requests() { stop(); return requests_; }
    // While it runs: the requests that have reached it so far.
    int received() const { return requests_; }
    std::string last_request() { stop(); return request_; }

private:
    void serve(const Handler& handler) {
        if (!tcp_) {
            char buffer[512];
            sockaddr_storage from{};
            socklen_t length = sizeof from;
            ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, (sockaddr*)&from, &length);
            if (got <= 0) return;
            requests_++;
            request_.assign(buffer, (size_t)got);
            for (const std::string& piece : handler(request_))
                sendto(fd_, piece.data(), piece.size(), 0, (sockaddr*)&from, length);
            return;
        }
        for (int i = 0; i < connections_; i++) {
            int peer = accept(fd_, nullptr, nullptr);
            if (peer < 0) return;
            requests_++;
            for (const std::string& piece : handler("")) {
                send(peer, piece.data(), piece.size(), MSG_NOSIGNAL);
                usleep(50000);
            }
            close(peer);
        }
    }

    bool tcp_;
    int connections_;
    int fd_;
    bool bound_ = false;
    std::atomic<int> requests_{0};
    std::string request_;
    std::thread thread_;
};

// The answers the tests' servers give: the Time Protocol's seconds, an SNTP
// clock `ahead` of the client's by 32.32 seconds, and none at all.
inline LoopbackServer::Handler time_answer(uint32_t seconds) {
    return [seconds](const std::string&) { return std::vector<std::string>{be32(seconds)}; };
}
inline LoopbackServer::Handler sntp_answer(int64_t ahead = 0) {
    return [ahead](const std::string& request) {
        uint64_t t = read64(request, 40) + (uint64_t)ahead;
        return std::vector<std::string>{sntp_reply(request, t, t)};
    };
}
inline std::vector<std::string> no_answer(const std::string&) { return {}; }
