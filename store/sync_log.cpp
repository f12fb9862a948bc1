#include "store/sync_log.h"

#include <string.h>

#include <mutex>

#include "base/program.h"
#include "base/files.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/directories.h"
#include "store/server_list.h"

// Writers of this process take turns; the file itself is still opened without
// sharing, so another program that holds it makes the entry drop.
static std::mutex log_lock;

// The text of a formatting call padded with spaces to exactly width bytes.
static bool put_padded(HANDLE file, const char* text, int got, size_t width) {
    char field[300];
    size_t length = got > 0 ? text_length(text, sizeof field) : 0;
    if (length > width) length = width;
    memcpy(field, text, length);
    memset(field + length, ' ', width - length);
    return write_all(file, field, width);
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
    if (file != INVALID_HANDLE_VALUE) write_all(file, log_header, sizeof log_header - 1);
    return file;
}

bool write_log(const char* text, const char* why) {
    std::lock_guard<std::mutex> g(log_lock);
    char path[dir_text_size];
    path_in(data_dir, log_file_name, path);
    HANDLE file = open_log(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bool written = true;
    if (size == 0) written = write_all(file, log_header, sizeof log_header - 1);
    else if (size > log_rotate_size && size != INVALID_FILE_SIZE) {
        file = rotate(file, path);
        if (file == INVALID_HANDLE_VALUE) return false;
        // When "dLogOld.txt" cannot be written the log is still the old one.
        if (GetFileSize(file, nullptr) > log_size_limit) {
            CloseHandle(file);
            return false;
        }
    }
    SetFilePointer(file, 0, nullptr, FILE_END);
    char stamp[300];
    written &= put_padded(file, stamp, GetTimeFormatA(0, 0, nullptr, "HH' 'mm' 'ss", stamp, sizeof stamp),
                          log_time_width);
    written &= put_padded(file, stamp, GetDateFormatA(0, DATE_LONGDATE, nullptr, nullptr, stamp, sizeof stamp),
                          log_date_width);
    written &= write_all(file, " : ", 3) && write_all(file, text, strlen(text));
    if (why[0]) written &= write_all(file, " (", 2) && write_all(file, why, strlen(why)) && write_all(file, ")", 1);
    written &= write_all(file, "\r\n", 2);
    CloseHandle(file);
    return written;
}

bool write_log_with_server(const char* text, const char* why) {
    char line[server_name_size], name[server_name_size];
    copy_current_server_name(name);
    text_copy(line, sizeof line, text);
    text_append(line, sizeof line, name);
    return write_log(line, why);
}
