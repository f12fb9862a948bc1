// What a cycle does with its answers, one row per case: the window's cycle and
// the run at logon carry out whatever this decides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "sync/cycle_verdict.h"

namespace {

// An answer of the server `name` at `address`, `offset` seconds ahead of this
// clock; `reference` is the reference time its reply names (0: none).
struct given {
    double offset;
    const char* name;
    const char* address;
    uint64_t reference = 0;
    double distance = 0.02;
};

cycle_answer answer_of(const given& g) {
    cycle_answer a{};
    a.sample = {g.offset, g.distance};
    text_copy(a.name, sizeof a.name, g.name);
    text_copy(a.result.address, sizeof a.result.address, g.address);
    a.result.reference_time = g.reference;
    a.result.reference_id = 0x4C4F4F50;
    a.result.upstream.stratum = 1;
    return a;
}

enum : uint32_t { check = 0, correct = 1, unattended = 2, average = 4, ended = 8, minutes_only = 16, slewing = 32 };

// The verdict on these answers in a cycle of the flags' kind.
const cycle_verdict& verdict_of(const std::vector<given>& givens, uint32_t flags, double shift) {
    std::vector<cycle_answer> answers;
    for (const given& g : givens) answers.push_back(answer_of(g));
    cycle_context context;
    context.correct = flags & correct;
    context.unattended = flags & unattended;
    context.average = flags & average;
    context.walk_ended = flags & ended;
    context.minutes_seconds_only = flags & minutes_only;
    context.may_slew = flags & slewing;
    context.shift = shift;
    static cycle_verdict v;
    decide_cycle(answers.data(), (int)answers.size(), context, v);
    return v;
}

TEST(CycleVerdict, WhatTheAnswersGathered) {
    const char* const a = "127.0.0.1";
    const char* const b = "127.0.0.2";
    const char* const c = "127.0.0.3";
    struct {
        uint32_t context;
        double shift;
        std::vector<given> answers;
        uint32_t action;
        uint32_t members;
        double offset;
        std::string status;  // or, for a step on one server's word, "one word"
        std::string line;    // the first line logged, where it matters
    } cases[] = {
        // The user's Correct steps on one server's word and says so; a Check
        // only looks; near, nobody needs to be asked.
        {correct, 0, {{3600, "a", a}}, verdict_take, 0b1, 3600, "one word", ""},
        {check | unattended, 0, {{3600, "a", a}}, verdict_take, 0b1, 3600, "", ""},
        {correct | unattended, 0, {{60, "a", a}}, verdict_take, 0b1, 60, "", ""},
        // Unattended, far: ask on; a second server confirms, with the first named.
        {correct | unattended, 0, {{3600, "a", a}}, verdict_ask_on, 0, 0, "", ""},
        {correct | unattended, 0, {{3600, "a", a}, {3600.01, "b", b}}, verdict_take, 0b11, 3600.005, "", ""},
        {correct | unattended | ended, 0, {{3600, "a", a}, {7200, "b", b}}, verdict_unconfirmed, 0, 0,
         "Unable to sync: no second server confirms +3600.000 s",
         "Not stepped by +3600.000 s: only a [127.0.0.1] says so, no second server agrees"},
        // A liar's dispersion buys no agreement (nor half an hour under Average).
        {correct | unattended | ended, 0, {{3600, "a", a, 0, 3700}, {3600, "b", b}}, verdict_unconfirmed, 0, 0,
         "Unable to sync: no second server confirms +3600.000 s", ""},
        {correct | average | ended, 0, {{3600, "a", a, 0, 3700}, {0.001, "b", b}}, verdict_take, 0b10, 0.001, "",
         "a [127.0.0.1] dropped: +3600.000 s, 1 others agree on +0.001 s"},
        // One server is one opinion: one address under two names, a name's two
        // addresses naming one reference, a manual server asked four times...
        {correct | unattended | ended, 0, {{3600, "a", a}, {3600, "b", a}}, verdict_unconfirmed, 0, 0,
         "Unable to sync: no second server confirms +3600.000 s", ""},
        {correct | unattended | ended, 0, {{3600, "pool", a, 77}, {3600, "pool", b, 77}}, verdict_unconfirmed, 0, 0,
         "Unable to sync: no second server confirms +3600.000 s", ""},
        {correct | average | ended, 0, {{3600, "pool", a, 77}, {3600, "pool", b, 77}, {0.001, "c", c}},
         verdict_disagree, 0, 0, "Unable to sync: servers disagree, 3599.999 s apart", ""},
        {correct | unattended | average | ended, 0, {{3600, "m", a}, {3600, "m", a}, {3600, "m", a}, {3600, "m", a}},
         verdict_unconfirmed, 0, 0, "Unable to sync: no second server confirms +3600.000 s", ""},
        // ... and a name's other address is another server when its reference says so.
        {correct | unattended, 0, {{3600, "pool", a, 77}, {3600, "pool", b, 78}}, verdict_take, 0b11, 3600, "", ""},
        // Servers that agree with each other outvote a far first one.
        {correct | unattended, 0, {{3600, "a", a}, {0.5, "b", b}, {0.5, "c", c}}, verdict_take, 0b110, 0.5, "",
         "a [127.0.0.1] dropped: +3600.000 s, 2 others agree on +0.500 s"},
        // The step made is judged: a clock kept 30 minutes ahead, or only its
        // minutes and seconds taken, is near the server; a far step is told as made.
        {correct | unattended, 1800, {{-1800, "a", a}}, verdict_take, 0b1, -1800, "", ""},
        {correct | unattended | minutes_only, 0, {{3600.25, "a", a}}, verdict_take, 0b1, 3600.25, "", ""},
        {correct | unattended | ended, 1800, {{0.5, "a", a}}, verdict_unconfirmed, 0, 0,
         "Unable to sync: no second server confirms +1800.500 s", ""},
        // Average waits for four servers, or the list's end.
        {correct | average, 0, {{0.1, "a", a}, {0.1, "a", a}, {0.1, "b", b}, {0.1, "c", c}}, verdict_ask_on, 0, 0, "",
         ""},
    };
    for (auto& row : cases) {
        const cycle_verdict& v = verdict_of(row.answers, row.context, row.shift);
        std::string what = std::to_string(&row - cases);
        EXPECT_EQ(v.action, row.action) << what;
        EXPECT_EQ(v.members, row.members) << what;
        EXPECT_NEAR(v.offset, row.offset, 1e-9) << what;
        EXPECT_EQ(v.one_word, row.status == "one word") << what;
        EXPECT_EQ(v.status, row.status == "one word" ? "" : row.status) << what;
        EXPECT_EQ(row.line.empty() || (v.lines && v.line[0] == row.line), true) << what << ": " << v.line[0];
    }
}

// Small unattended corrections slew where the front end may; the rest step.
TEST(CycleVerdict, SmallPreciseCorrectionsSlew) {
    const struct {
        uint32_t context;
        double shift;
        std::vector<given> answers;
        bool slew;
    } cases[] = {
        {correct | unattended | slewing, 0, {{0.2, "a", "127.0.0.1"}}, true},
        {correct | unattended | slewing, 0, {{-0.499, "a", "127.0.0.1"}}, true},
        {correct | unattended | slewing, 0, {{0.5, "a", "127.0.0.1"}}, false},
        {correct | unattended | slewing, 0, {{-30, "a", "127.0.0.1"}}, false},
        {correct | unattended, 0, {{0.2, "a", "127.0.0.1"}}, false},
        {check | unattended | slewing, 0, {{0.2, "a", "127.0.0.1"}}, false},
        // A Time Protocol answer's second is coarser than any slew.
        {correct | unattended | slewing, 0, {{0.2, "a", "127.0.0.1", 0, 0.516}}, false},
        // Offset and Minor set the clock apart from the server: stepped.
        {correct | unattended | slewing, 60, {{-59.8, "a", "127.0.0.1"}}, false},
        {correct | unattended | slewing | minutes_only, 0, {{0.2, "a", "127.0.0.1"}}, false},
        {correct | unattended | average | ended | slewing, 0, {{0.1, "a", "127.0.0.1"}, {0.12, "b", "127.0.0.2"}}, true},
    };
    for (auto& row : cases) {
        const cycle_verdict& v = verdict_of(row.answers, row.context, row.shift);
        EXPECT_EQ(v.action, verdict_take) << &row - cases;
        EXPECT_EQ(v.slew, row.slew) << &row - cases;
    }
}

}  // namespace
