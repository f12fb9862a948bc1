// The Time Protocol server: other machines take the time from this one over
// TCP port 37, one client after another, on a thread of its own.
#pragma once
#include <stdint.h>

#include <atomic>

#include "os/win32.h"

constexpr int time_server_port = 37;

// The number of the running server, 0 when it is stopped. A server thread
// goes on only while it holds the current number, so one that outlives its
// stop never serves beside its successor.
extern std::atomic<uint32_t> time_server_running;

// Starts the thread with a copy of the settings it needs (the log level).
void start_time_server();
// Ends the thread: a waiting accept or a wait for a port returns at once.
void stop_time_server();
// A running server logs by the level the user chose last.
void set_time_server_log_level(uint32_t level);
DWORD WINAPI time_server_thread(LPVOID);
