// Settings file and start-with-Windows value against Wine's real files and registry.
#include <stdio.h>

#include <string>

#include "scratch_dir.h"
#include "base/program.h"
#include "store/settings_store.h"
#include "store/start_at_logon.h"

namespace {

std::string run_value(bool* exists) {
    char value[700] = "";
    DWORD size = sizeof value - 1, type = 0;
    HKEY key;
    *exists = false;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "";
    *exists = RegQueryValueExA(key, "Pendulark.exe", nullptr, &type, (BYTE*)value, &size) == ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    return value;
}

class RealFiles : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        reset_settings();
    }
};

TEST_F(RealFiles, SaveWritesTheWholeRecordAndLoadsItBack) {
    settings.sync_timeout_seconds = 42;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "127.0.0.9");
    save_settings();
    std::string bytes = read("dSync.dat");
    ASSERT_EQ(bytes.size(), settings_file_size);
    EXPECT_EQ(bytes.substr(0, 8), "SYNC1" PROGRAM_RELEASE_DIGITS);
    EXPECT_EQ(read("dSync.new"), "<missing>");

    reset_settings();
    load_settings();
    EXPECT_EQ(settings.sync_timeout_seconds, 42u);
    EXPECT_STREQ(settings.manual_address_a, "127.0.0.9");
}

TEST_F(RealFiles, SaveAgainstAFileHeldOpenKeepsTheOldOne) {
    save_settings();
    std::string before = read("dSync.dat");
    HANDLE held = CreateFileA(path("dSync.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    settings.sync_timeout_seconds = 77;
    save_settings();
    CloseHandle(held);
    EXPECT_EQ(read("dSync.dat"), before);
    EXPECT_EQ(read("dSync.new"), "<missing>");
}

// The folder of task files Wine's scheduler keeps.
std::string task_folder() {
    char path[MAX_PATH + 400];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    // The scheduler is a 64-bit service; "sysnative" is its system32 for a 32-bit test.
    return std::string(path, length) + (sizeof(void*) == 4 ? "\\sysnative" : "\\system32") + "\\tasks\\Pendulark\\";
}

// The name of the one task there, "" when there is none.
std::string task_name() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((task_folder() + "*").c_str(), &found);
    std::string name;
    if (search == INVALID_HANDLE_VALUE) return name;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        EXPECT_EQ(name, "") << "a second task " << found.cFileName;
        name = found.cFileName;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return name;
}

// The task file, "" when there is none. Wine keeps no trigger or action of a
// task, so the description stands for them.
std::string task_file(const std::string& name) {
    FILE* f = fopen((task_folder() + name).c_str(), "rb");
    if (!f) return "";
    std::string text;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, got);
    fclose(f);
    return text;
}

// Wine has the Task Scheduler of Vista and later: the start at logon is a task
// of the user's, and an older release's Run value goes.
TEST_F(RealFiles, StartAtLogonIsATaskThatReplacesTheRunValue) {
    set_up_directories(0);
    text_copy(data_dir, sizeof data_dir, dir);  // the settings stay in the scratch folder
    char user[300];
    DWORD size = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &size));
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExA(key, "Pendulark.exe", 0, REG_SZ, (const BYTE*)"old", 4);
    RegCloseKey(key);
    std::string program = std::string("\"") + program_path + "\"";
    EXPECT_NE(program.find("wine_tests.exe"), std::string::npos);

    settings.windows_start_action = 2;
    save_settings();
    bool exists;
    run_value(&exists);
    EXPECT_FALSE(exists);
    // Named after the account and its domain.
    std::string task = task_name();
    EXPECT_EQ(task.substr(0, task.find(" (") + 2), std::string("At logon of ") + user + " (");
    EXPECT_EQ(task.back(), ')');
    EXPECT_NE(task_file(task).find("Starts " + program + " /q at the logon of "), std::string::npos) << task_file(task);
    settings.windows_start_action = 1;
    save_settings();
    EXPECT_NE(task_file(task).find("Starts " + program + " at the logon of "), std::string::npos) << task_file(task);
    settings.windows_start_action = 0;
    save_settings();
    EXPECT_EQ(task_file(task), "");

    // The uninstaller's call takes the whole folder.
    settings.windows_start_action = 1;
    save_settings();
    remove_start_at_logon();
    EXPECT_EQ(task_file(task), "");
    run_value(&exists);
    EXPECT_FALSE(exists);
}

}  // namespace
