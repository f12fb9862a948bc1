// Any SNTP reply is read without a crash. Which replies are refused is the
// native tests' table, not repeated here; a reply that is taken must answer our
// own request and give exactly what it carries: its transmit time, and an
// offset sum that did not wrap (worked out here in 128 bits). A correction made
// from it moves the clock by half that sum, no more.
#include <stdlib.h>
#include <string.h>

#include "base/filetime.h"
#include "store/settings_store.h"
#include "sync/clock_correction.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/program_state.h"
#include "tests/sim/os_test.h"

static uint64_t be64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = v << 8 | p[i];
    return v;
}

static uint64_t set_time() {
    SYSTEMTIME st = os_test_last_set_time();
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) abort();
    return filetime_of(ft);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sntp_packet_size + 9) return 0;
    unsigned char reply[sntp_packet_size];
    memcpy(reply, data, sizeof reply);
    // Our clock somewhere in the years the worker trusts for SNTP.
    uint64_t span = ((uint64_t)(sane_clock_high - sane_clock_low) << 32);
    uint64_t clock = ((uint64_t)sane_clock_low << 32) + be64(data + 48) % span;
    uint64_t t1 = filetime_to_timestamp(clock);
    // Most inputs would miss our own request; let half of them answer it.
    if (data[56] & 1)
        for (int i = 0; i < 8; i++) reply[24 + i] = (unsigned char)(t1 >> (56 - 8 * i));
    uint64_t t4 = t1 + (data[56] >> 1) * 1000000ull;

    uint64_t transmit = 0;
    int64_t sum = 0;
    uint32_t detail = 0;
    if (sntp_reply_fault(reply, t1, t4, &transmit, &sum, &detail) != failure_none) return 0;
    uint64_t t2 = be64(reply + 32), t3 = be64(reply + 40);
    __int128 exact = (__int128)(int64_t)(t2 - t1) + (int64_t)(t3 - t4);
    if (be64(reply + 24) != t1 || transmit != t3 || sum != exact) abort();

    os_test_reset();
    reset_program_state();
    reset_settings();
    sync_answer.protocol = protocol_sntp;
    uint64_t now = clock / 10000 * 10000;  // on a whole millisecond, as a SYSTEMTIME keeps it
    os_test_set_utc(now);
    sync_answer.seconds = (uint32_t)(t3 >> 32);
    sync_answer.offset_sum = sum;
    correct_mode = 1;
    correct_clock(sync_answer, 1);
    if (os_test_set_time_calls() != 1) abort();
    if (force_time_protocol) return 0;  // too far off: the whole seconds were taken instead
    // Half the sum in 100 ns units, cut toward zero, then rounded to the nearest millisecond.
    int64_t shift = (int64_t)((__int128)sum * (int64_t)filetime_per_second / ((__int128)1 << 33));
    if (set_time() != (now + (uint64_t)shift + 5000) / 10000 * 10000) abort();
    return 0;
}
