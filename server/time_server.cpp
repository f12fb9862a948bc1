#include "server/time_server.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/filetime.h"
#include "window/status_line.h"
#include "base/text.h"
#include "base/threads.h"
#include "server/sntp_reply.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"

std::atomic<uint32_t> time_server_running;

// The listening socket and the thread belong to the server; the GUI thread
// takes them under the lock to stop it.
static std::mutex server_lock;
static SOCKET server_socket = INVALID_SOCKET;
static HANDLE server_thread;
static SOCKET sntp_socket = INVALID_SOCKET;
static HANDLE sntp_thread;
static HANDLE report_thread;
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
static bool bind_to_port(SOCKET s, int port) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons((uint16_t)port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
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

static void name_peer(const in_addr& address, char (&name)[server_name_size]) {
    hostent* host = gethostbyaddr((const char*)&address, 4, AF_INET);
    text_copy(name, sizeof name, host && host->h_name ? host->h_name : inet_ntoa(address));
}

// Clients waiting for their report, oldest first; a flood beyond the limit is
// answered all the same, only not reported.
static std::mutex report_lock;
static std::condition_variable report_ready;
static std::deque<in_addr> pending_reports;
static const size_t pending_limit = 256;

static void queue_report(const in_addr& peer) {
    {
        std::lock_guard<std::mutex> g(report_lock);
        if (pending_reports.size() < pending_limit) pending_reports.push_back(peer);
    }
    report_ready.notify_one();
}

// The next client to report; false once the server has been stopped.
static bool next_report(uint32_t server, in_addr* peer) {
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
static void report(uint32_t server, const in_addr& address) {
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
    uint32_t server = (uint32_t)(uintptr_t)param;
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) return 0;
    in_addr peer;
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

static void serve_time_protocol(uint32_t server, SOCKET s) {
    bool listening = false, told = false;
    while (running(server)) {
        if (!listening && !(listening = bind_to_port(s, time_protocol_port) && listen_for_clients(s))) {
            if (!told) tell_port_taken("Time server: TCP port 37 is in use");
            told = true;
            wait_while_running(server, port_retry_ms);
            continue;
        }
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        SOCKET client = accept(s, (sockaddr*)&peer, &length);
        if (client == INVALID_SOCKET) {
            wait_while_running(server, wait_step_ms);  // never spin on a failing accept
            continue;
        }
        answer(client);
        queue_report(peer.sin_addr);
    }
}

// A client that polls is reported once a minute, not at every poll.
static bool sntp_report_due(uint32_t address) {
    struct seen { uint32_t address; uint64_t tick; bool used; };
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

static void serve_sntp(uint32_t server, SOCKET s) {
    bool bound = false, told = false;
    int failures = 0;
    while (running(server)) {
        if (!bound && !(bound = bind_to_port(s, sntp_port))) {
            // Windows' own time service may hold it.
            if (!told) tell_port_taken("Time server: UDP port 123 is in use");
            told = true;
            wait_while_running(server, port_retry_ms);
            continue;
        }
        unsigned char request[512], reply[sntp_packet_size];
        sockaddr_in peer{};
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
        int size = build_sntp_reply(request, got, peer.sin_addr.s_addr, received, reply);
        if (size == 0) continue;
        stamp_transmit_time(reply, filetime_to_timestamp(precise_clock_now()));
        sendto(s, (const char*)reply, size, 0, (const sockaddr*)&peer, length);
        if (sntp_report_due(peer.sin_addr.s_addr)) queue_report(peer.sin_addr);
    }
}

// One socket of the server: made, published for the stop to close, served.
static void run_socket(uint32_t server, int type, SOCKET& slot, void (*serve)(uint32_t, SOCKET)) {
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) return;
    SOCKET s = socket(AF_INET, type, 0);
    bool mine = false;
    if (s != INVALID_SOCKET) {
        std::lock_guard<std::mutex> g(server_lock);
        mine = running(server);
        if (mine) slot = s;
    }
    // Once published, the socket is closed by the stop, never here.
    if (mine) serve(server, s);
    else if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
}

DWORD WINAPI time_server_thread(LPVOID param) {
    run_socket((uint32_t)(uintptr_t)param, SOCK_STREAM, server_socket, serve_time_protocol);
    return 0;
}

static DWORD WINAPI sntp_thread_main(LPVOID param) {
    run_socket((uint32_t)(uintptr_t)param, SOCK_DGRAM, sntp_socket, serve_sntp);
    return 0;
}

void start_time_server() {
    std::lock_guard<std::mutex> g(server_lock);
    if (server_thread) return;
    server_log_level = settings.log_level;
    if (++last_server == 0) ++last_server;
    {
        // Reports of a stopped server are not this one's.
        std::lock_guard<std::mutex> r(report_lock);
        pending_reports.clear();
        time_server_running = last_server;
    }
    DWORD id;
    LPVOID param = (LPVOID)(uintptr_t)last_server;
    server_thread = CreateThread(nullptr, 0, time_server_thread, param, 0, &id);
    sntp_thread = server_thread ? CreateThread(nullptr, 0, sntp_thread_main, param, 0, &id) : nullptr;
    report_thread = sntp_thread ? CreateThread(nullptr, 0, report_thread_main, param, 0, &id) : nullptr;
    if (report_thread) return;
    // Without all three the server would be half there: none runs.
    time_server_running = 0;
}

void set_time_server_log_level(uint32_t level) { server_log_level = level; }

template <typename T>
static T take(T& slot, T empty) {
    T value = slot;
    slot = empty;
    return value;
}

void stop_time_server() {
    SOCKET tcp, udp;
    HANDLE tcp_thread, udp_thread, reporter;
    {
        std::lock_guard<std::mutex> g(server_lock);
        {
            std::lock_guard<std::mutex> r(report_lock);
            time_server_running = 0;
        }
        tcp = take(server_socket, INVALID_SOCKET);
        udp = take(sntp_socket, INVALID_SOCKET);
        tcp_thread = take(server_thread, (HANDLE) nullptr);
        udp_thread = take(sntp_thread, (HANDLE) nullptr);
        reporter = take(report_thread, (HANDLE) nullptr);
    }
    report_ready.notify_all();
    end_blocked_thread(tcp, tcp_thread);
    end_blocked_thread(udp, udp_thread);
    // A reporter inside a look-up is let go; it reports nothing afterwards.
    end_blocked_thread(INVALID_SOCKET, reporter);
}
