// Winsock of the simulated machine: real BSD sockets, and a resolver that
// answers the names tests add.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#include "os/resolver.h"
#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

int WSAStartup(WORD version, WSADATA* data) {
    data->wVersion = version;
    data->wHighVersion = 0x0202;
    std::lock_guard<std::mutex> g(machine().lock);
    state().winsock_users++;
    return 0;
}

int WSACleanup() {
    std::lock_guard<std::mutex> g(machine().lock);
    if (state().winsock_users == 0) return SOCKET_ERROR;
    state().winsock_users--;
    return 0;
}

int WSAGetLastError() {
    switch (errno) {
        case ENETDOWN: return WSAENETDOWN;
        case ENETUNREACH: return WSAENETUNREACH;
        case ECONNRESET: return WSAECONNRESET;
        case ECONNREFUSED: return WSAECONNREFUSED;
        case EHOSTUNREACH: return WSAEHOSTUNREACH;
        default: return 10000 + errno;
    }
}

int os_test_winsock_users() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().winsock_users;
}

void os_test_add_host(const std::string& name, const std::string& addresses, bool held) {
    State::Host host{};
    size_t at = 0;
    while (at < addresses.size()) {
        size_t end = addresses.find(' ', at);
        std::string text = addresses.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? addresses.size() : end + 1;
        sockaddr_storage address{};
        auto* v4 = (sockaddr_in*)&address;
        auto* v6 = (sockaddr_in6*)&address;
        if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) v4->sin_family = AF_INET;
        else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) v6->sin6_family = AF_INET6;
        else continue;
        host.addresses.push_back(address);
    }
    host.held = held;
    std::lock_guard<std::mutex> g(machine().lock);
    state().hosts[lower(name)] = host;
    if (held) state().lookups_released = false;
}

void os_test_release_lookups() {
    std::lock_guard<std::mutex> g(machine().lock);
    state().lookups_released = true;
    machine().lookup_release.notify_all();
}

int os_test_held_lookups() {
    std::lock_guard<std::mutex> g(machine().lock);
    return machine().held_lookups;
}

// A slow resolver: the look-up waits for the test's release, 10 s at most.
static void hold_lookup(std::unique_lock<std::mutex>& g) {
    Machine& m = machine();
    m.held_lookups++;
    m.lookup_release.wait_for(g, std::chrono::seconds(10), [&] { return m.state.lookups_released; });
    m.held_lookups--;
}

static bool network_down() { return state().tick < state().network_down_until; }

void os_test_network_down_for(DWORD ms) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().network_down_until = ms == INFINITE ? UINT64_MAX : state().tick + ms;
}

#undef connect
int os_connect(SOCKET s, const sockaddr* address, socklen_t length) {
    {
        std::lock_guard<std::mutex> g(machine().lock);
        if (network_down()) {
            errno = ENETUNREACH;
            return SOCKET_ERROR;
        }
    }
    return ::connect((int)s, address, length);
}

// Names the tests did not add, and literals, go to the host's own resolver.
int resolve_host(const char* name, sockaddr_storage (&out)[most_addresses]) {
    Machine& m = machine();
    std::unique_lock<std::mutex> g(m.lock);
    auto it = m.state.hosts.find(lower(name));
    if (it != m.state.hosts.end()) {
        if (network_down()) return 0;
        std::vector<sockaddr_storage> addresses = it->second.addresses;
        if (it->second.held) hold_lookup(g);
        int count = 0;
        for (; count < (int)addresses.size() && count < most_addresses; count++) out[count] = addresses[count];
        return count;
    }
    g.unlock();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0) return 0;
    int count = take_addresses(list, out);
    freeaddrinfo(list);
    return count;
}

hostent* os_gethostbyaddr(const char* address, int length, int type) {
    thread_local hostent entry;
    thread_local char name[256];
    if (length != 4 || type != AF_INET) return nullptr;
    std::unique_lock<std::mutex> g(machine().lock);
    for (auto& [host, known] : state().hosts) {
        if (known.addresses.empty()) continue;
        auto* v4 = (const sockaddr_in*)&known.addresses[0];
        if (v4->sin_family != AF_INET || memcmp(&v4->sin_addr, address, 4) != 0) continue;
        if (known.held) hold_lookup(g);
        snprintf(name, sizeof name, "%s", host.c_str());
        entry = hostent{};
        entry.h_name = name;
        entry.h_addrtype = AF_INET;
        entry.h_length = 4;
        return &entry;
    }
    return nullptr;
}

void os_test_set_any_address(const std::string& address) {
    std::lock_guard<std::mutex> g(machine().lock);
    inet_pton(AF_INET, address.c_str(), &state().any_address);
}

#undef socket
SOCKET os_socket(int family, int type, int protocol) {
    {
        std::lock_guard<std::mutex> g(machine().lock);
        if (family == AF_INET6 && !state().ipv6) {
            errno = EAFNOSUPPORT;
            return INVALID_SOCKET;
        }
    }
    int s = ::socket(family, type, protocol);
    return s < 0 ? INVALID_SOCKET : (SOCKET)s;
}

void os_test_set_ipv6(bool available) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().ipv6 = available;
}

#undef bind
int os_test_bind_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().bind_calls;
}

int os_bind(SOCKET s, const sockaddr* address, socklen_t length) {
    {
        std::lock_guard<std::mutex> g(machine().lock);
        state().bind_calls++;
    }
    sockaddr_in at;
    if (length == sizeof at && address->sa_family == AF_INET) {
        memcpy(&at, address, sizeof at);
        if (at.sin_addr.s_addr == htonl(INADDR_ANY)) {
            std::lock_guard<std::mutex> g(machine().lock);
            at.sin_addr = state().any_address;
        }
        int on = 1;
        setsockopt((int)s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        return ::bind((int)s, (const sockaddr*)&at, sizeof at);
    }
    return ::bind((int)s, address, length);
}

#undef listen
int os_test_listen_calls() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().listen_calls;
}

int os_listen(SOCKET s, int backlog) {
    int result = ::listen((int)s, backlog);
    std::lock_guard<std::mutex> g(machine().lock);
    if (result == 0) state().listen_calls++;
    return result;
}

// A blocked recv in another thread only wakes on Linux if the socket is shut
// down first; closesocket on Windows wakes it by itself.
int closesocket(SOCKET s) {
    shutdown((int)s, SHUT_RDWR);
    return close((int)s);
}
