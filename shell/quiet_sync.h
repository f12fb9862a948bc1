// The unattended run of "/q": set the clock once from the first server that answers.
#pragma once
#include <stdint.h>

#include "os/win32.h"

extern uint32_t wrap_count;
extern uint32_t cycle_start_index;
// Set by a start of the program's window, which the run at logon would keep
// waiting: the walk then ends at once, without a correction.
extern HANDLE quiet_stop_event;
constexpr char quiet_stop_event_name[] = "Pendulark.exe: end the run at logon";

// Walks the server list until an attempt succeeds and corrects the clock with
// it. True when every attempt failed for want of a network (no route, no name).
bool quiet_sync_walk();
// The walk; while it finds no network, again every few seconds, two minutes
// at most, as the run at logon may start before the network is up.
void quiet_sync_waiting_for_network();
// The walk, then the end of the process; it never returns.
[[noreturn]] void run_quiet_sync();
