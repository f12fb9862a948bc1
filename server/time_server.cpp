#include "server/time_server.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/filetime.h"
#include "window/status_line.h"
#include "base/text.h"
#include "base/threads.h"
#include "os/resolver.h"
#include "server/sntp_reply.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"

std::atomic<uint32_t> time_server_running;

// Each protocol listens on a socket of each family: the two stacks of Windows
// XP are apart, and one code path serves everywhere. The sockets and threads
// belong to the server; the GUI thread takes them under the lock to stop it.
struct listener {
    int family, type;
    SOCKET socket;
    HANDLE thread;
};
uint32_t time_server_elsewhere;

static const int listener_count = 4;
static std::mutex server_lock;
static listener listeners[listener_count] = {{AF_INET, SOCK_STREAM, INVALID_SOCKET, nullptr},
                                             {AF_INET6, SOCK_STREAM, INVALID_SOCKET, nullptr},
                                             {AF_INET, SOCK_DGRAM, INVALID_SOCKET, nullptr},
                                             {AF_INET6, SOCK_DGRAM, INVALID_SOCKET, nullptr}};
static HANDLE report_thread;
// The listeners that have their port, a bit each, for About.
static std::atomic<uint32_t> bound_listeners;
static uint32_t last_server;
static std::atomic<uint32_t> server_log_level;

static const char report_text[] = "Server Pendularked ";
static const DWORD port_retry_ms = 1000;
static const DWORD wait_step_ms = 50;
static const DWORD report_interval_ms = 500;

static bool running(uint32_t server) { return time_server_running == server; }

// Sleeps up to ms, waking early when the server is stopped.
static void wait_while_running(uint32_t server, DWORD ms) {
    for (DWORD waited = 0; waited < ms && running(server); waited += wait_step_ms) Sleep(wait_step_ms);
}

// A socket that listens unbound gets a port of the system's choosing, where
// no client looks: a taken port is waited for instead.
static bool bind_to_port(SOCKET s, int family, int port) {
    if (family == AF_INET) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons((uint16_t)port);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        return bind(s, (const sockaddr*)&any, sizeof any) == 0;
    }
    // IPv6 alone: the IPv4 socket has the port's other half.
    int only = 1;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, (const char*)&only, sizeof only);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons((uint16_t)port);
    any.sin6_addr = in6addr_any;
    return bind(s, (const sockaddr*)&any, sizeof any) == 0;
}

// A backlog of 5 overflows in a burst of clients, and with SYN cookies a
// client whose handshake was dropped waits for ever: the clients of this
// protocol never speak first.
static bool listen_for_clients(SOCKET s) { return listen(s, SOMAXCONN) == 0; }

// The clock's seconds since 1900 in network order; past 2036 the low 32 bits,
// as the client reads them.
static void answer(SOCKET peer) {
    uint32_t seconds = filetime_to_protocol_seconds(clock_now());
    unsigned char reply[time_protocol_reply_size];
    write_be32(reply, seconds);
    send(peer, (const char*)reply, sizeof reply, 0);
    closesocket(peer);
}

// An IPv4 client by its name where it has one; an IPv6 client as "[address]".
static void name_peer(const sockaddr_storage& address, char (&name)[server_name_size]) {
    char text[server_address_size];
    address_text(address, text);
    if (address.ss_family == AF_INET6) {
        text_copy(name, sizeof name, "[");
        text_append(name, sizeof name, text);
        text_append(name, sizeof name, "]");
        return;
    }
    hostent* host = gethostbyaddr((const char*)&((const sockaddr_in*)&address)->sin_addr, 4, AF_INET);
    text_copy(name, sizeof name, host && host->h_name ? host->h_name : text);
}

// Clients waiting for their report, oldest first; a flood beyond the limit is
// answered all the same, only not reported.
static std::mutex report_lock;
static std::condition_variable report_ready;
static std::deque<sockaddr_storage> pending_reports;
static const size_t pending_limit = 256;

static void queue_report(const sockaddr_storage& peer) {
    {
        std::lock_guard<std::mutex> g(report_lock);
        if (pending_reports.size() < pending_limit) pending_reports.push_back(peer);
    }
    report_ready.notify_one();
}

// The next client to report; false once the server has been stopped.
static bool next_report(uint32_t server, sockaddr_storage* peer) {
    std::unique_lock<std::mutex> g(report_lock);
    report_ready.wait(g, [&] { return !running(server) || !pending_reports.empty(); });
    if (!running(server)) return false;
    // Without a log only the newest client can show: a burst costs one look-up.
    if (server_log_level == 0) {
        *peer = pending_reports.back();
        pending_reports.clear();
        return true;
    }
    *peer = pending_reports.front();
    pending_reports.pop_front();
    return true;
}

// The look-up may take seconds and a sync cycle minutes: the report waits for
// both, the clients never do.
static void report(uint32_t server, const sockaddr_storage& address) {
    char name[server_name_size], line[status_text_size];
    name_peer(address, name);
    text_copy(line, sizeof line, report_text);
    text_append(line, sizeof line, name);
    while (running(server) && !set_server_name_if_idle(name)) Sleep(wait_step_ms);
    if (!running(server)) return;
    if (server_log_level != 0) write_log(line);
    post_status(line, hold_result);
}

static DWORD WINAPI report_thread_main(LPVOID param) {
    uint32_t server = (uint32_t)(uintptr_t)param >> 2;
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) return 0;
    sockaddr_storage peer;
    while (next_report(server, &peer)) {
        report(server, peer);
        // The status line shows a report for a tick at least: with no log to
        // write, the clients of the next half second make one report.
        if (server_log_level == 0) wait_while_running(server, report_interval_ms);
    }
    WSACleanup();
    return 0;
}

// A port another program holds is said once; it is tried again every second.
static void tell_port_taken(const char* text) {
    post_status(text, hold_result);
    if (log_errors(server_log_level)) write_log(text);
}

static void serve_time_protocol(uint32_t server, SOCKET s, int family) {
    bool listening = false, told = false;
    while (running(server)) {
        if (!listening && (listening = bind_to_port(s, family, time_protocol_port) && listen_for_clients(s)))
            bound_listeners |= family == AF_INET ? 1u : 2u;
        if (!listening) {
            if (!told) tell_port_taken(family == AF_INET ? "Time server: TCP port 37 is in use"
                                                         : "Time server: TCP port 37 is in use over IPv6");
            told = true;
            wait_while_running(server, port_retry_ms);
            continue;
        }
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        SOCKET client = accept(s, (sockaddr*)&peer, &length);
        if (client == INVALID_SOCKET) {
            wait_while_running(server, wait_step_ms);  // never spin on a failing accept
            continue;
        }
        answer(client);
        queue_report(peer);
    }
}

// A client that polls is reported once a minute, not at every poll.
static bool sntp_report_due(const sntp_client& address) {
    struct seen { sntp_client address; uint64_t tick; bool used; };
    static seen clients[64];
    static const uint64_t report_every_ms = 60000;
    uint64_t now = GetTickCount64();
    seen* oldest = &clients[0];
    for (seen& c : clients) {
        if (c.used && c.address == address) {
            if (now - c.tick < report_every_ms) return false;
            c.tick = now;
            return true;
        }
        // A free slot is taken before any client is forgotten.
        if (!c.used ? oldest->used : oldest->used && c.tick < oldest->tick) oldest = &c;
    }
    *oldest = seen{address, now, true};
    return true;
}

static void serve_sntp(uint32_t server, SOCKET s, int family) {
    bool bound = false, told = false;
    int failures = 0;
    while (running(server)) {
        if (!bound && (bound = bind_to_port(s, family, sntp_port))) bound_listeners |= family == AF_INET ? 4u : 8u;
        if (!bound) {
            // Windows' own time service may hold it.
            if (!told) tell_port_taken(family == AF_INET ? "Time server: UDP port 123 is in use"
                                                         : "Time server: UDP port 123 is in use over IPv6");
            told = true;
            wait_while_running(server, port_retry_ms);
            continue;
        }
        unsigned char request[512], reply[sntp_packet_size];
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int got = (int)recvfrom(s, (char*)request, sizeof request, 0, (sockaddr*)&peer, &length);
        uint64_t received = filetime_to_timestamp(precise_clock_now());
        // Windows answers a datagram to a closed port with an error on this
        // socket: the next request is served all the same, and only a socket
        // that fails on and on is given a rest.
        if (got <= 0) {
            if (++failures > 100) wait_while_running(server, wait_step_ms);
            continue;
        }
        failures = 0;
        sntp_client client = sntp_client_of(peer);
        int size = build_sntp_reply(request, got, client, received, reply);
        if (size == 0) continue;
        stamp_transmit_time(reply, filetime_to_timestamp(precise_clock_now()));
        sendto(s, (const char*)reply, size, 0, (const sockaddr*)&peer, length);
        if (sntp_report_due(client)) queue_report(peer);
    }
}

// A thread's parameter: the server's number and its listener's place.
static LPVOID thread_param(uint32_t server, int index) { return (LPVOID)(uintptr_t)(server << 2 | (uint32_t)index); }

// One listener of the server: its socket made, published for the stop to close,
// and served. A family this Windows lacks serves nothing, and says nothing.
static DWORD WINAPI listener_thread(LPVOID param) {
    uint32_t server = (uint32_t)(uintptr_t)param >> 2;
    listener& own = listeners[(uintptr_t)param & 3];
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) return 0;
    SOCKET s = socket(own.family, own.type, 0);
    bool mine = false;
    if (s != INVALID_SOCKET) {
        std::lock_guard<std::mutex> g(server_lock);
        mine = running(server);
        if (mine) own.socket = s;
    }
    // Once published, the socket is closed by the stop, never here.
    if (mine && own.type == SOCK_STREAM) serve_time_protocol(server, s, own.family);
    else if (mine) serve_sntp(server, s, own.family);
    else if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return 0;
}

void start_time_server() {
    if (time_server_elsewhere) return;
    std::lock_guard<std::mutex> g(server_lock);
    if (listeners[0].thread) return;
    server_log_level = settings.log_level;
    // The number shares a thread's parameter with the listener's place.
    if (++last_server >= 1u << 29) last_server = 1;
    {
        // Reports of a stopped server are not this one's.
        std::lock_guard<std::mutex> r(report_lock);
        pending_reports.clear();
        bound_listeners = 0;
        time_server_running = last_server;
    }
    DWORD id;
    bool all = true;
    for (int i = 0; i < listener_count && all; i++)
        all = (listeners[i].thread = CreateThread(nullptr, 0, listener_thread, thread_param(last_server, i), 0, &id));
    report_thread = all ? CreateThread(nullptr, 0, report_thread_main, thread_param(last_server, 0), 0, &id) : nullptr;
    if (report_thread) return;
    // Without all of them the server would be half there: none runs.
    time_server_running = 0;
}

void set_time_server_log_level(uint32_t level) { server_log_level = level; }

void describe_listening(char (&out)[listening_text_size]) {
    uint32_t bound = time_server_running ? bound_listeners.load() : 0;
    if (!bound) {
        text_copy(out, sizeof out, time_server_running ? "waiting for its ports" : "off");
        return;
    }
    static const char* const names[] = {"0.0.0.0:37", "[::]:37", "0.0.0.0:123", "[::]:123"};
    out[0] = 0;
    for (int i = 0; i < listener_count; i++) {
        if (!(bound >> i & 1)) continue;
        bool first_of_protocol = !(bound & (i < 2 ? 3u : 12u) & ((1u << i) - 1));
        if (first_of_protocol) {
            if (out[0]) text_append(out, sizeof out, "; ");
            text_append(out, sizeof out, i < 2 ? "TCP " : "UDP ");
        } else {
            text_append(out, sizeof out, ", ");
        }
        text_append(out, sizeof out, names[i]);
    }
}

template <typename T>
static T take(T& slot, T empty) {
    T value = slot;
    slot = empty;
    return value;
}

void stop_time_server() {
    SOCKET sockets[listener_count];
    HANDLE threads[listener_count], reporter;
    {
        std::lock_guard<std::mutex> g(server_lock);
        {
            std::lock_guard<std::mutex> r(report_lock);
            time_server_running = 0;
        }
        for (int i = 0; i < listener_count; i++) {
            sockets[i] = take(listeners[i].socket, INVALID_SOCKET);
            threads[i] = take(listeners[i].thread, (HANDLE) nullptr);
        }
        reporter = take(report_thread, (HANDLE) nullptr);
    }
    report_ready.notify_all();
    for (int i = 0; i < listener_count; i++) end_blocked_thread(sockets[i], threads[i]);
    // A reporter inside a look-up is let go; it reports nothing afterwards.
    end_blocked_thread(INVALID_SOCKET, reporter);
}
