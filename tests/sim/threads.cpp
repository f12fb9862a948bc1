// Named mutexes and threads of the simulated machine: real threads, whose
// waits and sleeps take real time.
#include <chrono>
#include <thread>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

HANDLE CreateMutexA(void*, BOOL, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    int& count = state().mutexes[name ? name : ""];
    last_error = count++ ? ERROR_ALREADY_EXISTS : 0;
    return new Object(kMutex);
}

// Manual-reset events, as the program uses them.
HANDLE CreateEventA(void*, BOOL, BOOL initial_state, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    Object* o = new Object(kEvent);
    std::shared_ptr<std::atomic<bool>>& shared = state().events[name ? name : ""];
    if (!name || !shared) o->signaled = std::make_shared<std::atomic<bool>>(initial_state);
    if (name && !shared) shared = o->signaled;
    if (name) o->signaled = shared;
    return o;
}

BOOL SetEvent(HANDLE event) {
    ((Object*)event)->signaled->store(true);
    return TRUE;
}

// Outlives a reset: a thread let go of by one test may still end in the next.
static std::atomic<int> live_threads;

int os_test_live_threads() { return live_threads; }

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD, DWORD* id) {
    Object* o = new Object(kThread);
    o->thread = std::make_shared<Thread>();
    std::shared_ptr<Thread> t = o->thread;
    live_threads++;
    std::thread([t, start, param] {
        start(param);
        live_threads--;
        std::lock_guard<std::mutex> g(t->lock);
        t->done = true;
        t->done_signal.notify_all();
    }).detach();
    if (id) *id = 1;
    return o;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    Object* o = (Object*)object;
    if (o->kind == kEvent) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!o->signaled->load()) {
            if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= until) return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WAIT_OBJECT_0;
    }
    if (o->kind != kThread) return WAIT_OBJECT_0;
    std::unique_lock<std::mutex> g(o->thread->lock);
    auto done = [&] { return o->thread->done; };
    if (milliseconds == INFINITE) {
        o->thread->done_signal.wait(g, done);
        return WAIT_OBJECT_0;
    }
    return o->thread->done_signal.wait_for(g, std::chrono::milliseconds(milliseconds), done)
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
}

// Real time passes, and the virtual clock and tick move with it.
void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    os_test_advance_ms(milliseconds);
}
