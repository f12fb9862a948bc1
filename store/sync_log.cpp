#include "store/sync_log.h"

#include <string.h>

#include <mutex>

#include "base/program.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/directories.h"
#include "store/server_list.h"

// Writers of this process take turns; the file itself is still opened without
// sharing, so another program that holds it makes the entry drop.
static std::mutex log_lock;

static void put(HANDLE file, const char* bytes, size_t count) {
    DWORD done = 0;
    WriteFile(file, bytes, (DWORD)count, &done, nullptr);
}

// The text of a formatting call padded with spaces to exactly width bytes.
static void put_padded(HANDLE file, const char* text, int got, size_t width) {
    char field[300];
    size_t length = got > 0 ? text_length(text, sizeof field) : 0;
    if (length > width) length = width;
    memcpy(field, text, length);
    memset(field + length, ' ', width - length);
    put(file, field, width);
}

static HANDLE open_log(const char* path, DWORD disposition) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Copies a log that has grown too large to "dLogOld.txt" and starts afresh. When
// the copy fails the log is kept as it is and the next line tries again.
static HANDLE rotate(HANDLE file, const char* path) {
    char old_path[dir_text_size];
    path_in(data_dir, "dLogOld.txt", old_path);
    CloseHandle(file);
    if (!CopyFileA(path, old_path, FALSE)) return open_log(path, OPEN_ALWAYS);
    file = open_log(path, CREATE_ALWAYS);
    if (file != INVALID_HANDLE_VALUE) put(file, log_header, sizeof log_header - 1);
    return file;
}

int write_log(const char* text) {
    std::lock_guard<std::mutex> g(log_lock);
    char path[dir_text_size];
    path_in(data_dir, "dLog.txt", path);
    HANDLE file = open_log(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD size = GetFileSize(file, nullptr);
    if (size == 0) put(file, log_header, sizeof log_header - 1);
    else if (size > log_rotate_size && size != INVALID_FILE_SIZE) {
        file = rotate(file, path);
        if (file == INVALID_HANDLE_VALUE) return 0;
        // When "dLogOld.txt" cannot be written the log is still the old one.
        if (GetFileSize(file, nullptr) > log_size_limit) {
            CloseHandle(file);
            return 1;
        }
    }
    SetFilePointer(file, 0, nullptr, FILE_END);
    char stamp[300];
    put_padded(file, stamp, GetTimeFormatA(0, 0, nullptr, "HH' 'mm' 'ss", stamp, sizeof stamp), log_time_width);
    put_padded(file, stamp, GetDateFormatA(0, DATE_LONGDATE, nullptr, nullptr, stamp, sizeof stamp), log_date_width);
    put(file, " : ", 3);
    put(file, text, strlen(text));
    put(file, "\r\n", 2);
    CloseHandle(file);
    return 1;
}

int write_log_with_server(const char* text) {
    char line[server_name_size], name[server_name_size];
    copy_current_server_name(name);
    text_copy(line, sizeof line, text);
    text_append(line, sizeof line, name);
    return write_log(line);
}
