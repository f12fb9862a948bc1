// Reading text values of the registry into the program's fixed buffers.
#pragma once
#include <stddef.h>

#include "os/win32.h"

// One text value of an open key, cut to the buffer and always terminated;
// false (and an empty text) when it is missing or not a text.
template <size_t N>
bool read_registry_text(HKEY key, const char* name, char (&out)[N]) {
    DWORD type = 0, size = N - 1;
    bool found = RegQueryValueExA(key, name, nullptr, &type, (BYTE*)out, &size) == ERROR_SUCCESS && type == REG_SZ;
    if (!found) size = 0;
    out[size < N ? size : N - 1] = 0;
    return found;
}
