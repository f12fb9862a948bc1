// A fresh simulated machine whose program directory holds one file of fuzz input.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "store/directories.h"
#include "tests/program_state.h"
#include "tests/sim/os_test.h"

// The host path of the program directory, made once per run; ends in '/'.
inline const std::string& fuzz_dir() {
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/pendulark-fuzz-XXXXXX";
        dir = std::string(mkdtemp(pattern)) + "/";
    }
    return dir;
}

inline void put_program_file(const char* name, const uint8_t* data, size_t size) {
    os_test_reset();
    reset_program_state();
    os_test_set_program_path(os_test_windows_path(fuzz_dir() + "Pendulark.exe"));
    set_up_directories(0);
    FILE* f = fopen((fuzz_dir() + name).c_str(), "wb");
    fwrite(data, 1, size, f);
    fclose(f);
}
