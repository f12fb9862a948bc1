#include "server/sntp_reply.h"

#include <string.h>

#include <mutex>

#include "base/filetime.h"

namespace {

std::mutex upstream_lock;
sntp_upstream upstream;
bool corrected;
uint64_t corrected_tick;    // GetTickCount64 at the correction
uint32_t corrected_month;   // year * 12 + month, UTC, of the correction
uint64_t corrected_stamp;   // and the clock then, 32.32: the reference time

// Each request takes two seconds of a client address's allowance; a client
// that asks faster than that on average runs past its burst and is limited.
// An IPv6 address not seen before takes half a second of its /64's as well:
// a LAN's hosts fit in that burst, a flood from ever new addresses does not.
struct client_rate {
    sntp_client client;
    bool whole_prefix;    // the allowance of client.prefix's new addresses
    uint64_t busy_until;  // tick
    uint64_t last_kiss;   // tick, when kissed
    bool kissed;
};
constexpr int tracked_clients = 256;
client_rate rates[tracked_clients];
std::mutex rate_lock;
constexpr uint64_t allowed_interval_ms = 2000;
constexpr uint64_t burst_ms = 8 * allowed_interval_ms;
constexpr uint64_t new_address_interval_ms = 500;
constexpr uint64_t new_address_burst_ms = 64 * new_address_interval_ms;
// A limited client hears "RATE" once a minute, and nothing in between.
constexpr uint64_t kiss_interval_ms = 60000;

enum verdict { answer, kiss, ignore };

client_rate* tracked(const sntp_client& client, bool whole_prefix) {
    for (client_rate& r : rates)
        if (r.client == client && r.whole_prefix == whole_prefix) return &r;
    return nullptr;
}

client_rate& rate_of(const sntp_client& client, bool whole_prefix) {
    if (client_rate* r = tracked(client, whole_prefix)) return *r;
    client_rate* idlest = &rates[0];
    for (client_rate& r : rates)
        if (r.busy_until < idlest->busy_until) idlest = &r;
    *idlest = client_rate{client, whole_prefix, 0, 0, false};
    return *idlest;
}

verdict charge(client_rate& r, uint64_t now, uint64_t interval, uint64_t burst) {
    r.busy_until = (r.busy_until > now ? r.busy_until : now) + interval;
    if (r.busy_until - now <= burst) return answer;
    if (r.kissed && now - r.last_kiss < kiss_interval_ms) return ignore;
    r.kissed = true;
    r.last_kiss = now;
    return kiss;
}

verdict judge(const sntp_client& client, uint64_t now) {
    std::lock_guard<std::mutex> g(rate_lock);
    if (client_rate* known = tracked(client, false)) return charge(*known, now, allowed_interval_ms, burst_ms);
    if (client.in_prefix) {
        verdict v = charge(rate_of({client.prefix, 0, true}, true), now, new_address_interval_ms,
                           new_address_burst_ms);
        if (v != answer) return v;
    }
    return charge(rate_of(client, false), now, allowed_interval_ms, burst_ms);
}

constexpr unsigned char mode_client = 3, mode_server = 4;
constexpr unsigned char leap_unsynchronised = 3;
constexpr signed char precision = -20;  // about a microsecond
constexpr unsigned char stratum_unsynchronised = 16, stratum_kiss = 0;

// The dispersion grows 15 millionths of the time since the correction (16.16 seconds).
uint32_t grown_dispersion(uint32_t root_dispersion, uint64_t elapsed_ms) {
    uint64_t grown = root_dispersion + elapsed_ms * 15 * 65536 / 1000000000;
    return grown > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)grown;
}

// A leap second comes at the end of the month it was announced in.
uint32_t utc_month() {
    FILETIME now = filetime_from(clock_now());
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&now, &utc)) return 0;
    return utc.wYear * 12u + utc.wMonth;
}

}  // namespace

void set_sntp_upstream(const sntp_upstream& from) {
    std::lock_guard<std::mutex> g(upstream_lock);
    upstream = from;
    corrected = true;
    corrected_tick = GetTickCount64();
    corrected_stamp = filetime_to_timestamp(clock_now());
    corrected_month = utc_month();
}

void forget_sntp_upstream() {
    std::lock_guard<std::mutex> g(upstream_lock);
    corrected = false;
}

void forget_sntp_clients() {
    std::lock_guard<std::mutex> r(rate_lock);
    memset(rates, 0, sizeof rates);
}

sntp_client sntp_client_of(const sockaddr_storage& address) {
    // Apart from every /64 a client can have: an IPv4 key's high word, 1, is
    // IPv6 space that is reserved (0:1::/32).
    if (address.ss_family == AF_INET) return {1ull << 32 | ((const sockaddr_in*)&address)->sin_addr.s_addr, 0, false};
    const unsigned char* bytes = ((const sockaddr_in6*)&address)->sin6_addr.s6_addr;
    return {read_be64(bytes), read_be64(bytes + 8), true};
}

int build_sntp_reply(const unsigned char* request, int length, const sntp_client& client, uint64_t received,
                     unsigned char (&reply)[sntp_packet_size]) {
    // Only a client's request of a known version, extension fields or not: an
    // answer is never larger than what asked for it.
    if (length < sntp_packet_size) return 0;
    unsigned version = request[0] >> 3 & 7, mode = request[0] & 7;
    if (mode != mode_client || version < 1 || version > 4) return 0;
    uint64_t now = GetTickCount64();
    verdict v = judge(client, now);
    if (v == ignore) return 0;

    memset(reply, 0, sizeof reply);
    reply[2] = request[2];  // the client's poll interval
    reply[3] = (unsigned char)precision;
    memcpy(reply + 24, request + 40, 8);  // its transmit time becomes our originate time
    write_be64(reply + 32, received);
    unsigned char leap = 0, stratum;
    if (v == kiss) {
        leap = leap_unsynchronised;
        stratum = stratum_kiss;
        memcpy(reply + 12, "RATE", 4);
    } else {
        std::lock_guard<std::mutex> g(upstream_lock);
        // A clock nobody set, set too long ago, or set from a server at the
        // last stratum that counts, is not one to follow.
        uint64_t since = now - corrected_tick;
        if (!corrected || since > upstream_trusted_ms || upstream.stratum >= 15) {
            leap = leap_unsynchronised;
            stratum = stratum_unsynchronised;
        } else {
            stratum = (unsigned char)(upstream.stratum + 1);
            // The upstream's warning of a leap second holds until its month ends.
            if (upstream.leap != 0 && upstream.leap < leap_unsynchronised && utc_month() == corrected_month)
                leap = (unsigned char)upstream.leap;
            write_be32(reply + 4, upstream.root_delay);
            write_be32(reply + 8, grown_dispersion(upstream.root_dispersion, since));
            memcpy(reply + 12, &upstream.reference_id, 4);
            write_be64(reply + 16, corrected_stamp);
        }
    }
    reply[0] = (unsigned char)(leap << 6 | version << 3 | mode_server);
    reply[1] = stratum;
    return sntp_packet_size;
}

void stamp_transmit_time(unsigned char (&reply)[sntp_packet_size], uint64_t now) { write_be64(reply + 40, now); }
