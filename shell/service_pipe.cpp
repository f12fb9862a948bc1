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

// The control manager's word, not the pipe's: a pipe busy with another
// client is still the service's, and a pipe that another program made while
// the service does not run is none of its. A service still starting counts,
// so that a run at logon during the boot leaves the clock to it.
bool service_keeps_time() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceA(manager, service_name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    bool keeps = service && QueryServiceStatus(service, &status) &&
                 (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_START_PENDING);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return keeps;
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
