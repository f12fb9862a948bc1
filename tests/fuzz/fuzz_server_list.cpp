// Any "ServFile.txt" parses without overrunning the line buffer or the server
// name, and the entries counted one way are the entries fetched the other.
// Every entry's host (an IPv6 literal in brackets among them) is the entry or
// what its brackets hold, and an address of it reads back as text in bounds.
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
    for (const std::string& entry : entries) {
        char host[server_name_size];
        if (!host_of_entry(entry.c_str(), host)) {
            if (entry[0] != '[') abort();
            continue;
        }
        bool bracketed = entry[0] == '[';
        if (host != (bracketed ? entry.substr(1, entry.size() - 2) : entry)) abort();
        // A literal, not a name: no look-up leaves the machine.
        sockaddr_storage address{};
        auto* v6 = (sockaddr_in6*)&address;
        char scope_free[server_name_size];
        snprintf(scope_free, sizeof scope_free, "%s", host);
        if (char* percent = strchr(scope_free, '%')) *percent = 0;
        if (inet_pton(AF_INET6, scope_free, &v6->sin6_addr) != 1) continue;
        v6->sin6_family = AF_INET6;
        v6->sin6_scope_id = (uint32_t)entry.size();
        char text[server_address_size];
        address_text(address, text);
        if (!memchr(text, 0, sizeof text)) abort();
        sockaddr_storage again{};
        auto* back = (sockaddr_in6*)&again;
        if (char* percent = strchr(text, '%')) *percent = 0;
        if (inet_pton(AF_INET6, text, &back->sin6_addr) != 1 ||
            memcmp(&back->sin6_addr, &v6->sin6_addr, sizeof back->sin6_addr) != 0)
            abort();
    }
    return 0;
}
