// The simulated Task Scheduler: logon tasks by "folder\name", as UTF-8.
#include <string.h>

#include <iterator>

#include "os/logon_task.h"
#include "os/task_scheduler.h"
#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

static std::string utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t w : text) {
        uint32_t c = (uint32_t)w;
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else {
            if (c < 0x10000) {
                out += (char)(0xE0 | c >> 12);
            } else {
                out += (char)(0xF0 | c >> 18);
                out += (char)(0x80 | (c >> 12 & 0x3F));
            }
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The program's ANSI texts are ASCII in the tests.
static std::wstring wide(const char* text) { return std::wstring(text, text + strlen(text)); }

static std::string task_path(const char* folder, const std::string& name) { return std::string(folder) + "\\" + name; }

static std::string own_task_path(const char* folder) {
    return task_path(folder, utf8(logon_task_name(state().account_domain, state().account_user)));
}

bool register_logon_task(const char* folder, const char* command, const char* arguments) {
    std::lock_guard<std::mutex> g(machine().lock);
    if (!state().task_scheduler) return false;
    std::wstring account = state().account_domain + L"\\" + state().account_user;
    state().tasks[own_task_path(folder)] = utf8(logon_task_xml(account, wide(command), wide(arguments)));
    return true;
}

bool delete_logon_task(const char* folder) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().task_scheduler && state().tasks.erase(own_task_path(folder)) == 1;
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

void os_test_add_task(const std::string& folder_and_name) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().tasks[folder_and_name] = "";
}

void os_test_set_account(const std::wstring& domain, const std::wstring& user) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().account_domain = domain;
    state().account_user = user;
}
