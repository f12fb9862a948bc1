// Any command line splits without overrunning the working copy or the argument.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "shell/command_line.h"
#include "tests/sim/os_test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    line.erase(std::find(line.begin(), line.end(), '\0'), line.end());
    os_test_reset();
    os_test_set_command_line(line);
    // An exact-size heap copy lets the address sanitizer see every overrun.
    for (int n = 0; n < 4; n++) {
        char* out = static_cast<char*>(malloc(argument_text_size));
        out[0] = 0;  // an odd-quoted line leaves the output as it was
        get_command_argument(n, out);
        if (!memchr(out, 0, argument_text_size)) abort();
        free(out);
    }
    command_switch();
    return 0;
}
