// The sync log: line layout, rotation, and writers that meet.
#include <filesystem>
#include <thread>

#include "machine.h"
#include "base/program.h"
#include "base/text.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/sync_log.h"
#include "sync/sync_worker.h"

namespace {

const std::string header = "Pendulark v" PROGRAM_VERSION_TEXT " Log\r\n \r\n";

class SyncLog : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        os_test_set_utc(2026, 12, 7, 10, 5, 9);
    }
    std::string line(const std::string& text) {
        std::string date = "Monday, December 7, 2026";
        return "10 05 09 " + date + std::string(log_date_width - date.size(), ' ') + " : " + text + "\r\n";
    }
};

TEST_F(SyncLog, FirstEntryMakesTheFileWithItsHeader) {
    set_current_server_name("time.example");
    EXPECT_TRUE(write_log("Time Zone Restored"));
    EXPECT_EQ(write_log_with_server("No response from "), 1);
    EXPECT_EQ(read("dLog.txt"), header + line("Time Zone Restored") + line("No response from time.example"));
}

TEST_F(SyncLog, LocalTimeAndLongDatesAreCutOrPadded) {
    os_test_set_bias(-600);  // ten hours east of UTC: the local date is the next day
    os_test_set_utc(2026, 9, 29, 23, 59, 59);
    write_log("x");
    std::string text = read("dLog.txt").substr(header.size());
    // "Wednesday, September 30, 2026" is 29 characters.
    EXPECT_EQ(text, "09 59 59 Wednesday, September 30, 2026       : x\r\n");
    EXPECT_EQ(text.find(" : "), size_t(log_stamp_width - 3));

    // A locale whose long dates run past the field: cut, and the text still in its column.
    os_test_set_long_date_format("dddd, d MMMM yyyy 'in the common era'");
    write_log("y");
    text = read("dLog.txt").substr(header.size() + text.size());
    EXPECT_EQ(text, "09 59 59 Wednesday, 30 September 2026 in the : y\r\n");
}

TEST_F(SyncLog, RotatesOnlyAboveTheLimit) {
    std::string big = header + std::string(1000000 - header.size(), 'a');
    write("dLog.txt", big);
    write_log("one");
    EXPECT_EQ(read("dLog.txt"), big + line("one"));
    EXPECT_FALSE(exists("dLogOld.txt"));

    std::string before = read("dLog.txt");
    write_log("two");
    EXPECT_EQ(read("dLogOld.txt"), before);
    EXPECT_EQ(read("dLog.txt"), header + line("two"));
}

TEST_F(SyncLog, FailedCopyKeepsTheLogAndTriesAgain) {
    std::string big = std::string(1000001, 'a');
    write("dLog.txt", big);
    std::filesystem::create_directory(dir + "dLogOld.txt");  // nothing can be copied onto it
    write_log("kept");
    EXPECT_EQ(read("dLog.txt"), big + line("kept"));

    std::filesystem::remove(dir + "dLogOld.txt");
    write_log("rotated");
    EXPECT_EQ(read("dLogOld.txt"), big + line("kept"));
    EXPECT_EQ(read("dLog.txt"), header + line("rotated"));
}

TEST_F(SyncLog, ALogThatCannotBeRotatedStopsGrowingAtItsLimit) {
    std::string big(4000000, 'a');
    write("dLog.txt", big);
    std::filesystem::create_directory(dir + "dLogOld.txt");
    write_log("kept");
    std::string grown = big + line("kept");
    EXPECT_EQ(read("dLog.txt"), grown);
    write_log("dropped");
    EXPECT_EQ(read("dLog.txt"), grown);
    // Rotation is still tried, and works once the old log can be written.
    std::filesystem::remove(dir + "dLogOld.txt");
    write_log("rotated");
    EXPECT_EQ(read("dLogOld.txt"), grown);
    EXPECT_EQ(read("dLog.txt"), header + line("rotated"));
}

TEST_F(SyncLog, AnotherProgramHoldingTheLogDropsTheEntry) {
    write_log("first");
    HANDLE held = CreateFileA(os_test_windows_path(dir + "dLog.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(write_log("dropped"));
    CloseHandle(held);
    EXPECT_EQ(read("dLog.txt"), header + line("first"));
}

// Threaded tests carry the prefix by which ThreadSanitizer picks them.
using ThreadedSyncLog = SyncLog;

TEST_F(ThreadedSyncLog, ConcurrentWritersKeepEveryLine) {
    auto writer = [] {
        for (int i = 0; i < 200; i++) write_log("Server Pendularked 127.0.0.1");
    };
    std::thread other(writer);
    writer();
    other.join();
    std::string text = read("dLog.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 400);
}

TEST_F(SyncLog, LongTextWithServerIsCut) {
    set_current_server_name(std::string(599, 's').c_str());
    write_log_with_server("No response from ");
    std::string text = read("dLog.txt").substr(header.size() + log_stamp_width);
    EXPECT_EQ(text, "No response from " + std::string(599 - 17, 's') + "\r\n");
}

}  // namespace
