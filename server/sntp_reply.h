// The time server's SNTP answers: what a request gets back, built from the
// state of this computer's last correction, and the rate each client address
// is answered at.
#pragma once
#include <stdint.h>

#include "base/time_protocols.h"
#include "os/win32.h"

// An upstream over the Time Protocol gives no stratum: it counts as stratum 2,
// so this computer serves as 3.
constexpr uint32_t time_protocol_upstream_stratum = 2;
// A clock not corrected for so long is not served as synchronised.
constexpr uint64_t upstream_trusted_ms = 36ull * 3600 * 1000;

// What the last correction learnt of its server; set on the GUI thread.
struct sntp_upstream {
    uint32_t stratum;
    uint32_t root_delay;       // seconds, 16.16
    uint32_t root_dispersion;  // seconds, 16.16
    uint32_t reference_id;     // the upstream's IPv4 address, network order
    uint32_t leap = 0;         // its leap indicator: 1 or 2 warn of a leap second at the month's end
};
// A correction has just set the clock from this upstream.
void set_sntp_upstream(const sntp_upstream& upstream);
// The clock is no longer one to follow: it was set apart from true time on purpose.
void forget_sntp_upstream();
// Every client starts with its whole allowance again (the start of a run, and the tests).
void forget_sntp_clients();

// A client as its rate is counted. Each address has its own allowance, but
// one host can own a whole IPv6 /64 as every host of a LAN shares one: the
// addresses of a /64 that have not asked before also share the prefix's.
struct sntp_client {
    uint64_t prefix;  // an IPv6 address's /64; an IPv4 address, apart from every /64
    uint64_t host;    // the rest of an IPv6 address; 0 for IPv4
    bool in_prefix;   // IPv6
    bool operator==(const sntp_client&) const = default;
};
sntp_client sntp_client_of(const sockaddr_storage& address);
// The reply to one request from client, which arrived at received (a 32.32
// timestamp): its size, or 0 when the request gets no answer. The transmit
// time is stamped just before sending.
int build_sntp_reply(const unsigned char* request, int length, const sntp_client& client, uint64_t received,
                     unsigned char (&reply)[sntp_packet_size]);
void stamp_transmit_time(unsigned char (&reply)[sntp_packet_size], uint64_t now);
