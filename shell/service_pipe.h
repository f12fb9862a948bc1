// The named pipe between the window and the service: one request and one
// reply a connection, each of one fixed size, read like any outside input.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "os/win32.h"
#include "server/time_server.h"

constexpr char service_pipe_name[] = "\\\\.\\pipe\\Pendulark";
// "PDLK" as the bytes go: a stray writer's bytes are told from ours.
constexpr uint32_t pipe_magic = 0x4B4C4450u;
enum : uint32_t { request_status = 1, request_correct = 2 };
constexpr int pipe_status_size = 160;
constexpr int pipe_answer_size = 240;

struct pipe_request {
    uint32_t magic;
    uint32_t kind;  // request_
};
struct pipe_reply {
    uint32_t magic;
    uint32_t kind;      // the request answered
    uint32_t accepted;  // 1 when done or begun; 0 when refused, for a cycle runs already
    // Texts, each zero-terminated: the service's status line, where its time
    // server listens, and its last answer, as About shows them.
    char status[pipe_status_size];
    char listening[listening_text_size];
    char last_answer[pipe_answer_size];
};
static_assert(sizeof(pipe_request) == 8);
static_assert(sizeof(pipe_reply) == 492);

// True when the bytes are one whole request of a kind there is.
bool parse_pipe_request(const void* bytes, size_t size, pipe_request& out);
// True when the bytes are one whole reply to the kind asked, each text ended
// inside its buffer; the window then shows the texts as they are.
bool parse_pipe_reply(const void* bytes, size_t size, uint32_t kind, pipe_reply& out);
// The window's side: one request and the service's reply; false when no
// service answers, or its answer is not a reply.
bool ask_service(uint32_t kind, pipe_reply& reply);
// Whether the service keeps this machine's time: the control manager says
// that it runs, or is starting.
bool service_keeps_time();
