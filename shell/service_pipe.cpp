#include "shell/service_pipe.h"

#include <string.h>

#include "shell/service.h"

// The window asks on its GUI thread: a service busy with another window's
// request is waited for briefly.
static const DWORD instance_wait_ms = 500;

bool parse_pipe_request(const void* bytes, size_t size, pipe_request& out) {
    if (size != sizeof out) return false;
    memcpy(&out, bytes, sizeof out);
    return out.magic == pipe_magic && (out.kind == request_status || out.kind == request_correct);
}

bool parse_pipe_reply(const void* bytes, size_t size, uint32_t kind, pipe_reply& out) {
    if (size != sizeof out) return false;
    memcpy(&out, bytes, sizeof out);
    return out.magic == pipe_magic && out.kind == kind && out.accepted <= 1 &&
           memchr(out.status, 0, sizeof out.status) && memchr(out.listening, 0, sizeof out.listening) &&
           memchr(out.last_answer, 0, sizeof out.last_answer);
}

// The registered service, running: only it holds the pipe's name then, so a
// pipe that another program made while it does not run is not taken for it.
bool service_running() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, service_name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    bool running = service && QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return running;
}

bool service_keeps_time() {
    pipe_reply reply;
    return ask_service(request_status, reply) && service_running();
}

bool ask_service(uint32_t kind, pipe_reply& reply) {
    pipe_request request{pipe_magic, kind};
    // A byte more than a reply, so that a longer answer is seen for what it is.
    char answer[sizeof(pipe_reply) + 1];
    DWORD got = 0;
    if (!CallNamedPipeA(service_pipe_name, &request, sizeof request, answer, sizeof answer, &got, instance_wait_ms))
        return false;
    return parse_pipe_reply(answer, got, kind, reply);
}
