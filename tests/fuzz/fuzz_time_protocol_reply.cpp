// Any four bytes of a Time Protocol reply are refused when zero and otherwise
// set the clock to that second shifted by the minute offset, aged by whole
// seconds: never more than the time since the reply, and never short of it by
// more than the ticks' 1024-ms seconds lose.
#include <stdlib.h>
#include <string.h>

#include "base/filetime.h"
#include "store/settings_store.h"
#include "sync/clock_correction.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/program_state.h"
#include "tests/sim/os_test.h"

static uint32_t be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < time_protocol_reply_size + 5) return 0;
    unsigned char reply[time_protocol_reply_size];
    memcpy(reply, data, sizeof reply);
    uint32_t seconds = 0;
    bool accepted = read_time_protocol_reply(reply, &seconds);
    if (accepted != (be32(data) != 0)) abort();
    if (!accepted) return 0;
    if (seconds != be32(data)) abort();

    os_test_reset();
    reset_program_state();
    reset_settings();
    sync_answer.protocol = protocol_time;
    settings.offset_minutes = data[4] % (range_of(&settings_record::offset_minutes).high + 1);
    settings.offset_direction = data[4] >> 7;
    uint32_t elapsed_ms = be32(data + 5) & 0xFFFFF;  // up to about 17 minutes after the reply
    os_test_set_utc(2026, 12, 8, 12, 0, 0);
    sync_answer.seconds = seconds;
    sync_answer.reply_tick = GetTickCount();
    os_test_advance_ms(elapsed_ms);
    correct_mode = 1;
    correct_clock(sync_answer, 1);
    if (os_test_set_time_calls() != 1) abort();

    uint64_t shift = settings.offset_minutes * 60 * filetime_per_second;
    uint64_t answer = protocol_seconds_to_filetime(seconds);
    answer = settings.offset_direction == offset_subtract ? answer - shift : answer + shift;
    SYSTEMTIME st = os_test_last_set_time();
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) abort();
    int64_t aged_ms = (int64_t)(filetime_of(ft) - answer) / 10000;
    if (aged_ms % 1000 != 0 || aged_ms > elapsed_ms || aged_ms < (int64_t)elapsed_ms * 1000 / 1024 - 1000) abort();
    return 0;
}
