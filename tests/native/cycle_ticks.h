// Timer 1 of the window, ticked whenever the worker has news, until the
// running cycle ends; every wait bounded.
#pragma once
#include <gtest/gtest.h>

#include "os/win32.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/wait_until.h"
#include "window/status_line.h"

inline void tick_until_the_cycle_ends(HWND window) {
    for (int i = 0; i < 100 && sync_running; i++) {
        ASSERT_TRUE(wait_until([] { return sync_step >= step_valid || sync_failed; }));
        sync_tick(window);
    }
    ASSERT_EQ(sync_running, 0u) << "the cycle did not end";
}
