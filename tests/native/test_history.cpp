// The clock's history: its file, the drift read from it, and the plot's axes.
#include <math.h>

#include "machine.h"
#include "base/filetime.h"
#include "dialogs/history_plot.h"
#include "resources/pendulark_ids.h"
#include "store/directories.h"
#include "store/history_file.h"
#include "sync/clock_drift.h"
#include "window/status_line.h"

namespace {

const std::string header = history_header;
constexpr uint64_t hour = 3600 * filetime_per_second;

class History : public Machine {
protected:
    uint64_t start;
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        os_test_set_utc(2026, 12, 9, 3, 33, 7, 123);
        start = os_test_utc();
    }
    history_row row(double offset, bool corrected = false) {
        history_row r;
        r.utc = start;
        r.server = "pool.example";
        r.address = "192.0.2.1";
        r.sntp = true;
        r.offset = offset;
        r.delay = 0.000812;
        r.stratum = 2;
        r.corrected = corrected;
        return r;
    }
};

const std::string first_row = "2026-12-09T03:33:07.123Z,pool.example,192.0.2.1,SNTP,+0.012345,0.000812,2,0,,\r\n";

TEST_F(History, RowsAreAppendedUnderTheHeaderAndReadBack) {
    ASSERT_TRUE(append_history(row(0.012345)));
    history_row time = row(-1.5, true);
    time.sntp = false;
    time.server = "odd, \"name\"";
    ASSERT_TRUE(append_history(time));
    // Names a spreadsheet would take for formulas are made text; offsets keep their sign.
    history_row formula = row(0.5);
    formula.server = "=1+2";
    formula.address = "@x";
    ASSERT_TRUE(append_history(formula));
    // A slew tells itself from a step, with the correction of the rate in force.
    history_row slewed = row(-0.2, true);
    slewed.slewed = true;
    slewed.rate_ppm = -40.125;
    ASSERT_TRUE(append_history(slewed));
    const std::string second = "2026-12-09T03:33:07.123Z,\"odd, \"\"name\"\"\",192.0.2.1,Time,-1.500000,,,1,step,\r\n"
                               "2026-12-09T03:33:07.123Z,\"'=1+2\",\"'@x\",SNTP,+0.500000,0.000812,2,0,,\r\n"
                               "2026-12-09T03:33:07.123Z,pool.example,192.0.2.1,SNTP,-0.200000,0.000812,2,1,slew,-40.125\r\n";
    EXPECT_EQ(read(history_file_name), header + first_row + second);
    std::vector<history_point> points = read_history();
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[3].rate_ppm, -40.125);
    EXPECT_EQ(points[0].utc, start);
    EXPECT_DOUBLE_EQ(points[0].offset, 0.012345);
    EXPECT_FALSE(points[0].corrected);
    EXPECT_DOUBLE_EQ(points[1].offset, -1.5);
    EXPECT_TRUE(points[1].corrected);
    EXPECT_DOUBLE_EQ(points[2].offset, 0.5);
    EXPECT_EQ(std::string(history_text().data()), header + first_row + second);
}

// A full file goes to the old one, a foreign one aside, and a line cut short
// by a crash is skipped without taking the next row with it.
TEST_F(History, RotationDamageAndCutLinesLoseNoRow) {
    const std::string full = header + std::string(history_rotate_size, '#') + "\r\n";
    struct { std::string before; const char* aside; size_t rows; bool old_held; } cases[] = {
        {full, history_old_name, 1, false},
        {full, nullptr, 1, true},  // the old file held by a spreadsheet: the row goes in all the same
        {"Name,Value\r\nsomething else\r\n", history_damaged_name, 1, false},
        {header + first_row + "2026-12-09T03:3", nullptr, 2, false},
        {header + first_row + "2026-12-09T03:3" + std::string(40, '\0'), nullptr, 2, false},  // a power cut's zeros
        // An older release's file, its rows shorter: still ours, every row read.
        {std::string(history_header_start) + "\r\n2026-12-09T03:33:07.123Z,a,192.0.2.1,SNTP,-0.1,0.01,2,1\r\n", nullptr,
         2, false},
    };
    for (auto& c : cases) {
        for (const char* name : {history_file_name, history_old_name, history_damaged_name})
            std::remove((dir + name).c_str());
        write(history_file_name, c.before);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.old_held) {
            char old_path[dir_text_size];
            path_in(data_dir, history_old_name, old_path);
            held = CreateFileA(old_path, GENERIC_READ, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        ASSERT_TRUE(append_history(row(0.012345)));
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        if (c.aside) {
            EXPECT_EQ(read(c.aside), c.before);
            EXPECT_EQ(read(history_file_name), header + first_row);
        } else {
            const char* cut = c.before.back() == '\n' ? "" : "\r\n";
            EXPECT_EQ(read(history_file_name), c.before + cut + first_row);
        }
        EXPECT_EQ(read_history().size(), c.rows) << c.before.substr(0, 20);
    }
}

// A reader that shares the file takes no row from it; one that holds it
// whole does, and the first such loss of a run is told.
TEST_F(History, AHeldFileLosesNoRowUnsaid) {
    main_window = (HWND)0x4857;
    char path[dir_text_size];
    path_in(data_dir, history_file_name, path);
    for (DWORD share : {(DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE), (DWORD)0}) {
        HANDLE held = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(append_history(row(0.1)), share != 0);
        EXPECT_EQ(append_history(row(0.2)), share != 0);
        CloseHandle(held);
    }
    EXPECT_EQ(read_history().size(), 2u);
    EXPECT_EQ(os_test_control_text(main_window, IDT_MAIN_STATUS), history_unsaved_text);
    std::string log = read("dLog.txt");
    EXPECT_NE(log.find(history_unsaved_text), std::string::npos);
    EXPECT_EQ(log.find(history_unsaved_text), log.rfind(history_unsaved_text)) << "told once";
}

// Points every hour from a start, each with its offset and correction.
std::vector<history_point> made(std::initializer_list<std::pair<double, bool>> offsets, double hours_apart = 4) {
    std::vector<history_point> points;
    uint64_t at = 134100000000000000ull;
    for (auto& [offset, corrected] : offsets) {
        points.push_back({at, offset, corrected, 0});
        at += (uint64_t)(hours_apart * hour);
    }
    return points;
}

TEST(ClockDrift, FromTheOffsetsBetweenCorrections) {
    const double gain = 1.5 / 6;  // 1.5 s a day: a quarter of a second every 4 hours
    struct { const char* name; std::vector<history_point> points; bool known; double per_day, days; } cases[] = {
        {"steady gain under AutoSync", made({{-gain, true}, {-gain, true}, {-gain, true}, {-gain, true}}), true, 1.5,
         0.5},
        {"steady loss", made({{gain, true}, {gain, true}, {gain, true}}), true, -1.5, 1.0 / 3},
        {"checks between corrections", made({{0, true}, {-gain / 2, false}, {-gain, false}, {-gain * 1.5, true}}, 2),
         true, 1.5, 0.25},
        {"a user's step is left out", made({{-gain, true}, {3600, true}, {-gain, true}, {-gain, true}}), true, 1.5,
         1.0 / 3},
        {"before any correction", made({{-1, false}, {-1 - gain, false}}), true, 1.5, 1.0 / 6},
        {"too little", made({{-0.1, true}, {-0.2, true}}, 1), false, 0, 1.0 / 24},
        {"nothing", {}, false, 0, 0},
    };
    for (auto& c : cases) {
        drift_estimate d = estimate_drift(c.points.data(), c.points.size());
        EXPECT_EQ(d.known, c.known) << c.name;
        EXPECT_NEAR(d.gain_per_day, c.per_day, 1e-6) << c.name;
        EXPECT_NEAR(d.days, c.days, 1e-6) << c.name;
    }
    std::vector<history_point> step = made({{-gain, true}, {3600, true}});
    EXPECT_EQ(estimate_drift(step.data(), step.size()).largest_offset, 3600);
    // The clock gains 17.4 ppm; a correction of -16 ppm in force leaves 0.118 s a day.
    std::vector<history_point> corrected = made({{0, true}, {0, false}, {0, false}});
    for (size_t i = 0; i < corrected.size(); i++) {
        corrected[i].offset = -(1.5 - 16e-6 * 86400) * i / 6;
        corrected[i].rate_ppm = -16;
    }
    drift_estimate d = estimate_drift(corrected.data(), corrected.size());
    EXPECT_TRUE(d.rate_corrected);
    EXPECT_NEAR(d.gain_per_day, 1.5, 1e-6);
    EXPECT_NEAR(d.corrected_gain_per_day, 1.5 - 16e-6 * 86400, 1e-6);
}

TEST(HistoryPlot, AxesAndTextsScaleWithTheData) {
    struct { double low, high; int ticks; plot_axis axis; } offsets[] = {
        {-0.25, 0, 5, {-0.25, 0, 0.05}},    {-0.004, 0.013, 5, {-0.005, 0.015, 0.005}},
        {0, 3600, 4, {0, 4000, 1000}},      {0, 0, 5, {0, 0.0002, 0.0002}},
        {-2.5, 1, 8, {-2.5, 1, 0.5}},
    };
    for (auto& c : offsets) {
        plot_axis a = offset_axis(c.low, c.high, c.ticks);
        EXPECT_NEAR(a.low, c.axis.low, 1e-9) << c.low << " " << c.high;
        EXPECT_NEAR(a.high, c.axis.high, 1e-9) << c.low << " " << c.high;
        EXPECT_NEAR(a.step, c.axis.step, 1e-12) << c.low << " " << c.high;
    }
    struct { double first, last; int ticks; double step; } times[] = {
        {10.1, 10.3, 6, 1.0 / 24}, {10, 17, 8, 1}, {10, 17, 4, 2}, {0, 30, 6, 7}, {0, 300, 6, 28},
    };
    for (auto& c : times) EXPECT_NEAR(time_axis(c.first, c.last, c.ticks).step, c.step, 1e-9) << c.last;
    EXPECT_EQ(plot_pixel({-1, 1, 0.5}, 0, 200, 100), 150);

    struct { plot_axis axis; double value; const char* text; } ticks[] = {
        {{-0.3, 0, 0.1}, -0.2, "-200 ms"}, {{0, 0.002, 0.0005}, 0.0015, "+1.5 ms"},
        {{0, 4000, 1000}, 3000, "+3000 s"}, {{-1, 1, 0.5}, 1e-17, "0"},
    };
    for (auto& c : ticks) {
        char text[tick_text_size];
        offset_tick_text(c.axis, c.value, text);
        EXPECT_STREQ(text, c.text);
    }

    struct { double per_day; const char* keeping; } periods[] = {
        {1.5, "every 8 Hours"}, {-0.2, "every 2 Days"}, {40, "every 18 Minutes"}, {0.001, "any period"},
        {0, "any period"},
    };
    for (auto& c : periods) {
        char text[keeping_text_size];
        format_keeping_period(c.per_day, text);
        EXPECT_STREQ(text, c.keeping) << c.per_day;
    }
    char text[drift_text_size];
    drift_estimate d;
    describe_drift(d, text);
    EXPECT_STREQ(text, "Drift: not enough data yet");
    d = {true, 1.5, false, 0, 7, -0.25, true};
    describe_drift(d, text);
    EXPECT_STREQ(text, "Drift: this clock gains 1.500 s a day (17.4 ppm), from 7.0 days\r\n"
                       "AutoSync every 8 Hours keeps it within 0.5 s\r\nLargest offset: -0.250 s");
    d = {true, 1.5, true, -0.1, 7, -0.25, false};
    describe_drift(d, text);
    EXPECT_STREQ(text, "Drift: this clock gains 1.500 s a day (17.4 ppm), from 7.0 days; corrected, 0.100 s a day\r\n"
                       "AutoSync every 5 Days keeps it within 0.5 s");

    std::vector<history_point> month = made({{0, false}, {0, false}, {0, false}}, 24 * 20);
    EXPECT_EQ(first_shown(month.data(), month.size()), 1u) << "the last 30 days";
}

}  // namespace
