// Any "ServFile.txt" parses without overrunning the line buffer or the server
// name, and the entries counted one way are the entries fetched the other.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "program_dir.h"
#include "os/os_test.h"
#include "resources/pendulark_ids.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "sync/sync_worker.h"

static HWND const dialog = (HWND)0x1234;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    put_program_file("ServFile.txt", data, size);

    SendDlgItemMessageA(dialog, IDL_SETTINGS_SERVERS, CB_RESETCONTENT, 0, 0);
    read_server_list(dialog, 0);
    std::vector<std::string> entries = os_test_combo_items(dialog, IDL_SETTINGS_SERVERS);
    for (size_t n = 1; n <= entries.size() && n <= 8; n++) {
        if (!read_server_list(nullptr, (uint32_t)n)) abort();
        std::lock_guard<std::mutex> g(server_name_lock);
        if (!memchr(current_server_name, 0, sizeof current_server_name)) abort();
        if (entries[n - 1] != current_server_name || entries[n - 1].size() > 599) abort();
    }
    if (read_server_list(nullptr, (uint32_t)entries.size() + 1)) abort();
    return 0;
}
