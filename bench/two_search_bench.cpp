// Times the program's two-stage search against the plain reference search, request by
// request, and prints each pair of times with the speed-up.
//
// The reference needs minutes on 48000 Hz -> 48000 Hz at limit 65535 (4.3e9 g/h
// iterations), and it is timed to the end once. With --sample_reference such long runs
// are stopped after a few seconds through the shutdown flag and their time extrapolated
// from the iterations completed; the early g values refuse most candidates cheaply
// (L1 < M1), so that estimate is a lower bound (about a quarter of the real time).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "requests.h"
#include "two_search.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define open _open
constexpr const char* NULL_DEVICE = "NUL";
#else
#include <fcntl.h>
#include <unistd.h>
constexpr const char* NULL_DEVICE = "/dev/null";
#endif

namespace {

using Clock = std::chrono::steady_clock;
using SearchFunction = StatusCode (*)(const UserInputs*, long long, int, TwoStageResult*, int*,
                                      std::uint64_t*);

/// With --sample_reference, long reference runs are stopped after this and extrapolated.
constexpr std::chrono::seconds REFERENCE_SAMPLE{4};

struct BenchCase {
    const char* name;
    UserInputs inputs;
    bool long_reference;  ///< the reference run takes minutes
    double reference_seconds = 0.0;
    double fast_seconds = 0.0;
    std::uint64_t iterations = 0;
};

/// A custom-limit request at the full limit, without the M1 > L1 cascades.
UserInputs request(double input, double output, double target, int priority) {
    return two_stage_request(input, output, SEARCH_MODE_CUSTOM_LIMIT, MAX_LM_LIMIT, false, target,
                             priority);
}

std::vector<BenchCase> g_cases = {
    {"44100->48000", request(44100, 48000, 0, PRIORITIZE_BALANCED_DUAL), false},
    {"48000->48000", request(48000, 48000, 0, PRIORITIZE_BALANCED_DUAL), true},
    {"24000->48000", request(24000, 48000, 0, PRIORITIZE_BALANCED_DUAL), true},
    {"44100->48000 target 96000 p1", request(44100, 48000, 96000, PRIORITIZE_STRICT_INTERMEDIATE),
     false},
    {"44100->48000 target 96000 p2", request(44100, 48000, 96000, PRIORITIZE_FINAL_RATE), false},
    {"44100->48000 target 96000 p3", request(44100, 48000, 96000, PRIORITIZE_BALANCED_DUAL), false},
};

/// Sends standard output (the progress line) to the null device for one scope.
struct StdoutSink {
    int saved;
    StdoutSink() {
        std::fflush(stdout);
        saved = dup(1);
        const int sink = open(NULL_DEVICE, O_WRONLY);
        dup2(sink, 1);
        close(sink);
    }
    ~StdoutSink() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    StdoutSink(const StdoutSink&) = delete;
    StdoutSink& operator=(const StdoutSink&) = delete;
};

/// Runs one search; returns its wall time and g/h iteration count.
double timed_search(SearchFunction search, const UserInputs& in, std::uint64_t* iterations) {
    TwoStageResult best{};
    int convergents = 0;
    const StdoutSink sink;
    const Clock::time_point start = Clock::now();
    search(&in, in.max_lm, in.search_mode, &best, &convergents, iterations);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Runs the reference until the sample time is over, then extrapolates to the full count.
double sampled_reference_seconds(const UserInputs& in, std::uint64_t full_iterations) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread stopper([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, REFERENCE_SAMPLE, [&] { return done; })) {
            g_shutdown_requested.store(1);
        }
    });
    std::uint64_t completed = 0;
    const double seconds = timed_search(perform_two_stage_search_reference, in, &completed);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    finished.notify_one();
    stopper.join();
    g_shutdown_requested.store(0);
    if (completed == 0 || completed >= full_iterations) return seconds;
    return seconds * static_cast<double>(full_iterations) / static_cast<double>(completed);
}

bool g_sample_reference = false;

void bench_fast(benchmark::State& state, BenchCase* c) {
    double total = 0.0;
    for (auto _ : state) {
        const double seconds =
            timed_search(perform_two_stage_search_counted, c->inputs, &c->iterations);
        state.SetIterationTime(seconds);
        total += seconds;
    }
    c->fast_seconds = total / static_cast<double>(state.iterations());
    state.counters["gh_iterations"] = static_cast<double>(c->iterations);
}

void bench_reference(benchmark::State& state, BenchCase* c) {
    if (c->iterations == 0) {
        timed_search(perform_two_stage_search_counted, c->inputs, &c->iterations);
    }
    const bool sampled = g_sample_reference && c->long_reference;
    for (auto _ : state) {
        std::uint64_t iterations = 0;
        const double seconds =
            sampled ? sampled_reference_seconds(c->inputs, c->iterations)
                    : timed_search(perform_two_stage_search_reference, c->inputs, &iterations);
        state.SetIterationTime(seconds);
        c->reference_seconds = seconds;
    }
    state.counters["extrapolated"] = sampled ? 1.0 : 0.0;
}

void print_summary() {
    std::printf("\n%-32s %16s %14s %12s %10s\n", "request (custom limit 65535)", "g/h iterations",
                "reference s", "fast s", "speed-up");
    for (const BenchCase& c : g_cases) {
        if (c.reference_seconds <= 0.0 || c.fast_seconds <= 0.0) continue;
        std::printf("%-32s %16llu %13.3f%s %12.6f %9.0fx\n", c.name,
                    static_cast<unsigned long long>(c.iterations), c.reference_seconds,
                    g_sample_reference && c.long_reference ? "*" : " ", c.fast_seconds,
                    c.reference_seconds / c.fast_seconds);
    }
    if (g_sample_reference) {
        std::printf("* extrapolated from a %lld s sample of the reference run: a lower bound\n",
                    static_cast<long long>(REFERENCE_SAMPLE.count()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) != "--sample_reference") continue;
        g_sample_reference = true;
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        break;
    }
    for (BenchCase& c : g_cases) {
        benchmark::RegisterBenchmark((std::string("reference/") + c.name).c_str(), bench_reference,
                                     &c)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("fast/") + c.name).c_str(), bench_fast, &c)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_summary();
    return 0;
}
