// A fresh program and data directory under Wine's temp folder for each test,
// emptied and removed afterwards.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/text.h"
#include "store/directories.h"
#include "tests/program_state.h"

class ScratchDir : public ::testing::Test {
protected:
    char dir[MAX_PATH];
    void SetUp() override {
        reset_program_state();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        snprintf(dir, sizeof dir, "%spendulark-%lu\\", temp, GetCurrentProcessId());
        CreateDirectoryA(dir, nullptr);
        text_copy(data_dir, sizeof data_dir, dir);
        text_copy(program_dir, sizeof program_dir, dir);
    }
    void TearDown() override {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path("*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                // A test may leave a directory where a file is expected.
                if (!RemoveDirectoryA(path(found.cFileName).c_str())) DeleteFileA(path(found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
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
