// Times the min-cost search and the cost estimate through the library's public functions:
// 44100 Hz -> 48000 Hz at limit 65535, the exhaustive min-cost scan of the same request
// once for comparison, and the table of all ordered pairs of 18 common rates (two stages,
// limit 65535) in minimal-sum and custom-limit mode with the estimate of every result,
// and in min-cost mode.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/reference_search.h"
#include "quillmere/quillmere.h"

namespace {

const std::vector<double> TABLE_RATES = {8000,   11025,  16000,  22050,  24000,   32000,
                                         44100,  48000,  88200,  96000,  176400,  192000,
                                         352800, 384000, 705600, 768000, 2822400, 5644800};

quillmere::TwoStageRequest request(double input, double output, quillmere::SearchMode mode) {
    quillmere::TwoStageRequest r;
    r.input_rate_hz = input;
    r.output_rate_hz = output;
    r.mode = mode;
    r.max_factor = quillmere::max_factor_limit;
    return r;
}

/// Solves and prices one request as the command line does with --cost: the cascade's
/// estimate and the single-stage estimate of the same overall ratio beside it.
double solve_and_price(const quillmere::TwoStageRequest& r) {
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(r);
    if (result.status != quillmere::Status::ok) return 0.0;
    const quillmere::CostEstimate two = quillmere::estimate_cost(r, result);
    const quillmere::Stage one[1] = {
        {result.first.l * result.second.l, result.first.m * result.second.m}};
    const quillmere::CostEstimate single = quillmere::estimate_cost(r.input_rate_hz, one);
    return two.total_macs_per_second + single.total_macs_per_second;
}

void min_cost_44100_48000(benchmark::State& state) {
    const auto r = request(44100, 48000, quillmere::SearchMode::min_cost);
    for (auto _ : state) benchmark::DoNotOptimize(quillmere::solve_two_stage(r));
}

void exhaustive_min_cost_44100_48000(benchmark::State& state) {
    const auto r = request(44100, 48000, quillmere::SearchMode::min_cost);
    for (auto _ : state) {
        const quillmere::core::SearchContext context;
        const quillmere::core::SearchOutcome outcome =
            quillmere::core::search_two_stage_reference(context, r);
        benchmark::DoNotOptimize(outcome.best);
    }
}

void table_with_cost(benchmark::State& state) {
    for (auto _ : state) {
        double sum = 0.0;
        for (const double in : TABLE_RATES) {
            for (const double out : TABLE_RATES) {
                for (const auto mode :
                     {quillmere::SearchMode::minimal_sum, quillmere::SearchMode::custom_limit}) {
                    sum += solve_and_price(request(in, out, mode));
                }
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["requests"] = static_cast<double>(TABLE_RATES.size() * TABLE_RATES.size() * 2);
}

void table_min_cost(benchmark::State& state) {
    for (auto _ : state) {
        double sum = 0.0;
        for (const double in : TABLE_RATES) {
            for (const double out : TABLE_RATES) {
                sum += solve_and_price(request(in, out, quillmere::SearchMode::min_cost));
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["requests"] = static_cast<double>(TABLE_RATES.size() * TABLE_RATES.size());
}

}  // namespace

BENCHMARK(min_cost_44100_48000)->Unit(benchmark::kMillisecond);
BENCHMARK(exhaustive_min_cost_44100_48000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(table_with_cost)->Unit(benchmark::kMillisecond);
BENCHMARK(table_min_cost)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
