// What a cycle does with the answers it has gathered: ask on, step or check by
// the servers that agree, or give up. One plain function, the same for the
// window's cycle, the run at logon and any other front end: they gather the
// answers and carry the verdict out.
#pragma once
#include <stdint.h>

#include "store/server_list.h"
#include "sync/agreement.h"
#include "sync/clock_discipline.h"
#include "sync/sync_worker.h"
#include "window/status_line.h"

// A cycle keeps at most this many answers; past them it asks nobody more.
constexpr int most_answers = 8;
// Samples of an averaging cycle: servers, not answers of one server.
constexpr int average_samples = 4;

// A step larger than this, made with no one at hand to ask, waits for a second
// server's word: a domain refuses logons beyond five minutes, so a wrong step
// of minutes already hurts.
constexpr double unattended_step_limit = 120.0;
inline bool far_step(double step) { return step > unattended_step_limit || step < -unattended_step_limit; }

// One answer as the cycle gathered it.
struct cycle_answer {
    attempt_result result;          // the address asked and what its server said of itself
    time_sample sample;             // how far its server is ahead of this clock, read as it came
    char name[server_name_size];    // the list entry or manual address asked
    uint64_t taken;                 // this clock at the answer
};

// What the cycle is for.
struct cycle_context {
    bool correct = false;     // the clock is to be set, not only checked
    bool unattended = false;  // nobody asked for it: a far step needs a second server
    bool average = false;     // Average: the servers that agree, of several
    bool walk_ended = false;  // nobody is left to ask
    double shift = 0;         // seconds the clock is kept apart from the server's (Offset)
    bool minutes_seconds_only = false;
    bool may_slew = false;    // the clock's rate is ours to set and the option is on
};

enum verdict_action : uint32_t {
    verdict_ask_on,       // another server's answer is wanted
    verdict_take,         // correct or check by the answer taken
    verdict_disagree,     // no majority agrees: nothing is set
    verdict_unconfirmed,  // a far step that no second server confirms: nothing is set
};

constexpr int verdict_line_size = server_name_size + 120;
struct cycle_verdict {
    uint32_t action = verdict_ask_on;
    int taken = -1;           // the answer whose server is named and served
    uint32_t members = 0;     // the answers that agreed, a bit each
    double offset = 0;        // how far the agreeing servers are ahead of this clock
    bool one_word = false;    // a far step on a single server's word, as only the user's Correct makes it
    bool slew = false;        // taken out by a slew rather than a step
    char status[status_text_size] = "";  // the status line's text when nothing is set
    int lines = 0;            // lines for the error log
    char line[most_answers + 1][verdict_line_size];
};

// The step this clock would make to follow a server offset ahead, as Offset
// and minutes-and-seconds-only make it.
double step_made(double offset, const cycle_context& context);
// Whether two answers are one server's: one address, or one reference heard
// where it can tell; a name's other address without one is the same server.
bool same_server(const cycle_answer& a, const cycle_answer& b);
void decide_cycle(const cycle_answer* answers, int count, const cycle_context& context, cycle_verdict& out);
// "name [address]", or the name alone where the two are the same.
void name_with_address(const char* name, const char* address, char (&out)[server_name_size]);
