// Shared by the solver fuzzers: turning fuzz bytes into valid sample rates and a failure
// channel that survives libFuzzer's -close_fd_mask.
//
// A rate takes nine bytes: a kind byte, then eight payload bytes (little-endian). Bytes
// past the end of the input read as zero, so every input, even an empty one, is a
// request. Every kind yields a finite rate 1.0 <= rate <= 1e13, the range the dialog
// lets through:
//   kind % 8 = 0  one of the usual audio and video rates
//              1  an integer, 1 + payload % 1e13
//              2  log-uniform over the whole range
//              3  the payload's bits as a double, when in range (else as kind 2)
//              4  the reference rate times p/q with 1 <= p, q <= 97 (an exact ratio)
//              5  the reference rate moved by up to 16 units in the last place
//              6  a boundary value (1, 1e13, their neighbours, powers of two ...)
//              7  a decimal with three places between 1 and about 1e6
// The reference rate is another rate of the same request (48000 for the first one).
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/arithmetic.h"

namespace fuzz_support {

constexpr double RATE_LOW = 1.0;
constexpr double RATE_HIGH = 1e13;

/// Reads the input front to back; past the end every byte is zero.
struct ByteReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::uint64_t u64() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value |= std::uint64_t{byte()} << (8 * i);
        return value;
    }
};

inline bool in_range(double rate) {
    return rate >= RATE_LOW && rate <= RATE_HIGH;  // false for NaN
}

/// A double in [0, 1) from the top 53 bits.
inline double unit_interval(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

inline double log_uniform_rate(std::uint64_t bits) {
    const double rate = std::pow(10.0, 13.0 * unit_interval(bits));
    return in_range(rate) ? rate : RATE_HIGH;
}

constexpr double COMMON_RATES[] = {
    8000,   11025,    16000,    22050,  24000,   32000,   44100,  47952.047952047952,
    48000,  88200,    96000,    176400, 192000,  352800,  384000, 705600,
    768000, 2.8224e6, 5.6448e6, 1e6,    2.048e6, 6.144e6, 27e6,   74.25e6,
    1,      2,        3,        7.5,    100,     1000,    65535,  65536};

constexpr double BOUNDARY_RATES[] = {
    1.0,  1.0000000000000002, 1e13,         9999999999999.998,  // the bounds, one ulp inside
    2.0,  4294836225.0,       4294836226.0, 5e12,
    1e10, 9999999999999.0,    3037000499.0, 1234567.890123};

/// One rate of a request from the next nine bytes; `reference` must be in range.
inline double read_rate(ByteReader* in, double reference) {
    const std::uint8_t kind = in->byte();
    const std::uint64_t payload = in->u64();
    double rate = reference;
    switch (kind % 8) {
    case 0: rate = COMMON_RATES[payload % std::size(COMMON_RATES)]; break;
    case 1: rate = 1.0 + static_cast<double>(payload % 10000000000000ULL); break;
    case 2: rate = log_uniform_rate(payload); break;
    case 3: {
        std::memcpy(&rate, &payload, sizeof rate);
        if (!in_range(rate)) rate = log_uniform_rate(payload);
        break;
    }
    case 4: {
        const double p = 1.0 + static_cast<double>(payload % 97);
        const double q = 1.0 + static_cast<double>((payload >> 8) % 97);
        rate = reference * p / q;
        break;
    }
    case 5: {
        const int steps = static_cast<int>(payload % 33) - 16;
        const double toward = steps < 0 ? 0.0 : RATE_HIGH * 2;
        for (int i = 0; i < std::abs(steps); ++i) rate = std::nextafter(rate, toward);
        break;
    }
    case 6: rate = BOUNDARY_RATES[payload % std::size(BOUNDARY_RATES)]; break;
    default: rate = 1.0 + static_cast<double>(payload % 1000000000ULL) / 1000.0; break;
    }
    return in_range(rate) ? rate : reference;
}

/// The largest convergent term whose factor pairs a search may look for in a fuzz run: its
/// trial division then takes at most 2^14 steps.
constexpr long long CHEAP_TERM = 1LL << 28;

/// Whether a two-stage search of `ratio` under `max_factor` stays cheap: every convergent
/// it factors (denominators up to max_factor squared) has terms up to CHEAP_TERM. A ratio
/// far beyond any cascade's reach has numerators of up to 10^13 x max_factor^2, whose
/// factoring by trial division would take most of a fuzz run's time and find nothing.
inline bool cheap_two_stage_search(double ratio, long long max_factor) {
    if (!std::isfinite(ratio) || ratio <= 0.0) return true;  // refused before any factoring
    const long long bound = max_factor >= 1 && max_factor <= 3037000499LL
                                ? max_factor * max_factor
                                : static_cast<long long>(~0ULL >> 1);
    quillmere::core::ConvergentList convergents;
    if (quillmere::core::calculate_cfe_convergents(ratio, bound, &convergents) !=
        quillmere::Status::ok) {
        return true;  // the search fails there too, before any factoring
    }
    for (const quillmere::core::Convergent& c : convergents) {
        if (c.p > CHEAP_TERM || c.q > CHEAP_TERM) return false;
    }
    return true;
}

/// Where failure reports go: standard error as it was before libFuzzer closed it.
inline int& report_descriptor() {
    static int descriptor = STDERR_FILENO;
    return descriptor;
}

/// Reports a broken invariant with the request it broke on, then aborts, so that
/// libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what, const std::string& request) {
    const std::string text = "invariant broken: " + std::string(what) + "\n  " + request + "\n";
    if (write(report_descriptor(), text.data(), text.size()) < 0) {
        // Nothing else to report to; the abort below still marks the input.
    }
    std::abort();
}

/// A rate with all its digits, for failure reports.
inline std::string show_rate(double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", rate);
    return text;
}

}  // namespace fuzz_support
