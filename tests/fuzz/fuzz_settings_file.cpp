// Any "dSync.dat" loads into settings that later code can trust, and saves back
// whole; the same bytes as "dRate.txt" give an estimate within bounds or none.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "program_dir.h"
#include "base/program.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "sync/clock_discipline.h"
#include "tests/sim/os_test.h"


static void check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "broken after load: %s\n", what);
    abort();
}

static bool terminated(const char* text, size_t size) { return memchr(text, 0, size) != nullptr; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    put_program_file("dSync.dat", data, size);

    load_settings();
    check(settings.server_index != 0xFFFFFFFFu, "server index");
    for (const setting_range& r : setting_ranges)
        check(settings.*r.field >= r.low && settings.*r.field <= r.high, "a ranged setting");
    check(terminated(settings.manual_address_a, sizeof settings.manual_address_a), "manual address A");
    check(terminated(settings.manual_address_b, sizeof settings.manual_address_b), "manual address B");
    check(more_settings.slew_small_corrections <= 1, "slew option");

    save_settings();
    FILE* f = fopen((fuzz_dir() + "dSync.dat").c_str(), "rb");
    char buffer[600];
    size_t saved = fread(buffer, 1, sizeof buffer, f);
    fclose(f);
    check(saved == settings_file_size && memcmp(buffer, "SYNC1" PROGRAM_RELEASE_DIGITS, 8) == 0, "saved file");

    put_program_file(rate_file_name, data, size);
    start_discipline();
    const clock_estimate& e = discipline.estimate;
    check(!e.rate_known || (fabs(e.rate) <= most_rate_ppm * 1e-6 && e.rate_variance > 0), "rate estimate");
    return 0;
}
