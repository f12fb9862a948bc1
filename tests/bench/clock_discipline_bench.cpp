// A simulated week of AutoSync on a clock with a rate of its own, run twice:
// stepping only, as the clock setter did, and disciplined. The clock's error
// against true time is sampled every 10 s after the first day.
//
// clock_discipline_bench --drift-ppm P --wander-ppm-per-day W --swing-ppm S
//     --period-s T --delay-ms A-B --days D --seed N
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/filetime.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/cycle_answers.h"
#include "sync/sync_worker.h"
#include "tests/program_state.h"
#include "tests/sim/os_test.h"

namespace {

struct week {
    double drift_ppm = 40, wander_ppm_per_day = 2, swing_ppm = 0;
    double period_s = 3600, delay_low_ms = 0.2, delay_high_ms = 1;
    double days = 7;
    unsigned seed = 1;
};

struct outcome {
    double p95_ms = 0, worst_ms = 0;
    int backward = 0;
};

const double tick_s = 0.5;      // the display tick, where the discipline works
const double sample_s = 10;
const double day_s = 86400;

double clock_error() { return (double)(int64_t)(os_test_utc() - os_test_true_utc()) / 1e7; }

void write_be64(unsigned char* p, uint64_t v) {
    for (int i = 7; i >= 0; i--, v >>= 8) p[i] = (unsigned char)v;
}

// One exchange with a stratum-1 server that tells true time, the request and
// the reply each delayed on the way; the clock stands still meanwhile (a few
// milliseconds at under a thousandth of a second a second).
attempt_result ask_server(std::mt19937_64& random, const week& w) {
    std::uniform_real_distribution<double> delay(w.delay_low_ms / 1000, w.delay_high_ms / 1000);
    double out = delay(random), back = delay(random);
    uint64_t t1 = filetime_to_timestamp(precise_clock_now());
    uint64_t served = filetime_to_timestamp(os_test_true_utc() + (uint64_t)(out * 1e7));
    uint64_t t4 = t1 + (uint64_t)((out + back) * 4294967296.0);
    unsigned char reply[sntp_packet_size] = {0x24, 1, 6, 0xEC};
    memcpy(reply + 12, "GPS", 3);
    write_be64(reply + 16, served - (16ull << 32));
    write_be64(reply + 24, t1);
    write_be64(reply + 32, served);
    write_be64(reply + 40, served);
    attempt_result answer;
    strcpy(answer.address, "192.0.2.1");
    answer.protocol = protocol_sntp;
    answer.reply_tick = GetTickCount();
    uint32_t detail = 0;
    if (read_sntp_answer(reply, t1, t4, 0, answer, &detail) != failure_none) {
        fprintf(stderr, "clock_discipline_bench: the reply was not believed\n");
        exit(1);
    }
    return answer;
}

// An AutoSync cycle as the window runs it, with one server.
void autosync(std::mt19937_64& random, const week& w, bool measured, int& backward) {
    static gathered_answers answers;
    answers = gathered_answers{};
    gather_answer(answers, ask_server(random, w), "time.bench");
    static cycle_verdict verdict;
    decide_cycle(answers.at, answers.count, cycle_context_of(true, true, false, false, may_slew()), verdict);
    if (verdict.action != verdict_take) return;
    correct_mode = 1;
    learn_from_verdict(answers, verdict);
    uint64_t before = os_test_utc();
    correct_clock(take_verdict_answer(answers, verdict), verdict.slew ? apply_slew : apply_step);
    if (os_test_utc() < before && measured) backward++;
    record_cycle(answers, verdict, true);
}

outcome run(const week& w, bool disciplined, const std::string& dir) {
    os_test_reset();
    reset_program_state();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    os_test_set_program_path(os_test_windows_path(dir + "/Pendulark.exe"));
    os_test_set_utc(2026, 12, 7, 0, 0, 0);
    set_up_directories(0);
    reset_settings();
    settings.log_level = log_level_none;
    more_settings.slew_small_corrections = disciplined;
    start_discipline();

    std::mt19937_64 random(w.seed);
    std::normal_distribution<double> walk(0, 1);
    const double pi = 3.14159265358979323846;
    double wander = 0;
    std::vector<double> errors;
    outcome o;
    uint64_t last_clock;
    const long ticks = lround(w.days * day_s / tick_s);
    const long per_sample = lround(sample_s / tick_s), per_sync = std::max(1L, lround(w.period_s / tick_s));
    for (long tick = 0; tick < ticks; tick++) {
        double t = tick * tick_s;
        if (tick % per_sample == 0) {
            wander += walk(random) * w.wander_ppm_per_day * sqrt(sample_s / day_s);
            os_test_set_rate_error(w.drift_ppm + wander + w.swing_ppm * sin(2 * pi * t / day_s));
        }
        // The first day is the discipline's to learn the rate: measured after it.
        bool measured = t > day_s;
        if (tick % per_sample == 0 && measured) errors.push_back(fabs(clock_error()) * 1000);
        if (tick % per_sync == 0) autosync(random, w, measured, o.backward);
        last_clock = os_test_utc();
        os_test_advance_ms((DWORD)(tick_s * 1000));
        discipline_tick();
        if (os_test_utc() < last_clock && measured) o.backward++;
    }
    give_rate_back();
    std::sort(errors.begin(), errors.end());
    if (!errors.empty()) {
        o.p95_ms = errors[(size_t)(0.95 * (double)(errors.size() - 1))];
        o.worst_ms = errors.back();
    }
    return o;
}

bool number(const char* text, double* out) {
    char* end;
    *out = strtod(text, &end);
    return end != text && *end == 0 && isfinite(*out);
}

bool read_options(int argc, char** argv, week& w) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* name = argv[i];
        const char* value = argv[i + 1];
        double v;
        if (strcmp(name, "--delay-ms") == 0) {
            if (sscanf(value, "%lf-%lf", &w.delay_low_ms, &w.delay_high_ms) != 2 || w.delay_low_ms < 0 ||
                w.delay_high_ms < w.delay_low_ms)
                return false;
            continue;
        }
        if (!number(value, &v)) return false;
        if (strcmp(name, "--drift-ppm") == 0 && fabs(v) <= 500) w.drift_ppm = v;
        else if (strcmp(name, "--wander-ppm-per-day") == 0 && v >= 0) w.wander_ppm_per_day = v;
        else if (strcmp(name, "--swing-ppm") == 0 && v >= 0) w.swing_ppm = v;
        else if (strcmp(name, "--period-s") == 0 && v >= 1) w.period_s = v;
        else if (strcmp(name, "--days") == 0 && v > 1 && v <= 100) w.days = v;
        else if (strcmp(name, "--seed") == 0 && v >= 0) w.seed = (unsigned)v;
        else return false;
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    week w;
    if (!read_options(argc, argv, w)) {
        fprintf(stderr,
                "usage: clock_discipline_bench --drift-ppm P --wander-ppm-per-day W --swing-ppm S --period-s T "
                "--delay-ms A-B --days D --seed N\n");
        return 2;
    }
    std::string dir = "/tmp/clock-discipline-bench-" + std::to_string(getpid());
    outcome stepped = run(w, false, dir);
    outcome disciplined = run(w, true, dir);
    std::filesystem::remove_all(dir);
    printf("stepped p95 %.3f ms worst %.3f ms backward %d; disciplined p95 %.3f ms worst %.3f ms backward %d\n",
           stepped.p95_ms, stepped.worst_ms, stepped.backward, disciplined.p95_ms, disciplined.worst_ms,
           disciplined.backward);
    return 0;
}
