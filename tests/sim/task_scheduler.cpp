// The simulated Task Scheduler: logon tasks by "folder\name".
#include <iterator>

#include "os/task_scheduler.h"
#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

static std::string task_path(const char* folder, const char* name) { return std::string(folder) + "\\" + name; }

bool register_logon_task(const char* folder, const char* name, const char* command, const char* arguments) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!state().task_scheduler) return false;
    state().tasks[task_path(folder, name)] = std::string(command) + " " + arguments;
    return true;
}

bool delete_scheduled_task(const char* folder, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().task_scheduler && state().tasks.erase(task_path(folder, name)) == 1;
}

bool delete_task_folder(const char* folder) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!state().task_scheduler) return false;
    auto& tasks = state().tasks;
    std::string prefix = task_path(folder, "");
    bool any = false;
    for (auto it = tasks.begin(); it != tasks.end();) {
        bool inside = it->first.compare(0, prefix.size(), prefix) == 0;
        any |= inside;
        it = inside ? tasks.erase(it) : std::next(it);
    }
    return any;
}

void os_test_set_task_scheduler(bool available) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().task_scheduler = available;
}

std::map<std::string, std::string> os_test_tasks() {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().tasks;
}
