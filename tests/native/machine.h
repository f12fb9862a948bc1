// A fresh simulated machine with a scratch program directory for each test.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/program_state.h"
#include "tests/sim/os_test.h"

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
};
