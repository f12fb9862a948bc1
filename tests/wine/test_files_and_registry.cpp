// Settings file and start-with-Windows value against Wine's real files and registry.
#include <string>

#include "scratch_dir.h"
#include "store/settings_store.h"

namespace {

// The value and, through size, the bytes it is stored with.
std::string run_value(bool* exists, DWORD* stored = nullptr) {
    char value[700] = "";
    DWORD size = sizeof value - 1, type = 0;
    HKEY key;
    *exists = false;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "";
    *exists = RegQueryValueExA(key, "Pendulark.exe", nullptr, &type, (BYTE*)value, &size) == ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    if (stored) *stored = size;
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
    ASSERT_EQ(bytes.size(), 508u);
    EXPECT_EQ(bytes.substr(0, 8), "SYNC1150");
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

TEST_F(RealFiles, RunValueFollowsTheStartAction) {
    // The value names this very program, whatever its file is called; the
    // settings stay in the scratch folder.
    set_up_directories(0);
    text_copy(data_dir, sizeof data_dir, dir);
    bool exists;
    DWORD stored = 0;

    settings.windows_start_action = 2;
    save_settings();
    std::string value = run_value(&exists, &stored);
    ASSERT_TRUE(exists);
    // The path in quotes, then the switch apart from it.
    auto quoted = [&](const char* tail) {
        std::string command = "\"";
        command += program_path;
        command += "\"";
        command += tail;
        return command;
    };
    EXPECT_NE(std::string(program_path).find("wine_tests.exe"), std::string::npos);
    EXPECT_EQ(value, quoted(" /q"));
    EXPECT_EQ(stored, value.size() + 1) << "the terminating zero is part of a REG_SZ";

    settings.windows_start_action = 1;
    save_settings();
    EXPECT_EQ(run_value(&exists), quoted(""));

    settings.windows_start_action = 0;
    save_settings();
    run_value(&exists);
    EXPECT_FALSE(exists);
}

}  // namespace
