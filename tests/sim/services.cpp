// The service control manager as the service sees it, and the named pipe
// between the window and the service, of the simulated machine.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

static const DWORD broken_pipe = 109;

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE, SERVICE_STATUS* status) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().service_statuses.push_back(*status);
    return TRUE;
}

std::vector<DWORD> os_test_service_states() {
    std::lock_guard<std::mutex> g(machine().lock);
    std::vector<DWORD> states;
    for (const SERVICE_STATUS& s : state().service_statuses) states.push_back(s.dwCurrentState);
    return states;
}

SERVICE_STATUS os_test_last_service_status() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().service_statuses.empty() ? SERVICE_STATUS{} : state().service_statuses.back();
}

void os_test_set_pipe_server(std::function<std::string(const std::string&, const std::string&)> server) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().pipe_server = std::move(server);
}

void os_test_set_registered_service(DWORD service_state) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().registered_service_state = service_state;
}

static SC_HANDLE const manager_handle = (SC_HANDLE)0x5C01, service_handle = (SC_HANDLE)0x5C02;

SC_HANDLE OpenSCManagerA(const char*, const char*, DWORD) { return manager_handle; }

SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* name, DWORD) {
    std::lock_guard<std::mutex> g(machine().lock);
    bool there = manager == manager_handle && strcmp(name, "Pendulark") == 0 && state().registered_service_state;
    return there ? service_handle : nullptr;
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (service != service_handle) return FALSE;
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = state().registered_service_state;
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) { return handle == manager_handle || handle == service_handle; }

// As a message-mode pipe: a reply longer than the buffer fills it and fails
// with ERROR_MORE_DATA; a server that closes without a reply breaks the pipe.
BOOL CallNamedPipeA(const char* name, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* read, DWORD) {
    std::function<std::string(const std::string&, const std::string&)> server;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        server = state().pipe_server;
    }
    *read = 0;
    if (!server) {
        last_error = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    std::string reply = server(name, std::string((const char*)in, in_size));
    if (reply.empty()) {
        last_error = broken_pipe;
        return FALSE;
    }
    DWORD n = reply.size() < out_size ? (DWORD)reply.size() : out_size;
    memcpy(out, reply.data(), n);
    *read = n;
    if (reply.size() > out_size) {
        last_error = ERROR_MORE_DATA;
        return FALSE;
    }
    return TRUE;
}
