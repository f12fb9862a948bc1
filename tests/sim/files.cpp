// Files of the simulated machine: real files under their host paths, with
// Windows' sharing rules, and where the program and its data live.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

namespace {

// Open files by host path, for the sharing rules of CreateFileA.
std::mutex open_lock;
std::multimap<std::string, Object*> open_files;

bool sharing_allows(const Object& open, DWORD access, DWORD share) {
    if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return false;
    if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
    return true;
}

}  // namespace

std::string os_test_windows_path(const std::string& host_path) {
    std::string s = host_path;
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

std::string os_test_host_path(const std::string& windows_path) {
    std::string s = windows_path;
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

void os_test_write_before_next_create(const std::string& host_path, const std::string& bytes) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().race_path = host_path;
    state().race_bytes = bytes;
}

static void run_create_race(DWORD disposition) {
    if (disposition == OPEN_EXISTING) return;
    std::string path, bytes;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        path.swap(state().race_path);
        bytes = state().race_bytes;
    }
    if (path.empty()) return;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD,
                   HANDLE) {
    std::string path = os_test_host_path(name ? name : "");
    run_create_race(disposition);
    std::lock_guard<std::mutex> g(open_lock);
    auto range = open_files.equal_range(path);
    for (auto it = range.first; it != range.second; ++it) {
        if (!sharing_allows(*it->second, access, share)) {
            last_error = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        default: break;
    }
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        last_error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        last_error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    Object* o = new Object(kFile);
    o->fd = fd;
    o->access = access;
    o->share = share;
    o->path = path;
    open_files.emplace(path, o);
    last_error = 0;
    return o;
}

void os_test_fail_reads(const std::string& host_path) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().failing_reads = host_path;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* done, void*) {
    Object* o = (Object*)file;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        if (!state().failing_reads.empty() && o->path == state().failing_reads) {
            if (done) *done = 0;
            last_error = ERROR_LOCK_VIOLATION;
            return FALSE;
        }
    }
    ssize_t n = read(o->fd, buffer, size);
    if (done) *done = n > 0 ? (DWORD)n : 0;
    return n >= 0;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* done, void*) {
    Object* o = (Object*)file;
    ssize_t n = write(o->fd, buffer, size);
    if (done) *done = n > 0 ? (DWORD)n : 0;
    return n == (ssize_t)size;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    struct stat st;
    if (fstat(((Object*)file)->fd, &st) != 0) return INVALID_FILE_SIZE;
    if (high) *high = (DWORD)((uint64_t)st.st_size >> 32);
    return (DWORD)st.st_size;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG*, DWORD method) {
    off_t r = lseek(((Object*)file)->fd, distance, method == FILE_END ? SEEK_END : SEEK_SET);
    return r < 0 ? INVALID_SET_FILE_POINTER : (DWORD)r;
}

BOOL FlushFileBuffers(HANDLE file) {
    return fsync(((Object*)file)->fd) == 0;
}

BOOL CloseHandle(HANDLE object) {
    Object* o = (Object*)object;
    if (!o || o == INVALID_HANDLE_VALUE) return FALSE;
    if (o->kind == kFile) {
        std::lock_guard<std::mutex> g(open_lock);
        auto range = open_files.equal_range(o->path);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == o) {
                open_files.erase(it);
                break;
            }
        }
        close(o->fd);
    }
    delete o;
    return TRUE;
}

static bool is_open(const std::string& path) {
    std::lock_guard<std::mutex> g(open_lock);
    return open_files.count(path) != 0;
}

BOOL DeleteFileA(const char* name) {
    std::string path = os_test_host_path(name);
    if (is_open(path)) {
        last_error = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    return unlink(path.c_str()) == 0;
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags) {
    std::string a = os_test_host_path(from), b = os_test_host_path(to);
    if (is_open(a) || is_open(b)) {
        last_error = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && access(b.c_str(), F_OK) == 0) {
        last_error = ERROR_ALREADY_EXISTS;
        return FALSE;
    }
    return rename(a.c_str(), b.c_str()) == 0;
}

BOOL CopyFileA(const char* from, const char* to, BOOL fail_if_exists) {
    std::string a = os_test_host_path(from), b = os_test_host_path(to);
    if (is_open(a) || is_open(b)) {
        last_error = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    FILE* in = fopen(a.c_str(), "rb");
    if (!in) {
        last_error = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (fail_if_exists && access(b.c_str(), F_OK) == 0) {
        fclose(in);
        last_error = ERROR_FILE_EXISTS;
        return FALSE;
    }
    FILE* out = fopen(b.c_str(), "wb");
    if (!out) {
        fclose(in);
        last_error = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    char buf[65536];
    size_t n;
    bool ok = true;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) ok = ok && fwrite(buf, 1, n, out) == n;
    fclose(in);
    ok = fclose(out) == 0 && ok;
    return ok;
}

BOOL CreateDirectoryA(const char* name, void*) {
    if (mkdir(os_test_host_path(name).c_str(), 0755) == 0) return TRUE;
    last_error = errno == EEXIST ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
    return FALSE;
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD size) {
    std::string path;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        path = state().program_path;
    }
    if (path.empty()) {
        last_error = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    // Like Windows XP: a path too long is cut to the buffer, unterminated, and the size returned.
    if (path.size() + 1 > size) {
        memcpy(buffer, path.c_str(), size);
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

UINT GetDriveTypeA(const char*) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().drive_type;
}

BOOL SHGetSpecialFolderPathA(HWND, char* path, int csidl, BOOL) {
    std::lock_guard<std::mutex> g(machine().lock);
    const std::string& a = csidl == CSIDL_COMMON_APPDATA ? state().common_appdata : state().appdata;
    if (a.empty() || a.size() >= MAX_PATH) return FALSE;
    memcpy(path, a.c_str(), a.size() + 1);
    return TRUE;
}

void os_test_set_program_path(const std::string& path) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().program_path = path;
}

void os_test_set_drive_type(UINT type) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().drive_type = type;
}

void os_test_set_appdata(const std::string& path) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().appdata = path;
}

void os_test_set_common_appdata(const std::string& path) {
    std::lock_guard<std::mutex> g(machine().lock);
    state().common_appdata = path;
}
