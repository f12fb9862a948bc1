// The clock's discipline on a simulated clock with a rate of its own.
#include <math.h>

#include <algorithm>

#include "machine.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "sync/clock_discipline.h"

namespace {

class ClockDiscipline : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        start_discipline();
    }
    // Seconds this clock is ahead of true time.
    double clock_error() { return (double)(int64_t)(os_test_utc() - os_test_true_utc()) / 1e7; }
    // The display tick's work over this much true time; the clock's error at
    // each tick goes to watch.
    template <typename F>
    void run_for(double seconds, F watch) {
        for (int ms = 0; ms < seconds * 1000; ms += 500) {
            os_test_advance_ms(500);
            discipline_tick();
            watch();
        }
    }
    void run_for(double seconds) {
        run_for(seconds, [] {});
    }
    // An LAN answer: the server ahead of this clock, within a millisecond.
    void answer() { discipline_answer(-clock_error(), 0.001); }
    // The clock is stepped by step seconds, as correct_clock steps it.
    void step_by(double step) {
        SYSTEMTIME t;
        FILETIME ft = filetime_from(os_test_utc() + (uint64_t)(int64_t)(step * 1e7));
        FileTimeToSystemTime(&ft, &t);
        SetSystemTime(&t);
        discipline_stepped(step);
    }
    double slew() {
        double moved = 0;
        EXPECT_TRUE(slew_clock(&moved));
        return moved;
    }
    // A copy that ends without its exit: its state goes, its rate stays.
    void kill_and_start() {
        discipline = clock_discipline_state{};
        start_discipline();
    }
};

TEST_F(ClockDiscipline, ASlewTakesTheOffsetOutNoFasterThan500ppmAndStops) {
    for (double offset : {-0.2, 0.3}) {
        step_by(-offset);
        answer();
        double moved = slew();
        EXPECT_NEAR(moved, offset, 1e-6);
        double last_error = clock_error();
        uint64_t last_clock = os_test_utc();
        run_for(slew_duration(offset) + 60, [&] {
            double error = clock_error();
            // Per half second of true time: at most 500 ppm faster or slower, never backwards.
            EXPECT_LE(fabs(error - last_error), (500e-6 + 1e-6) * 0.5);
            EXPECT_GT(os_test_utc(), last_clock);
            last_error = error;
            last_clock = os_test_utc();
        });
        EXPECT_NEAR(clock_error(), 0, 0.0005) << offset;
        EXPECT_NEAR(os_test_adjustment_factor(), 1, 1e-6) << "the slew ended";
    }
}

// A clock 40 ppm fast, answered hourly and slewed each time, as AutoSync does it.
TEST_F(ClockDiscipline, TheRateSettlesInADayAndSurvivesARestart) {
    for (bool precise : {true, false}) {
        os_test_set_precise_adjustment(precise);
        os_test_set_rate_error(40);
        os_test_set_adjustment(1, true);
        discipline = clock_discipline_state{};
        write("dRate.txt", "");
        start_discipline();
        double worst_last_hours = 0;
        for (int hour = 0; hour < 24; hour++) {
            run_for(3600, [&] {
                if (hour >= 20) worst_last_hours = std::max(worst_last_hours, fabs(clock_error()));
            });
            answer();
            slew();
        }
        EXPECT_NEAR(discipline.estimate.rate * 1e6, 40, 0.5) << precise;
        EXPECT_NEAR(rate_in_force_ppm(), -40, 0.5);
        // Windows' coarse units (6.4 ppm) are dithered to the rate wanted.
        EXPECT_LT(worst_last_hours, 0.002) << precise;

        give_rate_back();
        EXPECT_TRUE(os_test_adjustment_disabled());
        discipline = clock_discipline_state{};
        start_discipline();
        EXPECT_TRUE(discipline.estimate.rate_known);
        EXPECT_NEAR(discipline.estimate.rate * 1e6, 40, 0.5);
        run_for(1);
        EXPECT_NEAR(os_test_adjustment_factor(), 1 / 1.00004, 7e-6) << "corrected from the start";
    }
}

TEST_F(ClockDiscipline, AnotherProgramsRateIsLeftAlone) {
    // Set before we start, and set while ours was in force.
    for (bool ours_first : {false, true}) {
        discipline = clock_discipline_state{};
        os_test_set_adjustment(1, true);
        start_discipline();
        if (ours_first) {
            step_by(-0.1);
            answer();
            slew();
            ASSERT_FALSE(os_test_adjustment_disabled());
        }
        os_test_set_adjustment(1.0002, false);
        int calls = os_test_adjustment_calls();
        EXPECT_FALSE(may_slew());
        run_for(60);
        give_rate_back();
        kill_and_start();
        EXPECT_EQ(os_test_adjustment_calls(), calls) << ours_first;
        EXPECT_EQ(os_test_adjustment_factor(), 1.0002);
        EXPECT_FALSE(os_test_adjustment_disabled());
        EXPECT_FALSE(may_slew());
    }
}

TEST_F(ClockDiscipline, ExitAndTheStartAfterAKillGiveTheRateBack) {
    for (bool killed : {false, true}) {
        step_by(-0.1);
        answer();
        slew();
        run_for(1);
        ASSERT_FALSE(os_test_adjustment_disabled());
        EXPECT_NE(read("dRate.txt").find("left 1"), std::string::npos);
        if (killed) kill_and_start();
        else give_rate_back();
        EXPECT_TRUE(os_test_adjustment_disabled()) << killed;
        EXPECT_NE(read("dRate.txt").find("left 0"), std::string::npos);
    }
}

TEST_F(ClockDiscipline, ARefusedRateIsAFailedSlew) {
    step_by(-0.1);
    answer();
    os_test_allow_set_time(false);
    double moved = 0;
    EXPECT_FALSE(slew_clock(&moved));
    EXPECT_TRUE(os_test_adjustment_disabled());
}

TEST_F(ClockDiscipline, TheOptionOffStepsAndGivesTheRateBack) {
    step_by(-0.1);
    answer();
    slew();
    run_for(1);
    ASSERT_FALSE(os_test_adjustment_disabled());
    more_settings.slew_small_corrections = 0;
    EXPECT_FALSE(may_slew());
    run_for(1);
    EXPECT_TRUE(os_test_adjustment_disabled());
}

TEST(RateFile, DamagedOrOutOfRangeLinesAreDropped) {
    clock_estimate e;
    bool left = false;
    char line[rate_line_size];
    e.rate = -123.4567e-6;
    e.rate_variance = 0.5e-6 * 0.5e-6;
    format_rate_line(e, true, line);
    clock_estimate back;
    ASSERT_TRUE(parse_rate_line(line, &back, &left)) << line;
    EXPECT_NEAR(back.rate, e.rate, 1e-10);
    EXPECT_NEAR(sqrt(back.rate_variance), 0.5e-6, 1e-10);
    EXPECT_TRUE(left);
    EXPECT_TRUE(back.rate_known);
    ASSERT_TRUE(parse_rate_line("rate 0.0000 ppm sure 500.0000 ppm left 0", &back, &left));
    EXPECT_FALSE(back.rate_known) << "an estimate not yet made is no correction";
    for (const char* bad : {"", "rate", "rate 12 ppm sure 1 ppm", "rate 501 ppm sure 1 ppm left 0",
                            "rate nan ppm sure 1 ppm left 0", "rate 1 ppm sure 0 ppm left 0",
                            "rate 1 ppm sure -1 ppm left 0", "rate 1 ppm sure 1 ppm left 2", "rate inf ppm sure 1 ppm left 0",
                            "\xff\xfe garbage"})
        EXPECT_FALSE(parse_rate_line(bad, &back, &left)) << bad;
}

}  // namespace
