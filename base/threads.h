// Ending a thread that may be blocked on a socket.
#pragma once
#include "os/win32.h"

// Closing the socket wakes a blocked connect, recv or accept; the thread then
// has a second to end and is let go of, never killed (a thread killed inside
// the heap leaves it locked). Either may be absent.
void end_blocked_thread(SOCKET s, HANDLE thread);
