// Times the filter design through the library's public function, design and measurement
// together: the two-stage 44100 -> 48000 Hz plan the solver gives by default (10/7 ->
// 16/21, default filter requirements, automatic method), the single-stage 44100 -> 48000 Hz
// Kaiser design (about 20,000 taps), and the single stage 8000 Hz -> 5.6448 MHz (about
// 480,000 taps) with half of it (2.8224 MHz) beside it to show the memory growing with the
// taps. peak_rss_mb is the process's peak resident memory when the benchmark ends: run one
// benchmark per process (--benchmark_filter) to read a single design's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "quillmere/quillmere.h"

namespace {

double peak_rss_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

std::vector<quillmere::Stage> two_stage_plan(double input, double output) {
    quillmere::TwoStageRequest request;
    request.input_rate_hz = input;
    request.output_rate_hz = output;
    const quillmere::TwoStageResult r = quillmere::solve_two_stage(request);
    return {r.first, r.second};
}

std::vector<quillmere::Stage> one_stage_plan(double input, double output) {
    quillmere::SingleStageRequest request;
    request.input_rate_hz = input;
    request.output_rate_hz = output;
    return {quillmere::solve_single_stage(request).stage};
}

void report(benchmark::State& state, const quillmere::FilterDesign& d) {
    std::int64_t taps = 0;
    for (const quillmere::StageDesign& s : d.stages) taps += s.taps;
    state.counters["taps"] = static_cast<double>(taps);
    state.counters["meets_spec"] = d.meets_spec ? 1.0 : 0.0;
    state.counters["peak_rss_mb"] = peak_rss_mb();
    if (d.status != quillmere::Status::ok) state.SkipWithError(d.message.c_str());
}

void design(benchmark::State& state, const std::vector<quillmere::Stage>& stages, double input,
            quillmere::DesignMethod method) {
    quillmere::DesignOptions options;
    options.method = method;
    quillmere::FilterDesign d;
    for (auto _ : state) {
        d = quillmere::design_filters(input, stages, {}, options);
        benchmark::DoNotOptimize(d);
    }
    report(state, d);
}

void two_stage_44100_48000_auto(benchmark::State& state) {
    const std::vector<quillmere::Stage> stages = two_stage_plan(44100, 48000);
    if (stages[0].l != 10 || stages[0].m != 7 || stages[1].l != 16 || stages[1].m != 21) {
        state.SkipWithError("the default two-stage plan is no longer 10/7 -> 16/21");
        return;
    }
    design(state, stages, 44100, quillmere::DesignMethod::automatic);
}

// The web page's recompute as a user types another output rate: the default two-stage
// plans of 44100 -> 32000 Hz and 44100 -> 96000 Hz, the longest of its usual designs.
void two_stage_44100_32000_auto(benchmark::State& state) {
    design(state, two_stage_plan(44100, 32000), 44100, quillmere::DesignMethod::automatic);
}

void two_stage_44100_96000_auto(benchmark::State& state) {
    design(state, two_stage_plan(44100, 96000), 44100, quillmere::DesignMethod::automatic);
}

void one_stage_44100_48000_kaiser(benchmark::State& state) {
    design(state, one_stage_plan(44100, 48000), 44100, quillmere::DesignMethod::kaiser);
}

void one_stage_8000_5644800_auto(benchmark::State& state) {
    design(state, one_stage_plan(8000, 5644800), 8000, quillmere::DesignMethod::automatic);
}

void one_stage_8000_2822400_auto(benchmark::State& state) {
    design(state, one_stage_plan(8000, 2822400), 8000, quillmere::DesignMethod::automatic);
}

}  // namespace

BENCHMARK(two_stage_44100_48000_auto)->Unit(benchmark::kMillisecond);
BENCHMARK(two_stage_44100_32000_auto)->Unit(benchmark::kMillisecond);
BENCHMARK(two_stage_44100_96000_auto)->Unit(benchmark::kMillisecond);
BENCHMARK(one_stage_44100_48000_kaiser)->Unit(benchmark::kMillisecond);
BENCHMARK(one_stage_8000_2822400_auto)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(one_stage_8000_5644800_auto)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
