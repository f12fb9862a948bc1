#include "base/privileges.h"

#include "base/text.h"

bool enable_privilege(const char* name) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    // Windows 9x has no privileges: nothing stands in the way.
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return true;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                   // A token without the privilege "succeeds" and says so only here.
                   GetLastError() != ERROR_NOT_ALL_ASSIGNED;
    CloseHandle(token);
    return enabled;
}

void refusal_text(DWORD error, char (&out)[refusal_text_size]) {
    if (error == ERROR_PRIVILEGE_NOT_HELD) {
        text_copy(out, sizeof out, "privilege not held");
        return;
    }
    char number[12];
    text_of_int((int32_t)error, number);
    text_copy(out, sizeof out, "error ");
    text_append(out, sizeof out, number);
}
