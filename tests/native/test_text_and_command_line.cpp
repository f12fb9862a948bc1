#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "base/text.h"
#include "shell/command_line.h"
#include "tests/sim/os_test.h"

TEST(Text, CopiesAreCutToTheBuffer) {
    char small[4];
    EXPECT_EQ(text_copy(small, sizeof small, "abcdef"), 3u);
    EXPECT_STREQ(small, "abc");
    char buf[8] = "ab";
    EXPECT_EQ(text_append(buf, sizeof buf, "cdefghij"), 7u);
    EXPECT_STREQ(buf, "abcdefg");
    char full[3] = {'x', 'y', 'z'};  // no terminator at all
    EXPECT_EQ(text_length(full, sizeof full), 3u);
    EXPECT_EQ(text_append(full, sizeof full, "q"), 3u);
}

TEST(Text, DecimalBothWays) {
    char out[12];
    text_of_int(0, out);
    EXPECT_STREQ(out, "0");
    text_of_int(-12, out);
    EXPECT_STREQ(out, "-12");
    text_of_int(INT32_MIN, out);
    EXPECT_STREQ(out, "-2147483648");
    EXPECT_EQ(int_of_text("149", 3), 149u);
    // Not checked to be digits: ':' counts as 10.
    EXPECT_EQ(int_of_text("1:0", 3), 200u);
}

struct ArgumentCase {
    const char* line;
    int n;
    int result;
    const char* argument;
};

// How Windows programs are started: paths with spaces in quotes, tabs, switches
// glued to the program name by the start-with-Windows value.
const ArgumentCase argument_cases[] = {
    {"Pendulark.exe /q", 1, argument_found, "/q"},
    {"Pendulark.exe /q", 0, argument_found, "Pendulark.exe"},
    {"  Pendulark.exe\t\t/S  ", 1, argument_found, "/S"},
    {"\"C:\\Program Files\\Pendulark.exe\" /q", 1, argument_found, "/q"},
    {"\"C:\\Program Files\\Pendulark.exe\" /q", 0, argument_found, "C:\\Program Files\\Pendulark.exe"},
    {"Pendulark.exe \"a b\" c", 1, argument_found, "a b"},
    {"Pendulark.exe \"a b\" c", 2, argument_found, "c"},
    {"Pendulark.exe \"\"", 1, argument_empty, ""},
    {"Pendulark.exe", 1, argument_missing, ""},
    {"", 0, argument_missing, ""},
    {"Pendulark.exe \"/q", 1, argument_odd_quotes, "untouched"},
    {"C:\\Program Files\\Pendulark.exe/q", 1, argument_found, "Files\\Pendulark.exe/q"},
};

TEST(CommandLine, SplitsLikeWindows) {
    for (const ArgumentCase& c : argument_cases) {
        char out[argument_text_size] = "untouched";
        EXPECT_EQ(split_command_argument(c.line, c.n, out), c.result) << c.line << " #" << c.n;
        EXPECT_STREQ(out, c.argument) << c.line << " #" << c.n;
    }
}

TEST(CommandLine, OverlongLineIsCutNotOverrun) {
    std::string line = "Pendulark.exe " + std::string(5000, 'x') + " /q";
    char out[argument_text_size];
    EXPECT_EQ(split_command_argument(line.c_str(), 1, out), argument_found);
    EXPECT_EQ(strlen(out), (size_t)command_work_size - 1 - strlen("Pendulark.exe "));
    // The switch lay beyond the cut and is not seen.
    EXPECT_EQ(split_command_argument(line.c_str(), 2, out), argument_missing);
    std::string quoted = "\"" + std::string(300, ' ') + "\"";
    EXPECT_EQ(split_command_argument(quoted.c_str(), 0, out), argument_found);
    // One argument longer than its buffer is cut to it.
    EXPECT_EQ(split_command_argument(std::string(5000, 'x').c_str(), 0, out), argument_found);
    EXPECT_EQ(strlen(out), (size_t)argument_text_size - 1);
}

TEST(CommandLine, SwitchesByTheirLastTwoCharacters) {
    struct {
        const char* line;
        int expected;
    } cases[] = {
        {"p.exe /q", switch_quiet},
        {"p.exe /Q", switch_quiet},
        {"\"C:\\My Apps\\Pendulark.exe\" /q", switch_quiet},  // the Run value of this release
        {"\"C:\\My Apps\\Pendulark.exe\"", switch_none},
        {"C:\\My Apps\\Pendulark.exe/Q", switch_quiet},       // older releases glued it on
        {"C:\\Tools\\Pendulark.exe/q", switch_quiet},
        {"\"C:\\My Apps\\Pendulark.exe/Q\"", switch_quiet},
        {"p.exe something/q", switch_quiet},
        {"p.exe /s", switch_minimised},
        {"p.exe /S extra", switch_minimised},
        {"p.exe /Unregister", switch_unregister},
        {"p.exe x/unregister", switch_none},
        {"p.exe /Service", switch_service},
        {"p.exe /service install", switch_service},
        {"p.exe /services", switch_none},
        {"p.exe q", switch_none},
        {"p.exe /x", switch_none},
        {"p.exe", switch_none},
        {"p.exe \"/q", switch_none},
    };
    for (auto& c : cases) {
        os_test_set_command_line(c.line);
        EXPECT_EQ(command_switch(), c.expected) << c.line;
    }
}

TEST(CommandLine, TheServiceWordFollowsItsSwitch) {
    struct {
        const char* line;
        int expected;
    } cases[] = {
        {"p.exe /service", service_run},         {"p.exe /service install", service_install},
        {"p.exe /service REMOVE", service_remove}, {"p.exe /service \"\"", service_unknown},
        {"p.exe /service installs", service_unknown},
    };
    for (auto& c : cases) {
        os_test_set_command_line(c.line);
        EXPECT_EQ(service_command(), c.expected) << c.line;
    }
}
