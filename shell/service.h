// The service: the engine with nobody at a window, run by the service control
// manager as "Pendulark.exe /service". Its data is the machine's folder; its
// window is never shown, and runs the same timers as the user's window.
#pragma once
#include <stdint.h>

#include "os/win32.h"
#include "shell/service_pipe.h"

constexpr char service_name[] = "Pendulark";
constexpr char service_display_name[] = "Pendulark time keeper";
constexpr char service_description[] =
    "Keeps this computer's clock set from internet time servers, with or without anyone logged on.";

extern SERVICE_STATUS_HANDLE service_status_handle;

// Tells the control manager how the service stands; it takes controls only while it runs.
void report_service_state(DWORD state, DWORD exit_code = NO_ERROR);
// The control manager's handler, on the dispatcher's thread: every control
// becomes a message to the service's window, whose thread owns the engine.
DWORD WINAPI service_control(DWORD control, DWORD event, LPVOID data, LPVOID context);
// Its window made: the boot's sync, AutoSync, the time server.
void start_service_engine(HWND window);
// Timer 2: the window's display tick, and settings saved since taken at once.
void service_tick(HWND window);
// Stop and shutdown: the engine ends as the window's exit ends it.
void stop_service_engine();
// A checked request from the pipe, answered on the window's thread.
void answer_pipe_request(HWND window, const pipe_request& request, pipe_reply& reply);
