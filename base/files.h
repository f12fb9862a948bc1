// Writing to a file of the program's: every byte or a failure.
#pragma once
#include <stddef.h>

#include "os/win32.h"

inline bool write_all(HANDLE file, const void* bytes, size_t count) {
    DWORD done = 0;
    return WriteFile(file, bytes, (DWORD)count, &done, nullptr) && done == count;
}
