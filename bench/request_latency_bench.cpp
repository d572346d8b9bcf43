// The time of one answer, request by request, over random requests of every mode through
// the library's public functions: the single stage, and two stages in minimal-sum,
// custom-limit and min-cost mode, with and without an intermediate target, first-stage
// decimation and a cost estimate. It adds the requests once known to be slow and the
// table of all ordered pairs of 18 common rates in min-cost mode, and prints the median,
// the 99th percentile and the largest time, overall and by mode, with the slowest
// requests.
//
//   request_latency_bench [--requests N] [--seed S] [--slowest K]
//
// The figures are for a reader, not a test: the machine may be busy with other work, so
// a slow outlier is worth timing again on its own (the slowest are listed with their
// inputs for that).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "quillmere/quillmere.h"

namespace {

using Clock = std::chrono::steady_clock;
using quillmere::Priority;
using quillmere::SearchMode;

const std::vector<double> COMMON_RATES = {8000,   11025,  16000,  22050,  24000,   32000,
                                          44100,  48000,  88200,  96000,  176400,  192000,
                                          352800, 384000, 705600, 768000, 2822400, 5644800};

/// One request: a single stage, or two stages (with a cost estimate when `priced`).
struct Case {
    std::string group;
    bool single = false;
    quillmere::TwoStageRequest two{};
    bool priced = false;
    double seconds = 0.0;
};

std::string describe(const Case& c) {
    const auto& r = c.two;
    char text[400];
    if (c.single) {
        std::snprintf(text, sizeof text, "single %.17g -> %.17g", r.input_rate_hz,
                      r.output_rate_hz);
        return text;
    }
    int n = std::snprintf(text, sizeof text, "%s %.17g -> %.17g limit %" PRId64 "%s%s",
                          quillmere::search_mode_name(r.mode), r.input_rate_hz,
                          r.output_rate_hz, r.max_factor,
                          r.allow_first_stage_decimation ? " -a" : "", c.priced ? " cost" : "");
    if (r.intermediate_target && n > 0 && n < static_cast<int>(sizeof text)) {
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                           " target %.17g %s", r.intermediate_target->rate_hz,
                           quillmere::priority_name(r.intermediate_target->priority));
    }
    if (r.mode == SearchMode::min_cost && n > 0 && n < static_cast<int>(sizeof text)) {
        const auto& method = r.filter.design_method;
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), " %g dB%s%s",
                      r.filter.attenuation_db, method ? " method " : "",
                      method ? quillmere::design_method_name(*method) : "");
    }
    return text;
}

/// Random requests as a user or a script might send them: common rates, rounded rates
/// and any rate in the library's range, every mode, limits from 1 to the largest.
class Generator {
public:
    explicit Generator(std::uint64_t seed) : engine_(seed) {}

    Case next() {
        Case c;
        auto& r = c.two;
        r.input_rate_hz = rate();
        r.output_rate_hz = chance(0.05) ? r.input_rate_hz : rate();
        const double pick = uniform(0.0, 1.0);
        if (pick < 0.1) {
            c.single = true;
            c.group = "single";
            return c;
        }
        r.mode = pick < 0.4 ? SearchMode::minimal_sum
                            : (pick < 0.7 ? SearchMode::custom_limit : SearchMode::min_cost);
        c.group = quillmere::search_mode_name(r.mode);
        r.max_factor = chance(0.4) ? quillmere::max_factor_limit
                                   : static_cast<std::int64_t>(std::exp(uniform(0.0, 11.09)));
        r.max_factor = std::clamp<std::int64_t>(r.max_factor, 1, quillmere::max_factor_limit);
        r.allow_first_stage_decimation = chance(0.3);
        if (chance(0.3)) {
            const double low = std::min(r.input_rate_hz, r.output_rate_hz);
            const double high = std::max(r.input_rate_hz, r.output_rate_hz);
            double target = chance(0.5) ? rate() : std::exp(uniform(std::log(low),
                                                                    std::log(high * 4.0)));
            target = std::clamp(target, quillmere::min_rate_hz, quillmere::max_rate_hz);
            const Priority priorities[] = {Priority::balanced, Priority::strict, Priority::final,
                                           Priority::ignore};
            r.intermediate_target =
                quillmere::IntermediateTarget{target, priorities[engine_() % 4]};
        }
        if (r.mode == SearchMode::min_cost) {
            r.filter.attenuation_db = std::round(uniform(40.0, 140.0));
            if (chance(0.2)) r.filter.ripple_db = uniform(0.01, 1.0);
            if (chance(0.3)) {
                // Priced by the lengths a design method gives (--design --method).
                const quillmere::DesignMethod methods[] = {quillmere::DesignMethod::automatic,
                                                           quillmere::DesignMethod::kaiser,
                                                           quillmere::DesignMethod::equiripple};
                r.filter.design_method = methods[engine_() % 3];
                c.group = "min-cost, method";
            }
        }
        c.priced = r.mode != SearchMode::min_cost && chance(0.2);
        return c;
    }

private:
    bool chance(double p) { return uniform(0.0, 1.0) < p; }
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(engine_);
    }
    double rate() {
        const double pick = uniform(0.0, 1.0);
        if (pick < 0.5) return COMMON_RATES[engine_() % COMMON_RATES.size()];
        const double any = std::exp(uniform(0.0, std::log(quillmere::max_rate_hz)));
        if (pick < 0.75) return std::max(1.0, std::round(any));
        return std::clamp(any, quillmere::min_rate_hz, quillmere::max_rate_hz);
    }

    std::mt19937_64 engine_;
};

quillmere::TwoStageRequest two(double in, double out, SearchMode mode) {
    quillmere::TwoStageRequest r;
    r.input_rate_hz = in;
    r.output_rate_hz = out;
    r.mode = mode;
    return r;
}

/// The requests once known to take tens of milliseconds, and the common-rate table.
std::vector<Case> known_cases() {
    std::vector<Case> cases;
    Case c;
    c.group = "custom-limit";
    c.two = two(5224181115754.0977, 5224181115754.0977, SearchMode::custom_limit);
    c.two.max_factor = 61267;
    c.two.allow_first_stage_decimation = true;
    c.two.intermediate_target = quillmere::IntermediateTarget{84385.72, Priority::balanced};
    cases.push_back(c);
    c = Case{};
    c.group = "min-cost";
    for (const auto& [in, out] : {std::pair{352800.0, 568785.0}, std::pair{1857.84, 5573.51},
                                  std::pair{352800.0, 2407902.0}, std::pair{8000.0, 5644800.0},
                                  std::pair{44100.0, 48000.0}}) {
        c.two = two(in, out, SearchMode::min_cost);
        cases.push_back(c);
    }
    for (const double in : COMMON_RATES) {
        for (const double out : COMMON_RATES) {
            c.two = two(in, out, SearchMode::min_cost);
            cases.push_back(c);
        }
    }
    // Priced by a design method, these took from seconds to minutes when the floor of the
    // common-factor pass counted one leak and the widest transition.
    c.group = "min-cost, method";
    const auto designed = [&](double in, double out, bool allow, double attenuation,
                              quillmere::DesignMethod method) {
        c.two = two(in, out, SearchMode::min_cost);
        c.two.allow_first_stage_decimation = allow;
        c.two.filter.attenuation_db = attenuation;
        c.two.filter.design_method = method;
        cases.push_back(c);
    };
    designed(24000, 37800, true, 80.8, quillmere::DesignMethod::kaiser);
    designed(24000, 37800, true, 80.8, quillmere::DesignMethod::automatic);
    designed(5644800, 88200, true, 135.26, quillmere::DesignMethod::equiripple);
    designed(5644800, 88200, false, 135.26, quillmere::DesignMethod::equiripple);
    // These took 20-100 ms while the floor took a stage by 2 for a halfband at any
    // factors, left out Kaiser's far-edge margin and the leaks that grow with h, and
    // bounded the coefficients of a tie as if every transition were the widest.
    designed(384000, 96000, true, 127, quillmere::DesignMethod::kaiser);
    designed(5644800, 15, true, 50, quillmere::DesignMethod::kaiser);
    designed(16000, 2822400, false, 51.01, quillmere::DesignMethod::equiripple);
    cases.back().two.filter.passband_hz = 4029.72;
    cases.back().two.filter.stopband_hz = 4879.21;
    cases.back().two.filter.ripple_db = 0.822441;
    designed(16000, 2822400, true, 40.41, quillmere::DesignMethod::equiripple);
    cases.back().two.filter.passband_hz = 3859.78;
    cases.back().two.filter.stopband_hz = 4724.56;
    cases.back().two.filter.ripple_db = 0.324014;
    return cases;
}

double run(const Case& c) {
    const auto start = Clock::now();
    volatile double sink = 0.0;
    if (c.single) {
        const auto result = quillmere::solve_single_stage(
            quillmere::SingleStageRequest{c.two.input_rate_hz, c.two.output_rate_hz});
        sink = result.output_rate_hz;
    } else if (quillmere::check_request(c.two).status == quillmere::Status::ok) {
        const auto result = quillmere::solve_two_stage(c.two);
        sink = result.output_rate_hz;
        if (c.priced && result.status == quillmere::Status::ok) {
            sink = quillmere::estimate_cost(c.two, result).total_macs_per_second;
        }
    }
    (void)sink;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double percentile(std::vector<double> times, double p) {
    if (times.empty()) return 0.0;
    std::sort(times.begin(), times.end());
    const std::size_t index = static_cast<std::size_t>(p * static_cast<double>(times.size() - 1));
    return times[index];
}

void print_line(const char* name, const std::vector<double>& times) {
    std::printf("%-14s %8zu  median %9.4f ms  p99 %9.4f ms  max %9.4f ms\n", name, times.size(),
                1e3 * percentile(times, 0.5), 1e3 * percentile(times, 0.99),
                1e3 * percentile(times, 1.0));
}

long parse(const char* text, long fallback) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0 ? value : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    long requests = 100000;
    long seed = 20;
    long slowest = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--requests") == 0) requests = parse(argv[i + 1], requests);
        if (std::strcmp(argv[i], "--seed") == 0) seed = parse(argv[i + 1], seed);
        if (std::strcmp(argv[i], "--slowest") == 0) slowest = parse(argv[i + 1], slowest);
    }
    std::vector<Case> cases = known_cases();
    Generator generator(static_cast<std::uint64_t>(seed));
    for (long i = 0; i < requests; ++i) cases.push_back(generator.next());

    std::vector<double> all;
    for (Case& c : cases) {
        c.seconds = run(c);
        all.push_back(c.seconds);
    }
    std::printf("%zu requests (%ld random, seed %ld, and %zu known)\n", cases.size(), requests,
                seed, cases.size() - static_cast<std::size_t>(requests));
    print_line("all", all);
    for (const char* group :
         {"single", "minimal-sum", "custom-limit", "min-cost", "min-cost, method"}) {
        std::vector<double> times;
        for (const Case& c : cases) {
            if (c.group == group) times.push_back(c.seconds);
        }
        print_line(group, times);
    }
    std::sort(cases.begin(), cases.end(),
              [](const Case& a, const Case& b) { return a.seconds > b.seconds; });
    std::printf("slowest:\n");
    for (long i = 0; i < slowest && i < static_cast<long>(cases.size()); ++i) {
        const Case& c = cases[static_cast<std::size_t>(i)];
        std::printf("  %9.4f ms  %s\n", 1e3 * c.seconds, describe(c).c_str());
    }
    return 0;
}
