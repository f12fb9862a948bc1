#include "store/server_list.h"

#include "window/status_line.h"
#include "base/text.h"
#include "store/directories.h"
#include "store/settings_store.h"

uint32_t server_list_unavailable;

uint32_t effective_server_source() {
    return server_list_unavailable && settings.server_source == source_list ? source_manual_a : settings.server_source;
}
std::mutex server_name_lock;
char current_server_name[server_name_size];

void set_current_server_name(const char* name) {
    std::lock_guard<std::mutex> g(server_name_lock);
    text_copy(current_server_name, sizeof current_server_name, name);
}

bool set_server_name_if_idle(const char* name) {
    std::lock_guard<std::mutex> g(server_name_lock);
    if (sync_running) return false;
    text_copy(current_server_name, sizeof current_server_name, name);
    return true;
}

void copy_current_server_name(char (&out)[server_name_size]) {
    std::lock_guard<std::mutex> g(server_name_lock);
    text_copy(out, sizeof out, current_server_name);
}

static const char list_name[] = SERVER_LIST_NAME;
// Public servers; the NIST ones also answer the Time Protocol.
static const char default_list[] =
    "time.nist.gov\r\n"
    "time-a-g.nist.gov\r\n"
    "time-b-g.nist.gov\r\n"
    "pool.ntp.org\r\n"
    "time.cloudflare.com\r\n";

static HANDLE open_list(const char* path) {
    return CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr);
}

void resolve_data_file(char* out, const char* name) {
    path_in(data_dir, name, out);
    HANDLE file = open_list(out);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return;
    }
    path_in(program_dir, name, out);
}

enum { list_missing, list_readable, list_held };

static int list_state(const char* path) {
    HANDLE file = open_list(path);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? list_missing : list_held;
    CloseHandle(file);
    return list_readable;
}

void ensure_server_list() {
    char path[dir_text_size], beside_program[dir_text_size];
    path_in(data_dir, list_name, path);
    path_in(program_dir, list_name, beside_program);
    int with_data = list_state(path), with_program = list_state(beside_program);
    if (with_data == list_readable || with_program == list_readable) return;
    // A list held by another program is never replaced, and cannot be read now.
    if (with_data == list_held || with_program == list_held) {
        server_list_unavailable = 1;
        return;
    }
    // A new list goes with the user's data: beside an installed program the
    // user may not write at all.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        server_list_unavailable = 1;
        return;
    }
    DWORD done = 0;
    WriteFile(file, default_list, sizeof default_list - 1, &done, nullptr);
    CloseHandle(file);
}

namespace {

// One line as it is gathered; text beyond the buffer is dropped, the line still counts.
struct list_reader {
    server_entry_taker take_all = nullptr;
    void* context = nullptr;
    uint32_t wanted = 0;
    uint32_t count = 0;
    bool comment = false, found = false;
    size_t length = 0;
    char line[server_name_size] = "";

    void end_line() {
        size_t kept = length < sizeof line ? length : sizeof line - 1;
        line[kept] = 0;
        if (!comment && length >= 3) take_entry();
        comment = false;
        length = 0;
    }
    void take_entry() {
        if (wanted == 0) {
            take_all(line, context);
            count++;
            return;
        }
        if (++count != wanted) return;
        set_current_server_name(line);
        found = true;
    }
    // CR LF, CR alone and LF alone all end a line (an editor may write any);
    // the empty line between CR and LF is dropped like any short one.
    void take(char byte) {
        if (byte == '\n' || byte == '\r') return end_line();
        if (byte == '#') {
            comment = true;
            return;
        }
        if (length < sizeof line - 1) line[length] = byte;
        length++;
    }
};

}  // namespace

static void read_list(list_reader& reader) {
    char path[dir_text_size];
    resolve_data_file(path, list_name);
    HANDLE file = open_list(path);
    if (file == INVALID_HANDLE_VALUE) return;
    char chunk[4096];
    DWORD got = 0;
    while (!reader.found && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        for (DWORD i = 0; i < got && !reader.found; i++) reader.take(chunk[i]);
    // The last line needs no line end.
    if (!reader.found) reader.end_line();
    CloseHandle(file);
}

uint32_t read_server_list(uint32_t n) {
    list_reader reader;
    reader.wanted = n;
    read_list(reader);
    return reader.found ? 1 : 0;
}

uint32_t list_server_entries(server_entry_taker take, void* context) {
    list_reader reader;
    reader.take_all = take;
    reader.context = context;
    read_list(reader);
    server_list_unavailable = reader.count == 0 ? 1 : 0;
    return reader.count != 0;
}
