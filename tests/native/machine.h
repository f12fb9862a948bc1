// A fresh simulated machine with a scratch program directory for each test.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/filetime.h"
#include "tests/program_state.h"
#include "tests/sim/os_test.h"

// 2006-01-01 00:00:00 UTC in protocol seconds: the answer the tests' servers give.
constexpr uint32_t new_year_2006 = 3345062400u;

class Machine : public ::testing::Test {
protected:
    std::string dir;  // host path, ends in '/'

    void SetUp() override {
        os_test_reset();
        reset_program_state();
        char pattern[] = "/tmp/pendulark-XXXXXX";
        dir = std::string(mkdtemp(pattern)) + "/";
        os_test_set_program_path(os_test_windows_path(dir + "Pendulark.exe"));
        os_test_set_utc(2026, 12, 7, 12, 0, 0);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string read(const std::string& name) {
        std::ifstream in(dir + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + name, std::ios::binary) << bytes;
    }
    bool exists(const std::string& name) { return std::filesystem::exists(dir + name); }
    // What the program last set the virtual clock to.
    uint64_t set_to() {
        SYSTEMTIME st = os_test_last_set_time();
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        return filetime_of(ft);
    }
};
