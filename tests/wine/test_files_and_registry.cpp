// Settings file and start-with-Windows value against Wine's real files and registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "shell/directories.h"
#include "shell/text.h"
#include "store/settings_store.h"

namespace {

std::string read_file(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[2048];
    DWORD got = 0;
    ReadFile(f, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(f);
    return std::string(buffer, got);
}

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

class RealFiles : public ::testing::Test {
protected:
    char dir[MAX_PATH];
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        snprintf(dir, sizeof dir, "%spendulark-%lu\\", temp, GetCurrentProcessId());
        CreateDirectoryA(dir, nullptr);
        text_copy(data_dir, sizeof data_dir, dir);
        text_copy(program_dir, sizeof program_dir, dir);
        reset_settings();
    }
    void TearDown() override {
        for (const char* name : {"dSync.dat", "dSync.new", "Pendulark.exe", "ServFile.txt"}) DeleteFileA((std::string(dir) + name).c_str());
        RemoveDirectoryA(dir);
    }
    std::string path(const char* name) { return std::string(dir) + name; }
};

TEST_F(RealFiles, SaveWritesTheWholeRecordAndLoadsItBack) {
    settings.sync_timeout_seconds = 42;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "127.0.0.9");
    save_settings();
    std::string bytes = read_file(path("dSync.dat"));
    ASSERT_EQ(bytes.size(), 508u);
    EXPECT_EQ(bytes.substr(0, 8), "SYNC1150");
    EXPECT_EQ(read_file(path("dSync.new")), "<missing>");

    reset_settings();
    load_settings();
    EXPECT_EQ(settings.sync_timeout_seconds, 42u);
    EXPECT_STREQ(settings.manual_address_a, "127.0.0.9");
}

TEST_F(RealFiles, SaveAgainstAFileHeldOpenKeepsTheOldOne) {
    save_settings();
    std::string before = read_file(path("dSync.dat"));
    HANDLE held = CreateFileA(path("dSync.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    settings.sync_timeout_seconds = 77;
    save_settings();
    CloseHandle(held);
    EXPECT_EQ(read_file(path("dSync.dat")), before);
    EXPECT_EQ(read_file(path("dSync.new")), "<missing>");
}

TEST_F(RealFiles, RunValueFollowsTheStartAction) {
    // The value names the program found on the search path: make one in the current directory.
    char old_dir[MAX_PATH];
    GetCurrentDirectoryA(sizeof old_dir, old_dir);
    SetCurrentDirectoryA(dir);
    CloseHandle(CreateFileA(path("Pendulark.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    bool exists;

    settings.windows_start_action = 2;
    save_settings();
    std::string value = run_value(&exists);
    ASSERT_TRUE(exists);
    EXPECT_EQ(value, path("Pendulark.exe") + "/q");

    settings.windows_start_action = 1;
    save_settings();
    EXPECT_EQ(run_value(&exists), path("Pendulark.exe"));

    settings.windows_start_action = 0;
    save_settings();
    run_value(&exists);
    EXPECT_FALSE(exists);
    SetCurrentDirectoryA(old_dir);
}

}  // namespace
