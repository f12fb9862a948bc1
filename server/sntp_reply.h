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

// A client as its rate is counted: an IPv4 address, or the /64 of an IPv6
// one, since one host owns a whole /64.
uint64_t sntp_client_key(const sockaddr_storage& address);
// The reply to one request from client (sntp_client_key), which arrived at
// received (a 32.32 timestamp): its size, or 0 when the request gets no
// answer. The transmit time is stamped just before sending.
int build_sntp_reply(const unsigned char* request, int length, uint64_t client, uint64_t received,
                     unsigned char (&reply)[sntp_packet_size]);
void stamp_transmit_time(unsigned char (&reply)[sntp_packet_size], uint64_t now);
