#include "sync/sync_worker.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/filetime.h"
#include "base/text.h"
#include "base/threads.h"
#include "digest/md5.h"
#include "store/server_list.h"
#include "store/settings_store.h"

std::atomic<uint32_t> sync_step;
std::atomic<uint32_t> sync_failed;
std::atomic<uint32_t> timeout_ticks;
std::atomic<uint32_t> force_time_protocol;
std::atomic<uint32_t> auto_protocol{1};
std::atomic<uint32_t> server_clock_valid;
uint32_t sync_address_index;

// Each attempt has a number; only the current attempt may publish or clean up
// the shared slots, so a worker that ends late cannot touch its successor's.
static std::mutex attempt_lock;
static std::condition_variable attempt_ended;
static uint32_t current_attempt;
static uint32_t last_attempt;
static SOCKET sync_socket = INVALID_SOCKET;
static HANDLE sync_thread;
// The current attempt's result, under attempt_lock.
static attempt_result published;


namespace {

// Everything an attempt needs of the settings and of the list, copied by the
// GUI thread when it starts: the worker never reads the live record.
struct attempt_settings {
    bool time_protocol;
    uint32_t server_source;
    char server_name[server_name_size];
    uint32_t timeout_ticks;
    uint32_t address_index;
    uint32_t date_window_enabled;
    uint32_t date_window_start_high, date_window_end_high;
};

// One attempt, owned by its worker thread from start to end.
struct attempt {
    uint32_t id;
    attempt_settings given;
    SOCKET socket = INVALID_SOCKET;
    bool winsock = false;  // holds a Winsock reference of its own
    bool time_protocol = false;
    uint32_t reference_id = 0;  // the server as this computer's own SNTP clients hear of it
    attempt_result result;
};

bool fail(attempt& a, uint32_t why, uint32_t detail = 0) {
    a.result.failure = why;
    a.result.failure_detail = detail;
    return false;
}

// What the last socket call's error says of the server.
bool socket_failed(attempt& a) {
    int error = WSAGetLastError();
    switch (error) {
        // A UDP port nobody listens on comes back as a reset of the "connection".
        case WSAECONNREFUSED:
        case WSAECONNRESET: return fail(a, failure_refused);
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
        case WSAENETDOWN: return fail(a, failure_unreachable);
        default: return fail(a, failure_network, (uint32_t)error);
    }
}

// Runs f under the attempt lock if this attempt is still the current one.
template <typename F>
bool publish(const attempt& a, F f) {
    std::lock_guard<std::mutex> g(attempt_lock);
    if (current_attempt != a.id) return false;
    f();
    return true;
}

// Checked before every use of the socket: once stopped, the socket value may
// already belong to the next attempt.
bool still_current(const attempt& a) {
    return publish(a, [] {});
}

void publish_step(const attempt& a, uint32_t step) {
    publish(a, [&] { sync_step = step; });
}

// The whole result goes out at the end, in one step with what it says.
void publish_result(const attempt& a, bool ok) {
    publish(a, [&] {
        published = a.result;
        if (ok) sync_step = step_valid;
        else sync_failed = 1;
    });
}

attempt_settings take_settings() {
    attempt_settings given{};
    given.time_protocol = effective_protocol() == protocol_time;
    given.server_source = effective_server_source();
    if (given.server_source != source_list) {
        const char* manual = given.server_source == source_manual_a ? settings.manual_address_a : settings.manual_address_b;
        text_copy(given.server_name, sizeof given.server_name, manual);
    } else {
        copy_current_server_name(given.server_name);
    }
    given.timeout_ticks = settings.sync_timeout_seconds * 10;
    given.address_index = given.server_source == source_list ? sync_address_index : 0;
    given.date_window_enabled = settings.date_window_enabled;
    given.date_window_start_high = settings.date_window_start.dwHighDateTime;
    given.date_window_end_high = settings.date_window_end.dwHighDateTime;
    return given;
}

bool choose_time_protocol(const attempt& a) {
    uint32_t high = (uint32_t)(clock_now() >> 32);
    if (high < sane_clock_low || high > sane_clock_high) publish(a, [] { force_time_protocol = 1; });
    return a.given.time_protocol || force_time_protocol;
}

bool open_socket(attempt& a, int family) {
    a.socket = a.time_protocol ? socket(family, SOCK_STREAM, IPPROTO_TCP) : socket(family, SOCK_DGRAM, 0);
    if (a.socket == INVALID_SOCKET) return fail(a, failure_no_socket);
    if (!publish(a, [&] { sync_socket = a.socket; })) {
        // Stopped already: nobody else will close it.
        closesocket(a.socket);
        a.socket = INVALID_SOCKET;
        return false;
    }
    return true;
}

// Manual addresses are dotted IPv4 text, never looked up: one address.
bool manual_address(attempt& a, sockaddr_storage* peer) {
    const char* name = a.given.server_name;
    publish(a, [&] { set_current_server_name(name); });
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = inet_addr(name);
    if (v4.sin_addr.s_addr == INADDR_NONE) return fail(a, failure_not_an_address);
    *peer = sockaddr_storage{};
    memcpy(peer, &v4, sizeof v4);
    a.result.address_count = 1;
    return true;
}

// The address this attempt asks of the entry's name, in the resolver's order.
bool resolve_server(attempt& a, sockaddr_storage* peer) {
    if (a.given.server_source != source_list) return manual_address(a, peer);
    char host[server_name_size];
    if (!host_of_entry(a.given.server_name, host)) return fail(a, failure_not_usable);
    sockaddr_storage found[most_addresses];
    int count = resolve_host(host, found);
    a.result.address_count = (uint32_t)count;
    if (count == 0 || a.given.address_index >= (uint32_t)count) return fail(a, failure_name_not_found);
    *peer = found[a.given.address_index];
    return true;
}

// What this computer's SNTP clients hear of the upstream: its IPv4 address.
uint32_t reference_id_of(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET) return ((const sockaddr_in*)&peer)->sin_addr.s_addr;
    // An IPv6 upstream: the first four octets of the MD5 of its address.
    unsigned char digest[16];
    md5_digest(((const sockaddr_in6*)&peer)->sin6_addr.s6_addr, 16, digest);
    uint32_t id;
    memcpy(&id, digest, 4);
    return id;
}

// Reads exactly count bytes; a closed connection, an error or a stop fails at once.
bool receive_exactly(attempt& a, unsigned char* buffer, int count) {
    int at = 0;
    while (count > 0) {
        if (!still_current(a)) return false;
        int got = recv(a.socket, (char*)buffer + at, count, 0);
        if (got == SOCKET_ERROR) return socket_failed(a);
        if (got <= 0) return fail(a, failure_closed);
        at += got;
        count -= got;
    }
    return true;
}

uint32_t saturating_add(uint32_t a, uint32_t b) { return a > UINT32_MAX - b ? UINT32_MAX : a + b; }

void take_reply(attempt& a) {
    a.result.reply_tick = GetTickCount();
    a.result.protocol = a.time_protocol ? protocol_time : protocol_sntp;
    publish_step(a, step_reply);
}

bool exchange_time_protocol(attempt& a) {
    unsigned char reply[time_protocol_reply_size];
    uint32_t seconds;
    if (!receive_exactly(a, reply, sizeof reply)) return false;
    if (!read_time_protocol_reply(reply, &seconds)) return fail(a, failure_no_time);
    take_reply(a);
    // Whole seconds, and the clock is set from them: up to a second off.
    a.result.upstream = {time_protocol_upstream_stratum, 0, 0x10000, a.reference_id};
    a.result.seconds = seconds;
    return true;
}

bool exchange_sntp(attempt& a) {
    unsigned char packet[sntp_packet_size] = {27};
    if (!still_current(a)) return false;
    // Nothing between the stamps and the socket calls: a wait there is half an error.
    uint64_t t1 = filetime_to_timestamp(precise_clock_now());
    write_be64(packet + 40, t1);
    send(a.socket, (const char*)packet, sntp_packet_size, 0);
    unsigned char reply[sntp_packet_size];
    if (!receive_exactly(a, reply, sntp_packet_size)) return false;
    uint64_t t4 = filetime_to_timestamp(precise_clock_now());
    uint32_t detail = 0;
    uint32_t fault = read_sntp_answer(reply, t1, t4, a.reference_id, a.result, &detail);
    if (fault != failure_none) return fail(a, fault, detail);
    take_reply(a);
    return true;
}

bool exchange(attempt& a) {
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) return fail(a, failure_no_socket);
    a.winsock = true;
    publish_step(a, step_sockets);
    sockaddr_storage peer;
    if (!resolve_server(a, &peer)) return false;
    // A look-up cannot be interrupted, so a stop may have come meanwhile.
    if (!open_socket(a, peer.ss_family)) return false;
    address_text(peer, a.result.address);
    bool current = publish(a, [&] {
        text_copy(published.address, sizeof published.address, a.result.address);
        published.address_count = a.result.address_count;
        sync_step = step_address;
    });
    if (!current) return false;
    a.reference_id = reference_id_of(peer);
    // Sent from a port of the system's choosing, never 123; connected, the
    // socket takes replies from this address and port alone.
    uint16_t port = htons(a.time_protocol ? time_protocol_port : sntp_port);
    int length = peer.ss_family == AF_INET6 ? (int)sizeof(sockaddr_in6) : (int)sizeof(sockaddr_in);
    if (peer.ss_family == AF_INET6) ((sockaddr_in6*)&peer)->sin6_port = port;
    else ((sockaddr_in*)&peer)->sin_port = port;
    if (!still_current(a)) return false;
    if (connect(a.socket, (const sockaddr*)&peer, length) == SOCKET_ERROR) return socket_failed(a);
    publish_step(a, step_connected);
    return a.time_protocol ? exchange_time_protocol(a) : exchange_sntp(a);
}

bool date_window_accepts(const attempt& a) {
    if (!a.given.date_window_enabled) return true;
    uint32_t high = (uint32_t)(protocol_seconds_to_filetime(a.result.seconds) >> 32);
    return high >= a.given.date_window_start_high && high <= a.given.date_window_end_high;
}

// Closes the socket only while the slot still holds it; a stop has closed it otherwise.
void release_socket(attempt& a) {
    if (a.socket == INVALID_SOCKET) return;
    bool mine = publish(a, [] { sync_socket = INVALID_SOCKET; });
    if (mine) closesocket(a.socket);
    a.socket = INVALID_SOCKET;
}

DWORD WINAPI sync_worker(LPVOID param) {
    attempt* a = (attempt*)param;
    publish(*a, [&] {
        sync_failed = 0;
        timeout_ticks = a->given.timeout_ticks;
        sync_step = step_started;
    });
    a->time_protocol = choose_time_protocol(*a);
    bool ok = exchange(*a);
    release_socket(*a);
    // Its own reference: the next attempt and the time server hold theirs.
    if (a->winsock) WSACleanup();
    if (ok && !date_window_accepts(*a)) ok = fail(*a, failure_date_window);
    publish_result(*a, ok);
    attempt_ended.notify_all();
    delete a;
    return 0;
}

}  // namespace

bool host_of_entry(const char* entry, char (&out)[server_name_size]) {
    if (entry[0] != '[') {
        text_copy(out, sizeof out, entry);
        return true;
    }
    const char* end = strchr(entry, ']');
    if (!end || end[1] != 0) return false;
    size_t length = (size_t)(end - entry - 1);
    memcpy(out, entry + 1, length);
    out[length] = 0;
    return true;
}

uint32_t effective_protocol() { return settings.protocol == protocol_auto ? auto_protocol.load() : settings.protocol; }

bool read_time_protocol_reply(const unsigned char (&reply)[time_protocol_reply_size], uint32_t* seconds) {
    *seconds = read_be32(reply);
    return *seconds != 0;
}

uint32_t sntp_reply_fault(const unsigned char (&reply)[sntp_packet_size], uint64_t t1, uint64_t t4,
                          uint64_t* transmit, int64_t* sum, uint32_t* detail) {
    unsigned leap = reply[0] >> 6, mode = reply[0] & 7, stratum = reply[1];
    if (mode != 4) return failure_not_a_reply;
    if (stratum == 0) {
        *detail = read_be32(reply + 12);
        return failure_kiss_of_death;
    }
    if (leap == 3 || stratum > 15) return failure_unsynchronised;
    if (read_be64(reply + 24) != t1) return failure_not_our_request;
    uint64_t t2 = read_be64(reply + 32), t3 = read_be64(reply + 40);
    if (t3 == 0) return failure_no_time;
    *transmit = t3;
    // A sum past 64 bits means a server some 34 years away from us: no answer
    // to believe, and a wrapped sum would move the clock by a wrong amount.
    if (__builtin_add_overflow((int64_t)(t2 - t1), (int64_t)(t3 - t4), sum)) return failure_out_of_reach;
    return failure_none;
}

uint32_t read_sntp_answer(const unsigned char (&reply)[sntp_packet_size], uint64_t t1, uint64_t t4,
                          uint32_t served_reference, attempt_result& out, uint32_t* detail) {
    int64_t sum;
    uint64_t t3;
    uint32_t fault = sntp_reply_fault(reply, t1, t4, &t3, &sum, detail);
    if (fault != failure_none) return fault;
    // This exchange's round trip adds to the server's own distance from its
    // reference, in delay and, half of it, in dispersion (16.16 seconds).
    int64_t round_trip = (int64_t)(t4 - t1) - (int64_t)(t3 - read_be64(reply + 32));
    uint32_t trip = round_trip > 0 ? (uint32_t)std::min<int64_t>(round_trip >> 16, UINT32_MAX) : 0;
    // Added without wrapping: a distance near the limit must not turn into a small one.
    out.upstream = {reply[1], saturating_add(read_be32(reply + 4), trip),
                    saturating_add(read_be32(reply + 8), trip / 2), served_reference, (uint32_t)reply[0] >> 6};
    out.reference_id = read_be32(reply + 12);
    out.reference_time = read_be64(reply + 16);
    out.delay = trip;
    out.seconds = (uint32_t)(t3 >> 32);
    out.milliseconds = (uint32_t)(((t3 & 0xFFFFFFFFu) * 1000) >> 32);
    out.offset_sum = sum;
    return failure_none;
}

void sync_failure_text(uint32_t reason, uint32_t detail, char (&out)[failure_text_size]) {
    static const char* const texts[] = {
        "",
        "no thread for the attempt",
        "no socket",
        "name not found",
        "not an IPv4 address",
        "refused",
        "unreachable",
        "network error ",
        "connection closed early",
        "timed out",
        "not a server's reply",
        "server not synchronised",
        "kiss-o'-death ",
        "not an answer to our request",
        "server without the time",
        "time out of reach",
        "outside the date window",
        "not usable",
    };
    text_copy(out, sizeof out, reason < sizeof texts / sizeof *texts ? texts[reason] : "");
    if (reason == failure_network) {
        char number[12];
        text_of_int((int32_t)detail, number);
        text_append(out, sizeof out, number);
    } else if (reason == failure_kiss_of_death) {
        // The server's own four letters ("RATE", "DENY"), whatever bytes it sent.
        char code[5];
        for (int i = 0; i < 4; i++) {
            unsigned char c = (unsigned char)(detail >> (24 - 8 * i));
            code[i] = c >= ' ' && c < 127 ? (char)c : '?';
        }
        code[4] = 0;
        text_append(out, sizeof out, code);
    }
}

bool start_sync_worker() {
    attempt* a = new attempt;
    a->given = take_settings();
    std::lock_guard<std::mutex> g(attempt_lock);
    // Number 0 means "no attempt", so it is never handed out.
    if (++last_attempt == 0) ++last_attempt;
    current_attempt = a->id = last_attempt;
    sync_step = 0;
    sync_failed = 0;
    published = attempt_result{};
    // The last worker's handle stays here until now, so that a stop can wait for its end.
    if (sync_thread) CloseHandle(sync_thread);
    DWORD id;
    sync_thread = CreateThread(nullptr, 0, sync_worker, a, 0, &id);
    if (sync_thread) return true;
    current_attempt = 0;
    delete a;
    return false;
}

attempt_result sync_result() {
    std::lock_guard<std::mutex> g(attempt_lock);
    return published;
}

void fail_sync_attempt(uint32_t reason) {
    std::lock_guard<std::mutex> g(attempt_lock);
    published.failure = reason;
    published.failure_detail = 0;
    sync_failed = 1;
}

void wait_for_sync_result(DWORD ms) {
    std::unique_lock<std::mutex> g(attempt_lock);
    attempt_ended.wait_for(g, std::chrono::milliseconds(ms), [] { return sync_step == step_valid || sync_failed; });
}

void stop_sync_worker() {
    SOCKET s;
    HANDLE thread;
    {
        std::lock_guard<std::mutex> g(attempt_lock);
        current_attempt = 0;
        s = sync_socket;
        sync_socket = INVALID_SOCKET;
        thread = sync_thread;
        sync_thread = nullptr;
    }
    end_blocked_thread(s, thread);
}
