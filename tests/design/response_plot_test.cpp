// The magnitude response for plots (magnitude_response_db), held against the tests' own
// evaluation of the filters' responses: each plotted point is the largest gain within its
// share of the frequency axis, the response repeats beyond half the rate as a sampled
// filter's does, and what makes no sense gives nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numeric>
#include <numbers>
#include <vector>

#include "polyphase.h"
#include "quillmere/quillmere.h"

namespace {

/// |H(f)| of any filter by its own sum (the tests' DFT, not the library's FFT).
double magnitude(const std::vector<double>& h, double f_hz, double rate_hz) {
    std::complex<double> sum;
    for (std::size_t k = 0; k < h.size(); ++k) {
        sum += h[k] * std::polar(1.0, -2.0 * std::numbers::pi * f_hz / rate_hz * static_cast<double>(k));
    }
    return std::abs(sum);
}

double to_db(double gain) {
    return 20.0 * std::log10(gain);
}

/// The largest |H| over [from, to], sampled densely (64 points per rate / taps, and at
/// least 64 over the interval).
double largest_between(const std::vector<double>& h, double rate_hz, double from, double to) {
    const double step = std::min(rate_hz / static_cast<double>(h.size()), to - from) / 64.0;
    double largest = 0.0;
    for (double f = from; f <= to; f += step) largest = std::max(largest, polyphase::amplitude_response(h, f, rate_hz));
    return std::max(largest, polyphase::amplitude_response(h, to, rate_hz));
}

// A Kaiser lowpass at 48 kHz whose stopband lobes are a few grid points wide: each plotted
// point must catch the top of every lobe in its share.
TEST(ResponsePlot, EachPointIsTheLargestGainWithinItsShareOfTheAxis) {
    const double rate = 48000.0;
    const std::vector<double> h = polyphase::kaiser_lowpass(301, 9.0, 6000.0, rate);
    const double gain = std::accumulate(h.begin(), h.end(), 0.0);
    for (const std::size_t points : {257u, 2001u}) {
        const std::vector<double> db = quillmere::magnitude_response_db(h, gain, rate, rate / 2, points);
        ASSERT_EQ(db.size(), points);
        const double spacing = rate / 2 / static_cast<double>(points - 1);
        for (std::size_t k = 0; k < points; ++k) {
            const double f = static_cast<double>(k) * spacing;
            const double top = largest_between(h, rate, std::max(0.0, f - spacing / 2),
                                               std::min(rate / 2, f + spacing / 2));
            // Below the true top of the share by no more than the grid's sampling of a
            // lobe's crest (8 points per rate / taps); above it by no more than the grid
            // point beyond each end adds (within a sixteenth of a lobe of the share), up to
            // what the dense sampling here misses of a crest (64 points a lobe: 0.01 dB).
            const double grid = rate / 301.0 / 8.0;
            const double around = largest_between(h, rate, std::max(0.0, f - spacing / 2 - grid),
                                                  std::min(rate / 2, f + spacing / 2 + grid));
            EXPECT_LE(db[k], to_db(around / gain) + 0.01) << f << " Hz, " << points << " points";
            EXPECT_GE(db[k], to_db(top / gain) - 0.3) << f << " Hz, " << points << " points";
        }
    }
}

// A short filter at a high rate over a narrow part of its band (a later stage's filter in
// the cascade's plot): the grid's few points there are summed directly, not by an FFT of
// the whole fine grid, and must give the same tops.
TEST(ResponsePlot, ANarrowPartOfAShortFiltersBandHasTheSameTops) {
    const double rate = 2016000.0;
    std::vector<double> h = polyphase::kaiser_lowpass(173, 9.0, 50000.0, rate);
    for (std::size_t k = 0; k < h.size() / 2; ++k) h[h.size() - 1 - k] = h[k];  // symmetric
    const double gain = std::accumulate(h.begin(), h.end(), 0.0);
    const double to = 50400.0;
    const std::size_t points = 2048;
    const std::vector<double> db = quillmere::magnitude_response_db(h, gain, rate, to, points);
    ASSERT_EQ(db.size(), points);
    const double spacing = to / static_cast<double>(points - 1);
    for (std::size_t k = 0; k < points; k += 7) {
        const double f = static_cast<double>(k) * spacing;
        // Shares of 24.6 Hz on lobes 23 kHz wide, on a grid of at least two points a share:
        // the top of the share, or of the share widened by the grid point beyond each end.
        const double top = largest_between(h, rate, std::max(0.0, f - spacing / 2), f + spacing / 2);
        const double around = largest_between(h, rate, std::max(0.0, f - spacing), f + spacing);
        EXPECT_GE(db[k], to_db(top / gain) - 1e-9) << f << " Hz";
        EXPECT_LE(db[k], to_db(around / gain) + 1e-9) << f << " Hz";
    }
}

TEST(ResponsePlot, BeyondHalfTheRateTheResponseRepeats) {
    const double rate = 8000.0;
    const std::vector<double> h = polyphase::kaiser_lowpass(41, 5.0, 1000.0, rate);
    // 0 .. 2.5 x the rate at points 100 Hz apart: the point at f and those at rate - f and
    // rate + f see the same response.
    const std::vector<double> db = quillmere::magnitude_response_db(h, 1.0, rate, 2.5 * rate, 201);
    ASSERT_EQ(db.size(), 201u);
    for (std::size_t k = 1; k < 40; ++k) {
        const std::size_t mirrored = 80 - k;
        const std::size_t repeated = 80 + k;
        EXPECT_NEAR(db[k], db[mirrored], 1e-6) << k;
        EXPECT_NEAR(db[k], db[repeated], 1e-6) << k;
        // Shares of 100 Hz on a filter of 41 taps at 8 kHz (lobes 200 Hz wide): below the
        // top of the share by no more than the grid's sampling of a crest, and no higher than the top of the share widened by
        // one grid step (at most rate / (8 x taps)) at each end.
        const double f = static_cast<double>(k) * 100.0;
        const double grid = rate / (8.0 * 41.0);
        const double top = largest_between(h, rate, f - 50.0, f + 50.0);
        const double around = largest_between(h, rate, f - 50.0 - grid, f + 50.0 + grid);
        EXPECT_GE(db[k], to_db(top) - 0.3) << f << " Hz";
        EXPECT_LE(db[k], to_db(around) + 0.01) << f << " Hz";
    }
}

TEST(ResponsePlot, AFilterOfAnyPhaseAndAGainOfZero) {
    // Not linear-phase: the magnitude is still |H|.
    const std::vector<double> h = {1.0, 0.5, 0.25, -0.125};
    const double rate = 1000.0;
    const std::vector<double> db = quillmere::magnitude_response_db(h, 2.0, rate, 500.0, 3);
    ASSERT_EQ(db.size(), 3u);
    EXPECT_NEAR(db[0], to_db(std::max(magnitude(h, 0.0, rate), magnitude(h, 125.0, rate)) / 2.0), 0.05);
    EXPECT_NEAR(db[2], to_db(magnitude(h, 500.0, rate) / 2.0), 0.05);

    const std::vector<double> zeros(16, 0.0);
    for (const double value : quillmere::magnitude_response_db(zeros, 1.0, rate, 500.0, 5)) {
        EXPECT_EQ(value, -400.0);
    }
}

TEST(ResponsePlot, WhatMakesNoSenseGivesNothing) {
    const std::vector<double> h = {0.5, 0.5};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(quillmere::magnitude_response_db({}, 1.0, 1000.0, 500.0, 10).empty());
    EXPECT_TRUE(quillmere::magnitude_response_db(h, 1.0, 1000.0, 500.0, 1).empty());
    for (const double bad : {0.0, -1.0, nan, inf}) {
        EXPECT_TRUE(quillmere::magnitude_response_db(h, bad, 1000.0, 500.0, 10).empty());
        EXPECT_TRUE(quillmere::magnitude_response_db(h, 1.0, bad, 500.0, 10).empty());
        EXPECT_TRUE(quillmere::magnitude_response_db(h, 1.0, 1000.0, bad, 10).empty());
    }
    // More points than memory holds: nothing, rather than an exception.
    EXPECT_TRUE(quillmere::magnitude_response_db(h, 1.0, 1000.0, 500.0,
                                                 std::numeric_limits<std::size_t>::max() / 4)
                    .empty());
}

}  // namespace
