// The server list: where it is found, the default list, and the line grammar.
#include <filesystem>

#include "machine.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"

namespace {

class ServerList : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        name("unchanged");
    }
    void name(const char* text) { set_current_server_name(text); }
    std::string name() {
        std::lock_guard<std::mutex> g(server_name_lock);
        return current_server_name;
    }
    std::vector<std::string> choices() {
        std::vector<std::string> entries;
        list_server_entries([](const char* entry, void* all) { ((std::vector<std::string>*)all)->push_back(entry); },
                            &entries);
        return entries;
    }
};

TEST_F(ServerList, DefaultListIsMadeOnceWhereThereIsNone) {
    ensure_server_list();
    std::string list = read("ServFile.txt");
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 5);
    EXPECT_EQ(list.substr(list.size() - 2), "\r\n");
    EXPECT_EQ(list.find('#'), std::string::npos);
    std::vector<std::string> shown = choices();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0], "time.nist.gov");
    EXPECT_EQ(server_list_unavailable, 0u);

    write("ServFile.txt", "mine.example\r\n");
    ensure_server_list();
    EXPECT_EQ(read("ServFile.txt"), "mine.example\r\n");
}

TEST_F(ServerList, ListWrittenMeanwhileIsNeverReplaced) {
    // Another program makes its list after ours was looked for and before ours is made.
    os_test_write_before_next_create(dir + "ServFile.txt", "theirs.example\r\n");
    ensure_server_list();
    EXPECT_EQ(read("ServFile.txt"), "theirs.example\r\n");
}

TEST_F(ServerList, ANewListGoesWithTheUsersData) {
    // Installed: the data lives in the user's folder, the program where users may not write.
    std::filesystem::create_directory(dir + "data");
    text_copy(data_dir, dir_text_size, os_test_windows_path(dir + "data/").c_str());
    ensure_server_list();
    EXPECT_TRUE(exists("data/ServFile.txt"));
    EXPECT_FALSE(exists("ServFile.txt"));
    // A list beside the program, from an older release, is kept and used.
    std::filesystem::remove(dir + "data/ServFile.txt");
    write("ServFile.txt", "old.example\r\n");
    ensure_server_list();
    EXPECT_FALSE(exists("data/ServFile.txt"));
    ASSERT_EQ(read_server_list(1), 1u);
    EXPECT_EQ(name(), "old.example");
}

TEST_F(ServerList, DataDirectoryComesFirst) {
    std::filesystem::create_directory(dir + "data");
    text_copy(data_dir, dir_text_size, os_test_windows_path(dir + "data/").c_str());
    write("ServFile.txt", "beside.program\r\n");
    ASSERT_EQ(read_server_list(1), 1u);
    EXPECT_EQ(name(), "beside.program");
    write("data/ServFile.txt", "in.data\r\n");
    ASSERT_EQ(read_server_list(1), 1u);
    EXPECT_EQ(name(), "in.data");
}

TEST_F(ServerList, LineGrammar) {
    write("ServFile.txt",
          "first.example\r\n"
          "# a comment\r\n"
          "host.example #remark\r\n"
          "ab\r\n"
          "\r\n"
          "  spaced  \r\n"
          "split\nby-lf\r"
          "cr.only\r"
          "no-line-end");
    std::vector<std::string> expected = {"first.example", "  spaced  ", "split", "by-lf", "cr.only", "no-line-end"};
    EXPECT_EQ(choices(), expected);
    for (uint32_t n = 1; n <= expected.size(); n++) {
        ASSERT_EQ(read_server_list(n), 1u);
        EXPECT_EQ(name(), expected[n - 1]);
    }
    name("unchanged");
    EXPECT_EQ(read_server_list(7), 0u);
    EXPECT_EQ(name(), "unchanged");
}

// Any editor's line ends; a list with no entry lends manual address A to the
// syncs meanwhile and keeps the user's choice of the list.
TEST_F(ServerList, LineEndsOfEveryEditorAndAListWithoutEntries) {
    struct { const char* text; std::vector<std::string> entries; } cases[] = {
        {"a.example\nb.example\n", {"a.example", "b.example"}},
        {"a.example\r\nb.example", {"a.example", "b.example"}},
        {"# only a remark\r\nab\n", {}},
        {"", {}},
    };
    for (auto& c : cases) {
        write("ServFile.txt", c.text);
        settings.server_source = source_list;
        EXPECT_EQ(choices(), c.entries) << c.text;
        EXPECT_EQ(server_list_unavailable, c.entries.empty() ? 1u : 0u) << c.text;
        EXPECT_EQ(settings.server_source, source_list) << c.text;
        EXPECT_EQ(effective_server_source(), c.entries.empty() ? source_manual_a : source_list) << c.text;
    }
}

TEST_F(ServerList, OverlongLineIsCutAndKeepsItsNumber) {
    write("ServFile.txt", std::string(5000, 'x') + "\r\nafter.example\r\n");
    ASSERT_EQ(read_server_list(1), 1u);
    EXPECT_EQ(name(), std::string(599, 'x'));
    ASSERT_EQ(read_server_list(2), 1u);
    EXPECT_EQ(name(), "after.example");
}

TEST_F(ServerList, ListHeldOpenOrUncreatable) {
    write("ServFile.txt", "a.example\r\n");
    HANDLE held = CreateFileA(os_test_windows_path(dir + "ServFile.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read_server_list(1), 0u);
    EXPECT_EQ(name(), "unchanged");
    // A list that exists but is held is never replaced by the default one.
    ensure_server_list();
    CloseHandle(held);
    EXPECT_EQ(read("ServFile.txt"), "a.example\r\n");

    text_copy(program_dir, dir_text_size, os_test_windows_path(dir + "missing/").c_str());
    text_copy(data_dir, dir_text_size, program_dir);
    ensure_server_list();
    EXPECT_EQ(server_list_unavailable, 1u);
}

}  // namespace
