#include "sync/cycle_verdict.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "base/text.h"

double step_made(double offset, const cycle_context& context) {
    double step = offset + context.shift;
    if (!context.minutes_seconds_only) return step;
    // Only the minutes and seconds are taken, in whichever hour moves the clock least.
    step = fmod(step, 3600.0);
    return step > 1800 ? step - 3600 : step < -1800 ? step + 3600 : step;
}

// The Time Protocol names no reference, and a server that never set its clock
// names none worth comparing.
static bool names_reference(const cycle_answer& answer) { return answer.result.reference_time != 0; }

bool same_server(const cycle_answer& a, const cycle_answer& b) {
    if (strcmp(a.result.address, b.result.address) == 0) return true;
    if (names_reference(a) && names_reference(b))
        return a.result.reference_id == b.result.reference_id && a.result.upstream.stratum == b.result.upstream.stratum &&
               a.result.reference_time == b.result.reference_time;
    return strcmp(a.name, b.name) == 0;
}

void name_with_address(const char* name, const char* address, char (&out)[server_name_size]) {
    text_copy(out, sizeof out, name);
    if (!address[0] || strcmp(address, name) == 0) return;
    text_append(out, sizeof out, " [");
    text_append(out, sizeof out, address);
    text_append(out, sizeof out, "]");
}

namespace {

// The answers grouped by server: each server's first answer speaks for it.
struct opinions {
    int count = 0;
    int of_answer[most_answers];  // the opinion each answer belongs to
    int first[most_answers];      // the answer that speaks for each opinion
    time_sample samples[most_answers];
};

opinions group_by_server(const cycle_answer* answers, int count) {
    opinions o;
    for (int i = 0; i < count; i++) {
        int j = 0;
        while (j < o.count && !same_server(answers[o.first[j]], answers[i])) j++;
        if (j == o.count) {
            o.first[o.count] = i;
            o.samples[o.count++] = answers[i].sample;
        }
        o.of_answer[i] = j;
    }
    return o;
}

void add_line(cycle_verdict& v, const char* format, const char* server, double offset, const char* tail = "") {
    if (v.lines == most_answers + 1) return;
    snprintf(v.line[v.lines++], verdict_line_size, format, server, offset, tail);
}

void server_of(const cycle_answer& answer, char (&out)[server_name_size]) {
    name_with_address(answer.name, answer.result.address, out);
}

// Steps or checks by the opinions agreeing (a bit each), named by the first; the
// other answers are logged as dropped.
void take(cycle_verdict& v, const cycle_answer* answers, int count, const opinions& o, uint32_t agreeing,
          double offset) {
    v.action = verdict_take;
    v.offset = offset;
    for (int i = 0; i < count; i++)
        if (agreeing >> o.of_answer[i] & 1) v.members |= 1u << i;
    v.taken = __builtin_ctz(v.members);
    char others[64], server[server_name_size];
    snprintf(others, sizeof others, ", %d others agree on %+.3f s", __builtin_popcount(agreeing), offset);
    for (int i = 0; i < count; i++) {
        if (v.members >> i & 1) continue;
        server_of(answers[i], server);
        add_line(v, "%s dropped: %+.3f s%s", server, answers[i].sample.offset, others);
    }
}

void disagree(cycle_verdict& v, const cycle_answer* answers, int count, double spread) {
    v.action = verdict_disagree;
    char server[server_name_size];
    for (int i = 0; i < count; i++) {
        server_of(answers[i], server);
        add_line(v, "%s at %+.3f s%s", server, answers[i].sample.offset);
    }
    snprintf(v.status, sizeof v.status, "Unable to sync: servers disagree, %.3f s apart", spread);
    text_copy(v.line[v.lines++], verdict_line_size, v.status);
}

void unconfirmed(cycle_verdict& v, const cycle_answer& answer, double step) {
    v.action = verdict_unconfirmed;
    snprintf(v.status, sizeof v.status, "Unable to sync: no second server confirms %+.3f s", step);
    char server[server_name_size];
    server_of(answer, server);
    snprintf(v.line[v.lines++], verdict_line_size, "Not stepped by %+.3f s: only %s says so, no second server agrees",
             step, server);
}

}  // namespace

// Which answers agree and what is done with them, before step or slew.
static void decide_answers(const cycle_answer* answers, int count, const cycle_context& context, cycle_verdict& v) {
    if (count == 0) return;
    opinions o = group_by_server(answers, count);
    bool ended = context.walk_ended || count == most_answers;
    if (context.average && o.count < average_samples && !ended) return;
    agreement found = find_agreement(o.samples, o.count);
    int agreeing = __builtin_popcount(found.members);
    bool judged = context.correct && context.unattended;
    if (!context.average) {
        // One server's word, unless a far step is made unattended: then the
        // first answer waits for a second server, or the next ones outvote it.
        double first = step_made(o.samples[0].offset, context);
        if (!judged || (o.count == 1 && !far_step(first))) {
            take(v, answers, count, o, 1, o.samples[0].offset);
            v.one_word = context.correct && far_step(first);
        } else if (found.found && agreeing >= 2) {
            take(v, answers, count, o, found.members, found.offset);
        } else if (ended) {
            unconfirmed(v, answers[0], first);
        }
        return;
    }
    if (!found.found) {
        disagree(v, answers, count, found.spread);
        return;
    }
    take(v, answers, count, o, found.members, found.offset);
    double step = step_made(found.offset, context);
    if (!context.correct || !far_step(step) || agreeing >= 2) return;
    if (judged) {
        int taken = v.taken;
        v = cycle_verdict{};
        unconfirmed(v, answers[taken], step);
    } else {
        v.one_word = true;
    }
}

// A small correction made unattended slews: never with Offset or Minor, and
// never by a Time Protocol answer, whose second is coarser than the slew.
static bool slews(const cycle_verdict& v, const cycle_answer* answers, const cycle_context& context) {
    if (v.action != verdict_take || !context.correct || !context.may_slew || context.shift != 0 ||
        context.minutes_seconds_only || !(fabs(v.offset) < slew_limit))
        return false;
    for (int i = 0; i < most_answers; i++)
        if ((v.members >> i & 1) && !(answers[i].sample.distance < slew_limit)) return false;
    return true;
}

void decide_cycle(const cycle_answer* answers, int count, const cycle_context& context, cycle_verdict& v) {
    v = cycle_verdict{};
    if (count > most_answers) count = most_answers;
    decide_answers(answers, count, context, v);
    v.slew = slews(v, answers, context);
}
