// The log and the server list on Wine's real files, formats and sharing rules.
#include <string>

#include "scratch_dir.h"
#include "base/program.h"
#include "store/server_list.h"
#include "store/sync_log.h"
#include "sync/sync_worker.h"

namespace {

class LogAndList : public ScratchDir {};

TEST_F(LogAndList, LinesKeepTheirLayoutWithTheRealFormats) {
    write_log("first");
    write_log("second");
    std::string log = read("dLog.txt");
    const std::string header = "Pendulark v" PROGRAM_VERSION_TEXT " Log\r\n \r\n";
    ASSERT_EQ(log.substr(0, header.size()), header);
    std::string line = log.substr(header.size(), log.find("\r\n", header.size()) - header.size());
    ASSERT_EQ(line.size(), log_stamp_width + 5u);
    EXPECT_EQ(line.substr(log_stamp_width - 3), " : first");
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
    ASSERT_EQ(read_server_list(5), 1u);
    std::lock_guard<std::mutex> g(server_name_lock);
    EXPECT_STREQ(current_server_name, "time.cloudflare.com");
}

}  // namespace
