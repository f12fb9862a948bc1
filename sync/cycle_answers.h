// A cycle's answers as the front ends gather them (the window's cycle, the run
// at logon), and the parts of carrying out a verdict that they share.
#pragma once
#include <stdint.h>

#include "sync/cycle_verdict.h"
#include "sync/sync_worker.h"

struct gathered_answers {
    int count = 0;
    cycle_answer at[most_answers];
};

// How far an answer's server is ahead of this clock, and how sure it is.
time_sample sample_of(const attempt_result& answer);
// Keeps the answer of the server asked by this name, read against this clock now.
void gather_answer(gathered_answers& answers, const attempt_result& result, const char* name);
// The context of a cycle made with the settings as they stand; may_slew where
// the front end slews small unattended corrections.
cycle_context cycle_context_of(bool correct, bool unattended, bool average, bool walk_ended, bool may_slew = false);
// The answer to correct or check by: the one taken, at the agreed offset when
// several agreed. Its server becomes current_server_name, which the texts name.
attempt_result take_verdict_answer(const gathered_answers& answers, const cycle_verdict& verdict);
// The answer taken teaches the clock's estimate how far off it is.
void learn_from_verdict(const gathered_answers& answers, const cycle_verdict& verdict);
// The verdict's lines, when errors are logged.
void log_verdict(const cycle_verdict& verdict);
// A row of the history for each answer: those left out first, then those
// agreed, marked when the clock was set by them, so that a dropped answer's
// offset never starts the stretch after the correction.
void record_cycle(const gathered_answers& answers, const cycle_verdict& verdict, bool corrected);

// The quality of an answer, "stratum 2, delay 0.4 ms, root distance 16.2 ms".
constexpr int quality_text_size = 80;
void describe_quality(const attempt_result& answer, char (&out)[quality_text_size]);
