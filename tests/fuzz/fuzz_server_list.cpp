// Any "ServFile.txt" parses without overrunning the line buffer or the server
// name, and the entries counted one way are the entries fetched the other.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "program_dir.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "sync/sync_worker.h"
#include "tests/sim/os_test.h"

static void collect(const char* entry, void* entries) { ((std::vector<std::string>*)entries)->push_back(entry); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    put_program_file("ServFile.txt", data, size);

    std::vector<std::string> entries;
    list_server_entries(collect, &entries);
    for (size_t n = 1; n <= entries.size() && n <= 8; n++) {
        if (!read_server_list((uint32_t)n)) abort();
        std::lock_guard<std::mutex> g(server_name_lock);
        if (!memchr(current_server_name, 0, sizeof current_server_name)) abort();
        if (entries[n - 1] != current_server_name || entries[n - 1].size() > 599) abort();
    }
    if (read_server_list((uint32_t)entries.size() + 1)) abort();
    return 0;
}
