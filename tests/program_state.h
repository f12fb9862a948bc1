// Puts every process-wide variable of the program back to its start value, so
// that no test depends on the ones that ran before it. Every fixture starts here.
#pragma once

void reset_program_state();
