// Clock correction against the virtual clock, which records what it was set to.
#include "machine.h"
#include "base/filetime.h"
#include "base/text.h"
#include "store/directories.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/clock_correction.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

namespace {

constexpr int64_t second = 1ll << 32;  // offset sums are 32.32 fixed point

uint64_t at(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    SYSTEMTIME st{(WORD)year, (WORD)month, 0, (WORD)day, (WORD)hour, (WORD)minute, (WORD)second, (WORD)ms};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return filetime_of(ft);
}

class ClockCorrection : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        settings.log_level = 0;
        correct_mode = 1;
        set_current_server_name("time.example");
    }
    // A Time Protocol answer of `seconds`, corrected `elapsed_ms` after it came.
    // The live setting says SNTP: the reply's own protocol is what counts.
    void time_protocol_answer(uint32_t seconds, DWORD elapsed_ms) {
        settings.protocol = protocol_sntp;
        sync_answer.protocol = protocol_time;
        sync_answer.seconds = seconds;
        sync_answer.reply_tick = GetTickCount();
        os_test_advance_ms(elapsed_ms);
    }
    std::string log_text() {
        std::string log = read("dLog.txt");
        const size_t stamped = sizeof log_header - 1 + log_stamp_width;
        return log.size() > stamped ? log.substr(stamped) : "";
    }
};

TEST_F(ClockCorrection, TimeProtocolCountsElapsedTimeIn1024msSteps) {
    time_protocol_answer(new_year_2006, 2500);
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), at(2006, 1, 1, 0, 0, 2));
    EXPECT_EQ(os_test_time_change_broadcasts(), 1);
    EXPECT_EQ(correct_mode, 0u);
    EXPECT_EQ(server_clock_valid, 1u);

    correct_mode = 1;
    time_protocol_answer(new_year_2006, 1023);
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), at(2006, 1, 1, 0, 0, 0));
}

TEST_F(ClockCorrection, AnswersAfterThe2036RolloverLandInTheNextEra) {
    time_protocol_answer(5, 0);
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), at(2036, 2, 7, 6, 28, 21));
}

TEST_F(ClockCorrection, SntpMovesTheClockByHalfTheOffsetSum) {
    sync_answer.protocol = protocol_sntp;
    os_test_set_utc(2026, 12, 7, 12, 0, 0, 500);
    sync_answer.offset_sum = -3 * second;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), at(2026, 12, 7, 11, 59, 59));
    EXPECT_EQ(force_time_protocol, 0u);

    // Whole seconds of the sum are not all there is: 0.25 s moves by 125 ms.
    correct_mode = 1;
    sync_answer.offset_sum = second / 4;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), at(2026, 12, 7, 11, 59, 59, 125));

    // Below the millisecond the clock is rounded, not cut: 0.9 ms is one.
    correct_mode = 1;
    uint64_t before = os_test_utc();
    sync_answer.offset_sum = second / 1000 * 18 / 10;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), before / 10000 * 10000 + 10000);
}

TEST_F(ClockCorrection, LargeOffsetsFallBackToTheWholeSeconds) {
    sync_answer.protocol = protocol_sntp;
    os_test_set_utc(2026, 12, 7, 12, 0, 0);
    sync_answer.seconds = new_year_2006;
    sync_answer.reply_tick = GetTickCount();
    sync_answer.offset_sum = 1500000 * second;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(force_time_protocol, 0u);
    EXPECT_EQ(set_to(), at(2026, 12, 16, 4, 20, 0));  // 750,000 s ahead

    correct_mode = 1;
    sync_answer.offset_sum = -1500001 * second;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(force_time_protocol, 1u);
    EXPECT_EQ(set_to(), at(2006, 1, 1, 0, 0, 0));
}

TEST_F(ClockCorrection, CheckOnlyShowsTheServerClock) {
    sync_answer.protocol = protocol_sntp;
    os_test_set_bias(-60);
    correct_mode = 0;
    sync_answer.seconds = new_year_2006;
    sync_answer.reply_tick = GetTickCount();
    sync_answer.offset_sum = 100 * second;  // a check ignores the offset and takes the transmit seconds
    correct_clock(sync_answer, 0);
    EXPECT_EQ(os_test_set_time_calls(), 0);
    EXPECT_EQ(correct_mode, 0u);
    EXPECT_EQ(server_clock_valid, 1u);
    EXPECT_EQ(filetime_of(settings.server_clock), at(2006, 1, 1, 0, 0, 0));  // kept in UTC
}

TEST_F(ClockCorrection, MinuteOffsetAndMinutesSecondsOnly) {
    time_protocol_answer(new_year_2006, 0);
    settings.offset_minutes = 5;
    settings.offset_direction = 1;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(set_to(), at(2005, 12, 31, 23, 55, 0));
    // The server clock shows the server's own time, not the shifted one.
    EXPECT_EQ(filetime_of(settings.server_clock), at(2006, 1, 1, 0, 0, 0));

    // Only minutes and seconds move, by the smallest step: server 10:59:59.875
    // and this clock 11:00:00.125 stay in the hour before, not an hour off.
    settings.offset_minutes = 0;
    settings.minutes_seconds_only = 1;
    sync_answer.protocol = protocol_sntp;
    struct { int hour, minute, second, ms; double offset; int set_hour, set_minute, set_second, set_ms; } cases[] = {
        {11, 0, 0, 125, -0.25, 10, 59, 59, 875},
        {10, 59, 59, 875, 0.25, 11, 0, 0, 125},
        {11, 30, 0, 0, 7200.5, 11, 30, 0, 500},  // two hours ahead: the hour is kept
        {11, 20, 0, 0, -600, 11, 10, 0, 0},
    };
    for (auto& c : cases) {
        correct_mode = 1;
        os_test_set_utc(2026, 12, 7, c.hour, c.minute, c.second, c.ms);
        sync_answer.offset_sum = (int64_t)(2 * c.offset * second);
        correct_clock(sync_answer, 1);
        EXPECT_EQ(set_to(), at(2026, 12, 7, c.set_hour, c.set_minute, c.set_second, c.set_ms)) << c.hour << ":" << c.minute;
    }
}

TEST_F(ClockCorrection, RefusedClockAndTheLogLevels) {
    os_test_set_utc(2026, 12, 7, 12, 0, 0);
    EXPECT_TRUE(enable_time_privilege());
    os_test_allow_set_time(false);
    EXPECT_FALSE(enable_time_privilege()) << "an account without the privilege";
    for (uint32_t level : {0u, 2u}) {
        settings.log_level = level;
        correct_mode = 1;
        sync_failed = 0;
        time_protocol_answer(new_year_2006, 0);
        correct_clock(sync_answer, 1);
        EXPECT_EQ(sync_failed, 1u);
    }
    EXPECT_FALSE(exists("dLog.txt"));
    EXPECT_EQ(os_test_time_change_broadcasts(), 0);
    EXPECT_EQ(correct_mode, 0u);
    // The server clock shows the answer, not this unchanged clock.
    EXPECT_EQ(server_clock_valid, 1u);
    EXPECT_EQ(filetime_of(settings.server_clock), at(2006, 1, 1, 0, 0, 0));

    settings.log_level = 1;
    correct_mode = 1;
    sync_failed = 0;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(log_text(), "Error setting Time Change Privileges (privilege not held)\r\n");

    std::remove((dir + "dLog.txt").c_str());
    os_test_allow_set_time(true);
    os_test_set_utc(2026, 12, 7, 12, 0, 0);
    for (uint32_t level : {1u, 2u}) {
        settings.log_level = level;
        correct_mode = 1;
        sync_failed = 0;
        correct_clock(sync_answer, 1);
    }
    EXPECT_FALSE(exists("dLog.txt"));
    settings.log_level = 3;
    correct_mode = 1;
    os_test_set_utc(2026, 12, 7, 12, 0, 0);
    // The answer's quality follows the server: a Time Protocol answer is a second wide.
    sync_answer.upstream = {2, 0, 0x10000, 0};
    sync_answer.delay = 0x8000;
    correct_clock(sync_answer, 1);
    EXPECT_EQ(log_text(), "Pendularked: Old time was 12:00:00 PM, Server used was time.example (stratum 2, delay "
                          "500.0 ms, root distance 1000.0 ms)\r\n");
}

}  // namespace
