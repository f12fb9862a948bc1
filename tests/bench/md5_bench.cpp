// Our md5 against OpenSSL's over the same mebibyte of ASCII text.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <map>
#include <stdio.h>
#include <string>
#include <vector>

#include "digest/md5.h"

static int16_t ascii_code(char16_t unit) { return static_cast<int16_t>(unit); }

static const size_t MEBIBYTE = 1 << 20;

static std::string ascii_bytes() {
    std::string bytes(MEBIBYTE, ' ');
    uint32_t seed = 12345;
    for (char& ch : bytes) {
        seed = seed * 1103515245 + 12345;
        ch = static_cast<char>(32 + (seed >> 16) % 95);
    }
    return bytes;
}

static void BM_md5_text(benchmark::State& state) {
    std::string bytes = ascii_bytes();
    std::u16string text(bytes.begin(), bytes.end());
    for (auto _ : state) benchmark::DoNotOptimize(md5(text, ascii_code));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * MEBIBYTE);
}
BENCHMARK(BM_md5_text)->Unit(benchmark::kMillisecond);

static void BM_openssl_md5(benchmark::State& state) {
    std::string bytes = ascii_bytes();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    for (auto _ : state) {
        EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), NULL);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * MEBIBYTE);
}
BENCHMARK(BM_openssl_md5)->Unit(benchmark::kMillisecond);

// Prints the usual table, then how many times slower ours is than OpenSSL's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds_per_run;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds_per_run[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    double ours = reporter.seconds_per_run["BM_md5_text"];
    double theirs = reporter.seconds_per_run["BM_openssl_md5"];
    if (ours > 0 && theirs > 0)
        printf("md5 of 1 MiB: ours %.3f ms, OpenSSL %.3f ms, ratio ours/OpenSSL %.2f\n", ours * 1e3,
               theirs * 1e3, ours / theirs);
    return 0;
}
