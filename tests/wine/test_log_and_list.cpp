// The log and the server list on Wine's real files, formats and sharing rules.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "shell/directories.h"
#include "shell/text.h"
#include "store/server_list.h"
#include "store/sync_log.h"
#include "sync/sync_worker.h"

namespace {

class LogAndList : public ::testing::Test {
protected:
    char dir[MAX_PATH];
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        snprintf(dir, sizeof dir, "%spendulark-log-%lu\\", temp, GetCurrentProcessId());
        CreateDirectoryA(dir, nullptr);
        text_copy(data_dir, sizeof data_dir, dir);
        text_copy(program_dir, sizeof program_dir, dir);
    }
    void TearDown() override {
        for (const char* name : {"dLog.txt", "ServFile.txt"}) DeleteFileA(path(name).c_str());
        RemoveDirectoryA(path("dLogOld.txt").c_str());
        DeleteFileA(path("dLogOld.txt").c_str());
        RemoveDirectoryA(dir);
    }
    std::string path(const char* name) { return std::string(dir) + name; }
    std::string read(const char* name) {
        HANDLE f = CreateFileA(path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return "<missing>";
        std::string bytes(2000000, '\0');
        DWORD got = 0;
        ReadFile(f, bytes.data(), (DWORD)bytes.size(), &got, nullptr);
        CloseHandle(f);
        bytes.resize(got);
        return bytes;
    }
    void write(const char* name, const std::string& bytes) {
        HANDLE f = CreateFileA(path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        WriteFile(f, bytes.data(), (DWORD)bytes.size(), &done, nullptr);
        CloseHandle(f);
    }
};

TEST_F(LogAndList, LinesKeepTheirLayoutWithTheRealFormats) {
    write_log("first");
    write_log("second");
    std::string log = read("dLog.txt");
    ASSERT_EQ(log.substr(0, 24), "Pendulark v1.15 Log\r\n \r\n");
    std::string line = log.substr(24, log.find("\r\n", 24) - 24);
    ASSERT_EQ(line.size(), 47u + 5);
    EXPECT_EQ(line.substr(44), " : first");
    EXPECT_EQ(line[2], ' ');
    EXPECT_EQ(line[5], ' ');
    EXPECT_EQ(line[8], ' ');
    EXPECT_NE(log.find(" : second\r\n"), std::string::npos);
}

TEST_F(LogAndList, HeldLogDropsTheLineAndAFailedCopyKeepsTheLog) {
    write_log("kept");
    HANDLE held = CreateFileA(path("dLog.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    write_log("dropped");
    CloseHandle(held);
    EXPECT_EQ(read("dLog.txt").find("dropped"), std::string::npos);

    std::string big(1000001, 'a');
    write("dLog.txt", big);
    ASSERT_TRUE(CreateDirectoryA(path("dLogOld.txt").c_str(), nullptr));
    write_log("appended");
    std::string log = read("dLog.txt");
    EXPECT_EQ(log.substr(0, big.size()), big);
    EXPECT_NE(log.find(" : appended\r\n"), std::string::npos);
}

TEST_F(LogAndList, DefaultListIsWrittenAndRead) {
    ensure_server_list();
    ASSERT_EQ(read_server_list(nullptr, 5), 1u);
    std::lock_guard<std::mutex> g(sync_text_lock);
    EXPECT_STREQ(current_server_name, "time.cloudflare.com");
}

}  // namespace
