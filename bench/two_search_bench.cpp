// Times the program's two-stage search against the plain reference search, request by
// request, and prints each pair of times with the speed-up.
//
// The program's search runs through the library's public function; the reference through
// the core. The reference needs minutes on 48000 Hz -> 48000 Hz at limit 65535 (4.3e9 g/h
// iterations), and it is timed to the end once. With --sample_reference such long runs
// are stopped after a few seconds through a stop request and their time extrapolated
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

#include "core/reference_search.h"
#include "quillmere/quillmere.h"
#include "report/progress_dots.h"

namespace {

using Clock = std::chrono::steady_clock;
using quillmere::Priority;
using quillmere::TwoStageRequest;

/// With --sample_reference, long reference runs are stopped after this and extrapolated.
constexpr std::chrono::seconds REFERENCE_SAMPLE{4};

struct BenchCase {
    const char* name;
    TwoStageRequest inputs;
    bool long_reference;  ///< the reference run takes minutes
    double reference_seconds = 0.0;
    double fast_seconds = 0.0;
    std::uint64_t iterations = 0;
};

/// A custom-limit request at the full limit, without the M1 > L1 cascades.
TwoStageRequest request(double input, double output, double target, Priority priority) {
    TwoStageRequest r;
    r.input_rate_hz = input;
    r.output_rate_hz = output;
    r.mode = quillmere::SearchMode::custom_limit;
    r.max_factor = quillmere::max_factor_limit;
    if (target != 0.0) r.intermediate_target = quillmere::IntermediateTarget{target, priority};
    return r;
}

std::vector<BenchCase> g_cases = {
    {"44100->48000", request(44100, 48000, 0, Priority::balanced), false},
    {"48000->48000", request(48000, 48000, 0, Priority::balanced), true},
    {"24000->48000", request(24000, 48000, 0, Priority::balanced), true},
    {"44100->48000 target 96000 p1", request(44100, 48000, 96000, Priority::strict), false},
    {"44100->48000 target 96000 p2", request(44100, 48000, 96000, Priority::final), false},
    {"44100->48000 target 96000 p3", request(44100, 48000, 96000, Priority::balanced), false},
};

/// Runs the program's search through the public API; returns its wall time and g/h
/// iteration count.
double timed_fast_search(const TwoStageRequest& in, std::uint64_t* iterations) {
    const Clock::time_point start = Clock::now();
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(in);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    *iterations = result.common_factor_iterations;
    return seconds;
}

/// The same search with the interactive program's progress dots written to the null device,
/// as the program writes it to the terminal.
double timed_fast_search_with_progress(const TwoStageRequest& in, std::FILE* null_device) {
    quillmere::report::FileSink sink(null_device);
    quillmere::report::ProgressDots progress(sink, in.mode);
    quillmere::SolveOptions options;
    options.observer = &progress;
    const Clock::time_point start = Clock::now();
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(in, options);
    benchmark::DoNotOptimize(result.status);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Runs the plain reference search until it ends or `stop` is set.
double timed_reference_search(const TwoStageRequest& in, const std::atomic<bool>* stop,
                              std::uint64_t* iterations) {
    quillmere::SolveOptions options;
    options.stop_flag = stop;
    const quillmere::core::SearchContext context(options);
    const Clock::time_point start = Clock::now();
    const quillmere::core::SearchOutcome outcome =
        quillmere::core::search_two_stage_reference(context, in);
    *iterations = outcome.common_factor_iterations;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Runs the reference until the sample time is over, then extrapolates to the full count.
double sampled_reference_seconds(const TwoStageRequest& in, std::uint64_t full_iterations) {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread stopper([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, REFERENCE_SAMPLE, [&] { return done; })) {
            stop.store(true);
        }
    });
    std::uint64_t completed = 0;
    const double seconds = timed_reference_search(in, &stop, &completed);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    finished.notify_one();
    stopper.join();
    if (completed == 0 || completed >= full_iterations) return seconds;
    return seconds * static_cast<double>(full_iterations) / static_cast<double>(completed);
}

bool g_sample_reference = false;

void bench_fast(benchmark::State& state, BenchCase* c) {
    double total = 0.0;
    for (auto _ : state) {
        const double seconds = timed_fast_search(c->inputs, &c->iterations);
        state.SetIterationTime(seconds);
        total += seconds;
    }
    c->fast_seconds = total / static_cast<double>(state.iterations());
    state.counters["gh_iterations"] = static_cast<double>(c->iterations);
}

void bench_fast_with_progress(benchmark::State& state, BenchCase* c) {
#ifdef _WIN32
    std::FILE* const null_device = std::fopen("NUL", "w");
#else
    std::FILE* const null_device = std::fopen("/dev/null", "w");
#endif
    if (null_device == nullptr) {
        state.SkipWithError("no null device");
        return;
    }
    for (auto _ : state)
        state.SetIterationTime(timed_fast_search_with_progress(c->inputs, null_device));
    std::fclose(null_device);
}

void bench_reference(benchmark::State& state, BenchCase* c) {
    if (c->iterations == 0) {
        timed_fast_search(c->inputs, &c->iterations);
    }
    const bool sampled = g_sample_reference && c->long_reference;
    for (auto _ : state) {
        std::uint64_t iterations = 0;
        const double seconds = sampled ? sampled_reference_seconds(c->inputs, c->iterations)
                                       : timed_reference_search(c->inputs, nullptr, &iterations);
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
        benchmark::RegisterBenchmark((std::string("fast_progress/") + c.name).c_str(),
                                     bench_fast_with_progress, &c)
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
