// The time server: other machines take the time from this one over the Time
// Protocol (TCP port 37, one client after another) and over SNTP (UDP port
// 123), IPv4 and IPv6, each protocol and family on a thread of its own, and
// one more thread reports the clients.
#pragma once
#include <stdint.h>

#include <atomic>

#include "os/win32.h"


// The number of the running server, 0 when it is stopped. A server thread
// goes on only while it holds the current number, so one that outlives its
// stop never serves beside its successor.
extern std::atomic<uint32_t> time_server_running;

// 1 beside the service, which serves the time: this process starts no server.
extern uint32_t time_server_elsewhere;
// Starts the thread with a copy of the settings it needs (the log level).
void start_time_server();
// Ends the threads: a waiting accept or receive, or a wait for a port, returns at once.
void stop_time_server();
// Where the running server listens, as About shows it: "TCP 0.0.0.0:37,
// [::]:37; UDP 0.0.0.0:123, [::]:123", the sockets bound so far; "off" when
// it is stopped.
constexpr int listening_text_size = 80;
void describe_listening(char (&out)[listening_text_size]);
// A running server logs by the level the user chose last.
void set_time_server_log_level(uint32_t level);

