#include "sync/cycle_answers.h"

#include <stdio.h>
#include <string.h>

#include "base/filetime.h"
#include "base/text.h"
#include "store/history_file.h"
#include "store/settings_store.h"
#include "store/server_list.h"
#include "store/sync_log.h"
#include "sync/clock_discipline.h"

// The offset sum counts twice the offset in 32.32 seconds: 2^33 to a second.
static const double offset_sum_per_second = 8589934592.0;

// How far the answer may be from true time: half its root delay and its root
// dispersion, each with this exchange's round trip, in seconds.
static double root_distance(const attempt_result& answer) {
    return (answer.upstream.root_delay / 2.0 + answer.upstream.root_dispersion) / 65536.0;
}

// SNTP gives the offset and the distance; a Time Protocol answer is whole
// seconds, the true time anywhere in the second after them.
time_sample sample_of(const attempt_result& sample) {
    // This clock is read in steps of up to a tick of Windows' timer, 15.6 ms:
    // two readings of one true time may lie that far apart.
    const double reading = 0.016;
    if (sample.protocol == protocol_sntp && !force_time_protocol)
        return {(double)sample.offset_sum / offset_sum_per_second, root_distance(sample) + reading};
    uint64_t at_reply = clock_now() - (uint64_t)(GetTickCount() - sample.reply_tick) * 10000;
    uint64_t server = protocol_seconds_to_filetime(sample.seconds) + filetime_per_second / 2;
    return {(double)(int64_t)(server - at_reply) / filetime_per_second, 0.5 + reading};
}

void gather_answer(gathered_answers& answers, const attempt_result& result, const char* name) {
    if (answers.count == most_answers) return;
    cycle_answer& answer = answers.at[answers.count++];
    answer.result = result;
    answer.sample = sample_of(result);
    text_copy(answer.name, sizeof answer.name, name);
    answer.taken = clock_now();
}

cycle_context cycle_context_of(bool correct, bool unattended, bool average, bool walk_ended, bool may_slew) {
    cycle_context context;
    context.may_slew = may_slew && correct && unattended;
    context.correct = correct;
    context.unattended = unattended;
    context.average = average;
    context.walk_ended = walk_ended;
    // Both apply only where the clock is set.
    if (correct) {
        double shift = settings.offset_minutes * 60.0;
        context.shift = settings.offset_direction == offset_add ? shift : -shift;
        context.minutes_seconds_only = settings.minutes_seconds_only != 0;
    }
    return context;
}

attempt_result take_verdict_answer(const gathered_answers& answers, const cycle_verdict& verdict) {
    const cycle_answer& taken = answers.at[verdict.taken];
    set_current_server_name(taken.name);
    attempt_result answer = taken.result;
    if (__builtin_popcount(verdict.members) == 1) return answer;
    // Several agreed: their offset, as an SNTP answer just in would give it.
    answer.protocol = protocol_sntp;
    answer.offset_sum = (int64_t)(verdict.offset * offset_sum_per_second);
    uint64_t now = clock_now() + (uint64_t)(int64_t)(verdict.offset * filetime_per_second);
    answer.seconds = filetime_to_protocol_seconds(now);
    answer.milliseconds = 0;
    answer.reply_tick = GetTickCount();
    return answer;
}

void learn_from_verdict(const gathered_answers& answers, const cycle_verdict& verdict) {
    const attempt_result& taken = answers.at[verdict.taken].result;
    // The bound of the answer's error: the server's own distance and half this
    // round trip (the root distance counts the trip whole, as the agreement's
    // margin), without the reading's, both stamps read precisely where Windows can.
    bool sntp = taken.protocol == protocol_sntp && !force_time_protocol;
    discipline_answer(verdict.offset, sntp ? root_distance(taken) - taken.delay / 131072.0 : 0.5);
}

void log_verdict(const cycle_verdict& verdict) {
    if (!log_errors()) return;
    for (int i = 0; i < verdict.lines; i++) write_log(verdict.line[i]);
}

static void record_answer(const cycle_answer& answer, bool corrected, bool slewed) {
    history_row row;
    row.utc = answer.taken;
    row.server = answer.name;
    row.address = answer.result.address;
    row.sntp = answer.result.protocol == protocol_sntp;
    row.offset = answer.sample.offset;
    row.delay = answer.result.delay / 65536.0;
    row.stratum = answer.result.upstream.stratum;
    row.corrected = corrected;
    row.slewed = corrected && slewed;
    row.rate_ppm = rate_in_force_ppm();
    append_history(row);
}

void record_cycle(const gathered_answers& answers, const cycle_verdict& verdict, bool corrected) {
    for (bool members : {false, true})
        for (int i = 0; i < answers.count; i++)
            if ((verdict.members >> i & 1) == members)
                record_answer(answers.at[i], corrected && members, verdict.slew);
}

void describe_quality(const attempt_result& answer, char (&out)[quality_text_size]) {
    snprintf(out, sizeof out, "stratum %u, delay %.1f ms, root distance %.1f ms", (unsigned)answer.upstream.stratum,
             answer.delay / 65.536, root_distance(answer) * 1000);
}
