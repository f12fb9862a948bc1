#include "base/threads.h"

void end_blocked_thread(SOCKET s, HANDLE thread) {
    if (s != INVALID_SOCKET) closesocket(s);
    if (!thread) return;
    WaitForSingleObject(thread, 1000);
    CloseHandle(thread);
}
