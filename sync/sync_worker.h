// One query of a time server, on a worker thread of its own.
#pragma once
#include <stdint.h>

#include <atomic>

#include "base/time_protocols.h"
#include "os/resolver.h"
#include "os/win32.h"
#include "server/sntp_reply.h"
#include "store/server_list.h"


// Progress of the running attempt, 0..6, and whether it failed; the GUI thread polls them.
extern std::atomic<uint32_t> sync_step;
extern std::atomic<uint32_t> sync_failed;
extern std::atomic<uint32_t> timeout_ticks;   // 100 ms ticks left
extern std::atomic<uint32_t> force_time_protocol;
extern std::atomic<uint32_t> auto_protocol;   // under "Auto": 1 SNTP, 0 Time Protocol
extern std::atomic<uint32_t> server_clock_valid;

// Why an attempt failed: what the log tells after "No response from <server>".
enum sync_failure_reason : uint32_t {
    failure_none,
    failure_no_worker,
    failure_no_socket,
    failure_name_not_found,
    failure_not_an_address,
    failure_refused,
    failure_unreachable,
    failure_network,  // detail: the Winsock error
    failure_closed,
    failure_timed_out,
    failure_not_a_reply,
    failure_unsynchronised,
    failure_kiss_of_death,  // detail: the server's four-letter code
    failure_not_our_request,
    failure_no_time,
    failure_out_of_reach,
    failure_date_window,
    failure_not_usable,  // a list entry that is no name and no address: a bracket left open
};
constexpr int failure_text_size = 48;
// Whether the reason says that this machine has no network yet (no route, no
// name resolves), rather than that a server is wrong or slow.
constexpr bool failure_means_no_network(uint32_t reason) {
    return reason == failure_unreachable || reason == failure_name_not_found;
}
// A walk's failures counted by that: whether it found no network at all.
struct failure_tally {
    uint32_t no_network = 0, other = 0;
    void count(uint32_t reason) { failure_means_no_network(reason) ? no_network++ : other++; }
    bool only_no_network() const { return no_network != 0 && other == 0; }
};
void sync_failure_text(uint32_t reason, uint32_t detail, char (&out)[failure_text_size]);

// What one attempt came to: its server's address from step_address on, and,
// as it ends, its answer or why there was none.
struct attempt_result {
    char address[server_address_size] = "";
    uint32_t address_count = 0;  // the addresses its name has, at most most_addresses
    // The protocol it asked by: what the correction and the texts go by,
    // whatever the settings say meanwhile.
    uint32_t protocol = 0;
    uint32_t seconds = 0;       // protocol seconds of the reply
    uint32_t milliseconds = 0;  // and the milliseconds of an SNTP reply
    int64_t offset_sum = 0;     // SNTP (T2 - T1) + (T3 - T4), 32.32
    uint32_t reply_tick = 0;    // the tick count at the reply
    uint32_t delay = 0;         // this exchange's round trip, 16.16 seconds; 0 for the Time Protocol
    sntp_upstream upstream{};   // the server's own distance from true time, and this exchange's
    // The server's reference as its SNTP reply names it, and when it last set
    // its clock: two servers seldom share both, one host's addresses always.
    uint32_t reference_id = 0;
    uint64_t reference_time = 0;
    uint32_t failure = failure_none, failure_detail = 0;
};
// Which address of the name the next attempt asks, from 0; the GUI thread's.
extern uint32_t sync_address_index;

// The running or last attempt's result, as one value.
attempt_result sync_result();
// Fails the attempt from outside, once its worker has been stopped or never ran
// (a time-out, no thread).
void fail_sync_attempt(uint32_t reason);

enum { step_started = 1, step_sockets = 2, step_address = 3, step_connected = 4, step_reply = 5, step_valid = 6 };

// Local clocks outside these FILETIME high words are not trusted for SNTP.
constexpr uint32_t sane_clock_low = 0x01C60E66u;   // 2006-01-01 00:00 UTC
constexpr uint32_t sane_clock_high = 0x0233ECA9u;  // 2104-01-01 00:00 UTC


// Starts a worker for a new attempt with a copy of the settings it needs,
// taken now; false when no thread could be made.
bool start_sync_worker();
// Waits up to ms for the running attempt's result or failure.
void wait_for_sync_result(DWORD ms);
// Closes the running attempt's socket, gives its worker 1000 ms to end and
// lets go of it; whatever it does later no longer reaches the shared state.
void stop_sync_worker();

// The protocol setting with "Auto" resolved: 1 SNTP, 0 Time Protocol.
uint32_t effective_protocol();

// The host of a list entry: an IPv6 literal may stand in brackets. False when
// a bracket is left open or text follows the closing one.
bool host_of_entry(const char* entry, char (&out)[server_name_size]);

// The parsers of the two replies, free of sockets so that they can be fuzzed.
// A Time Protocol reply of 0 is a server that does not know the time.
bool read_time_protocol_reply(const unsigned char (&reply)[time_protocol_reply_size], uint32_t* seconds);
// An SNTP reply is believed only from a synchronised server answering our own
// request (t1, 32.32); t4 is our clock at its arrival. Gives the server's
// transmit time T3 (32.32) and the offset sum (T2 - T1) + (T3 - T4) and
// answers failure_none, or why it is not believed (a kiss code in *detail).
uint32_t sntp_reply_fault(const unsigned char (&reply)[sntp_packet_size], uint64_t t1, uint64_t t4,
                          uint64_t* transmit, int64_t* sum, uint32_t* detail);
// The same, and a believed reply's answer in out: offset, delay, the server's
// distance and reference; served_reference names it to our own SNTP clients.
uint32_t read_sntp_answer(const unsigned char (&reply)[sntp_packet_size], uint64_t t1, uint64_t t4,
                          uint32_t served_reference, attempt_result& out, uint32_t* detail);
