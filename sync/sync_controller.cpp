#include "sync/sync_controller.h"

#include "sync/sync_worker.h"

uint32_t correct_mode;
uint32_t sync_aborted;

void abort_sync_attempt() {
    sync_aborted = 1;
    // Never TerminateThread: a thread killed inside the heap leaves it locked.
    stop_sync_worker();
    winsock_cleanup();
}
