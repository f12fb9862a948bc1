#include "sync/sync_controller.h"

#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"

uint32_t correct_mode;
uint32_t sync_aborted;

void save_settings_with_sync_state() {
    settings.force_time_protocol = force_time_protocol;
    settings.sync_aborted = sync_aborted;
    save_settings();
}

void take_sync_state_from_settings() {
    force_time_protocol = settings.force_time_protocol;
    sync_aborted = settings.sync_aborted;
}

uint32_t load_list_entry() {
    if (read_server_list(nullptr, settings.server_index + 1)) return entry_loaded;
    settings.server_index = 0;
    return entry_wrapped | (read_server_list(nullptr, 1) ? entry_loaded : 0);
}

void abort_sync_attempt() {
    sync_aborted = 1;
    // Never TerminateThread: a thread killed inside the heap leaves it locked.
    stop_sync_worker();
}
