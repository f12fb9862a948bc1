#include "store/directories.h"

#include "base/program.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/server_list.h"

char program_path[dir_text_size];
char program_dir[dir_text_size];
char data_dir[dir_text_size];

void path_in(const char* dir, const char* name, char* out) {
    text_copy(out, dir_text_size, dir);
    text_append(out, dir_text_size, name);
}

static void find_program_dir() {
    char path[dir_text_size] = "";
    // A result of the buffer size means the path was cut: no path at all is truer.
    DWORD n = GetModuleFileNameA(nullptr, path, dir_text_size);
    if (n == 0 || n >= dir_text_size) path[0] = 0;
    text_copy(program_path, dir_text_size, path);
    size_t keep = 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\') keep = i + 1;
    if (keep) path[keep] = 0;
    text_copy(program_dir, dir_text_size, path);
}

static bool marker_present() {
    char marker[dir_text_size];
    path_in(program_dir, "DefSet.txt", marker);
    HANDLE file = CreateFileA(marker, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// The folder's Brenlo\Pendulark\, made when missing; without the folder the
// two directories land under the current drive's root.
static void program_folder_in(int csidl, char (&out)[dir_text_size]) {
    char dir[dir_text_size] = "";
    char folder[MAX_PATH + 1] = "";
    if (SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE)) text_copy(dir, sizeof dir, folder);
    text_append(dir, sizeof dir, "\\Brenlo");
    CreateDirectoryA(dir, nullptr);
    text_append(dir, sizeof dir, "\\Pendulark");
    CreateDirectoryA(dir, nullptr);
    text_append(dir, sizeof dir, "\\");
    text_copy(out, dir_text_size, dir);
}

static void use_appdata_dir() { program_folder_in(CSIDL_APPDATA, data_dir); }

void machine_dir(char (&out)[dir_text_size]) { program_folder_in(CSIDL_COMMON_APPDATA, out); }

bool seed_machine_dir(const char* user_dir, const char* dir) {
    bool copied = true;
    for (const char* name : {"dSync.dat", SERVER_LIST_NAME}) {
        char from[dir_text_size], to[dir_text_size];
        path_in(user_dir, name, from);
        path_in(dir, name, to);
        if (CopyFileA(from, to, TRUE)) continue;
        // Nothing to copy, or already there: neither is a failure.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_FILE_EXISTS)
            copied = false;
    }
    return copied;
}

void open_help() {
    char help[dir_text_size];
    path_in(program_dir, "ReadMe.htm", help);
    ShellExecuteA(nullptr, nullptr, help, nullptr, nullptr, SW_SHOWNORMAL);
}

void set_up_directories(int decide_location) {
    find_program_dir();
    text_copy(data_dir, dir_text_size, program_dir);
    if (decide_location != 1) return;
    char root[4];
    text_copy(root, sizeof root, program_dir);
    if (GetDriveTypeA(root) == DRIVE_REMOVABLE) return;
    if (marker_present()) use_appdata_dir();
}
