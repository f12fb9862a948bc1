// The service's window, which nobody sees, and the pipe's server that hands
// each checked request to it. Windows alone: the pipe is Windows' own.
#include "shell/service_window.h"

#include <sddl.h>
#include <stdio.h>

#include "base/program.h"
#include "resources/pendulark_ids.h"
#include "shell/main_window.h"
#include "shell/service.h"
#include "store/sync_log.h"
#include "window/status_line.h"

// The window waits for the answer on its GUI thread: it comes within this, or not at all.
static const DWORD answer_wait_ms = 2000;
// A client that connects and says nothing is let go after this.
static const DWORD read_wait_ms = 2000;
static const DWORD connect_retry_ms = 100;
// Nobody from the network; every account logged on here may ask; the service
// itself (LocalService), SYSTEM and the administrators own it.
static const char pipe_security[] = "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;LS)(A;;GRGW;;;AU)";

static LRESULT CALLBACK service_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result;
    if (take_engine_message(window, message, wparam, &result)) return result;
    switch (message) {
        case WM_TIMER:
            if (wparam == TIMER_DISPLAY) service_tick(window);
            return 0;
        case WM_SERVICE_STOP:
            stop_service_engine();
            return 0;
        case WM_PIPE_REQUEST:
            answer_pipe_request(window, *(const pipe_request*)wparam, *(pipe_reply*)lparam);
            return 0;
        // Only the control manager ends the service; a session's end is no end of it.
        case WM_CLOSE:
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
    }
    return DefDlgProcA(window, message, wparam, lparam);
}

// The template names the class; in this process it is the service's.
void register_service_class() {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = service_window_proc;
    window_class.cbWndExtra = DLGWINDOWEXTRA;
    window_class.hInstance = instance_handle;
    window_class.lpszClassName = PROGRAM_CLASS_NAME;
    RegisterClassExA(&window_class);
}

// Waits for an overlapped call to end; one that takes too long is cancelled.
static bool finish_io(HANDLE pipe, OVERLAPPED& io, BOOL done_at_once, DWORD wait_ms, DWORD* count) {
    if (!done_at_once && GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(io.hEvent, wait_ms) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &io, count, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &io, count, FALSE);
}

// One request, checked here on the pipe's thread and answered by the window's.
// Garbage, a short or a long message gets no reply: the connection is closed.
static void serve_client(HWND window, HANDLE pipe, OVERLAPPED& io) {
    char bytes[sizeof(pipe_request) + 1];
    DWORD got = 0;
    BOOL read = ReadFile(pipe, bytes, sizeof bytes, &got, &io);
    if (!finish_io(pipe, io, read, read_wait_ms, &got)) return;
    pipe_request request;
    if (!parse_pipe_request(bytes, got, request)) return;
    pipe_reply reply{};
    DWORD_PTR result;
    if (!SendMessageTimeoutA(window, WM_PIPE_REQUEST, (WPARAM)&request, (LPARAM)&reply, SMTO_ABORTIFHUNG,
                             answer_wait_ms, &result))
        return;
    DWORD put = 0;
    BOOL written = WriteFile(pipe, &reply, sizeof reply, &put, &io);
    finish_io(pipe, io, written, read_wait_ms, &put);
}

static bool client_connected(HANDLE pipe, OVERLAPPED& io) {
    DWORD count = 0;
    if (ConnectNamedPipe(pipe, &io) || GetLastError() == ERROR_PIPE_CONNECTED) return true;
    if (finish_io(pipe, io, FALSE, INFINITE, &count)) return true;
    // A client that left at once, or a pipe gone wrong: never a loop at full speed.
    Sleep(connect_retry_ms);
    return false;
}

static HANDLE create_pipe(SECURITY_ATTRIBUTES* security) {
    // One instance, held for the service's life: nobody else can take the name.
    DWORD open = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
    DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    HANDLE pipe = CreateNamedPipeA(service_pipe_name, open, mode | PIPE_REJECT_REMOTE_CLIENTS, 1, sizeof(pipe_reply),
                                   sizeof(pipe_request), 0, security);
    // Before Vista the flag is unknown; the security keeps the network out all the same.
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        pipe = CreateNamedPipeA(service_pipe_name, open, mode, 1, sizeof(pipe_reply), sizeof(pipe_request), 0,
                                security);
    return pipe;
}

static DWORD WINAPI pipe_server(LPVOID param) {
    HWND window = (HWND)param;
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(pipe_security, SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor, nullptr)) {
        write_log("Service: no pipe for the windows", "its security could not be made");
        return 0;
    }
    HANDLE pipe = create_pipe(&security);
    if (pipe == INVALID_HANDLE_VALUE) {
        char why[32];
        snprintf(why, sizeof why, "error %lu", (unsigned long)GetLastError());
        write_log("Service: no pipe for the windows", why);
        return 0;
    }
    OVERLAPPED io{};
    io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        if (client_connected(pipe, io)) serve_client(window, pipe, io);
        DisconnectNamedPipe(pipe);
    }
}

bool start_pipe_server(HWND window) {
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, pipe_server, window, 0, &id);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}
