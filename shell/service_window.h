// The service's window, which nobody sees, and the pipe through which the
// windows of the users ask it.
#pragma once
#include "os/win32.h"

// The class the main window's template names, with the service's procedure:
// in the service's process the template makes the service's window.
void register_service_class();
// The pipe's server on a thread of its own, for as long as the process lives;
// each checked request goes to the window as WM_PIPE_REQUEST.
bool start_pipe_server(HWND window);
