// Test-only DSP that checks the filter cost estimate by building the filters it describes:
// Kaiser-windowed sinc lowpass filters, their frequency response, a polyphase resampler
// cascade, and a least-squares fit of a sinusoid's amplitude at a known frequency.
//
// Nothing here comes from the library: the tests measure the estimate against this
// independent implementation.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

namespace polyphase {

/// The modified Bessel function of the first kind, order 0, by its power series.
inline double bessel_i0(double x) {
    const double q = x * x / 4.0;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500 && term > sum * 1e-17; ++k) {
        term *= q / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
    }
    return sum;
}

/// A linear-phase lowpass of `taps` taps at sample rate rate_hz with cut-off cutoff_hz:
/// the ideal impulse response (gain 1 in the passband) under a Kaiser window of parameter
/// beta.
inline std::vector<double> kaiser_lowpass(std::int64_t taps, double beta, double cutoff_hz,
                                          double rate_hz) {
    std::vector<double> h(static_cast<std::size_t>(taps));
    const double fc = cutoff_hz / rate_hz;  // cycles per sample
    const double centre = (static_cast<double>(taps) - 1.0) / 2.0;
    const double i0_beta = bessel_i0(beta);
    for (std::int64_t k = 0; k < taps; ++k) {
        const double t = static_cast<double>(k) - centre;
        const double x = 2.0 * std::numbers::pi * fc * t;
        const double sinc = t == 0.0 ? 2.0 * fc : std::sin(x) / (std::numbers::pi * t);
        const double r = taps > 1 ? t / centre : 0.0;
        const double window = bessel_i0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0_beta;
        h[static_cast<std::size_t>(k)] = sinc * window;
    }
    return h;
}

/// The amplitude response |H(f)| of a symmetric filter at frequency f_hz. The filter is
/// linear-phase, so H(f) is a real sum of cosines about its centre; the cosines come from a
/// rotating phasor, recomputed exactly every 256 taps to keep rounding small.
inline double amplitude_response(std::span<const double> h, double f_hz, double rate_hz) {
    const std::size_t n = h.size();
    const double omega = 2.0 * std::numbers::pi * f_hz / rate_hz;
    // Pairs h[n/2 - 1 - j] and h[n - n/2 + j] at distance j + offset from the centre.
    const bool odd = n % 2 == 1;
    const double offset = odd ? 1.0 : 0.5;
    const std::size_t pairs = n / 2;
    double sum = odd ? h[n / 2] : 0.0;
    const std::complex<double> step = std::polar(1.0, omega);
    std::complex<double> phasor;
    for (std::size_t j = 0; j < pairs; ++j) {
        if (j % 256 == 0) {
            phasor = std::polar(1.0, omega * (static_cast<double>(j) + offset));
        } else {
            phasor *= step;
        }
        const std::size_t left = (odd ? n / 2 - 1 : n / 2 - 1) - j;
        sum += 2.0 * h[left] * phasor.real();
    }
    return std::fabs(sum);
}

/// The largest (or smallest, with `largest` false) amplitude response over [from, to]:
/// a dense grid over the first `dense_lobes` lobes from `dense_from` (the lobe width is
/// about rate/taps), a coarse grid over the whole band, both ends, and a golden-section
/// refinement around the best grid points.
struct Extreme {
    double gain = 0.0;
    double at_hz = 0.0;
};

inline Extreme band_extreme(std::span<const double> h, double rate_hz, double from_hz, double to_hz,
                            bool largest, double dense_from_hz, int dense_lobes = 40,
                            int coarse_points = 400) {
    const double lobe = rate_hz / static_cast<double>(h.size());
    const double dense_step = lobe / 8.0;
    std::vector<double> grid;
    grid.push_back(from_hz);
    grid.push_back(to_hz);
    const double dense_lo = std::max(from_hz, dense_from_hz - dense_lobes * lobe);
    const double dense_hi = std::min(to_hz, dense_from_hz + dense_lobes * lobe);
    for (double f = dense_lo; f <= dense_hi; f += dense_step) grid.push_back(f);
    for (int i = 1; i < coarse_points; ++i) {
        grid.push_back(from_hz + (to_hz - from_hz) * i / coarse_points);
    }
    std::sort(grid.begin(), grid.end());
    std::vector<double> value(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i) {
        value[i] = amplitude_response(h, grid[i], rate_hz);
    }
    const auto better = [&](double a, double b) { return largest ? a > b : a < b; };
    // The best few local extremes of the grid, refined between their neighbours.
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < grid.size(); ++i) {
        const bool left_ok = i == 0 || !better(value[i - 1], value[i]);
        const bool right_ok = i + 1 == grid.size() || !better(value[i + 1], value[i]);
        if (left_ok && right_ok) candidates.push_back(i);
    }
    std::sort(candidates.begin(), candidates.end(),
              [&](std::size_t a, std::size_t b) { return better(value[a], value[b]); });
    if (candidates.size() > 8) candidates.resize(8);
    Extreme best{value[candidates.front()], grid[candidates.front()]};
    for (const std::size_t i : candidates) {
        double a = i == 0 ? grid[i] : grid[i - 1];
        double b = i + 1 == grid.size() ? grid[i] : grid[i + 1];
        const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
        const auto f = [&](double x) {
            const double v = amplitude_response(h, x, rate_hz);
            return largest ? v : -v;
        };
        double x1 = b - ratio * (b - a);
        double x2 = a + ratio * (b - a);
        double f1 = f(x1);
        double f2 = f(x2);
        for (int it = 0; it < 40 && b - a > 1e-9 * lobe; ++it) {
            if (f1 > f2) {
                b = x2;
                x2 = x1;
                f2 = f1;
                x1 = b - ratio * (b - a);
                f1 = f(x1);
            } else {
                a = x1;
                x1 = x2;
                f1 = f2;
                x2 = a + ratio * (b - a);
                f2 = f(x2);
            }
        }
        for (const double x : {x1, x2, grid[i]}) {
            const double v = amplitude_response(h, x, rate_hz);
            if (better(v, best.gain)) best = Extreme{v, x};
        }
    }
    return best;
}

/// One polyphase resampling stage: interpolate by l, filter with h (designed at l x the
/// input rate, gain 1 in the passband), decimate by m. Only the l-th of the taps that
/// meet non-zero input samples are computed: output n uses phase (n m) mod l.
struct Stage {
    std::int64_t l = 1;
    std::int64_t m = 1;
    std::vector<double> h;  ///< empty: the stage passes the signal through

    std::int64_t taps() const { return h.empty() ? 1 : static_cast<std::int64_t>(h.size()); }
    /// The first output whose filter window lies wholly on the input.
    std::int64_t first_output() const { return (taps() - 1 + m - 1) / m; }
    /// Input samples needed for `count` outputs from first_output() on.
    std::int64_t inputs_for(std::int64_t count) const {
        return (first_output() + count - 1) * m / l + 1;
    }

    /// The outputs first_output() .. first_output() + count - 1; x must hold at least
    /// inputs_for(count) samples.
    std::vector<double> run(std::span<const double> x, std::int64_t count) const {
        std::vector<double> y(static_cast<std::size_t>(count));
        if (h.empty()) {
            std::copy_n(x.begin(), count, y.begin());
            return y;
        }
        const std::int64_t n_taps = taps();
        const double gain = static_cast<double>(l);
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t t = (first_output() + i) * m;  // time at the upsampled rate
            const std::int64_t phase = t % l;
            std::int64_t j = t / l;  // newest input sample under the filter
            double sum = 0.0;
            for (std::int64_t k = phase; k < n_taps; k += l, --j) {
                sum += h[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(j)];
            }
            y[static_cast<std::size_t>(i)] = gain * sum;
        }
        return y;
    }
};

/// Runs a cascade on the tone cos(2 pi f n / input_rate + 0.3) and returns `count` output
/// samples after every filter has filled (the steady state).
inline std::vector<double> run_cascade(const std::vector<Stage>& stages, double tone_hz,
                                       double input_rate_hz, std::int64_t count) {
    std::vector<std::int64_t> needed(stages.size() + 1);
    needed[stages.size()] = count;
    for (std::size_t i = stages.size(); i-- > 0;) needed[i] = stages[i].inputs_for(needed[i + 1]);
    std::vector<double> x(static_cast<std::size_t>(needed[0]));
    for (std::size_t n = 0; n < x.size(); ++n) {
        // Exact phase for whole-hertz rates and tones: (f n) mod rate in integers.
        const double cycles = std::fmod(tone_hz * static_cast<double>(n), input_rate_hz);
        x[n] = std::cos(2.0 * std::numbers::pi * cycles / input_rate_hz + 0.3);
    }
    for (std::size_t i = 0; i < stages.size(); ++i) x = stages[i].run(x, needed[i + 1]);
    return x;
}

/// The amplitude of the sinusoid at f_hz that best fits y in the least-squares sense:
/// y[n] ~ a cos(w n) + b sin(w n), solved from the normal equations, amplitude
/// sqrt(a^2 + b^2). At 0 Hz and at half the rate the single basis function is fitted alone.
inline double fitted_amplitude(std::span<const double> y, double f_hz, double rate_hz) {
    const double cycles_per_sample = f_hz / rate_hz;
    const double omega = 2.0 * std::numbers::pi * cycles_per_sample;
    double cc = 0.0, ss = 0.0, cs = 0.0, yc = 0.0, ys = 0.0;
    const std::complex<double> step = std::polar(1.0, omega);
    std::complex<double> phasor;
    for (std::size_t n = 0; n < y.size(); ++n) {
        if (n % 256 == 0) {
            const double phase = std::fmod(f_hz * static_cast<double>(n), rate_hz) / rate_hz;
            phasor = std::polar(1.0, 2.0 * std::numbers::pi * phase);
        } else {
            phasor *= step;
        }
        const double c = phasor.real();
        const double s = phasor.imag();
        cc += c * c;
        ss += s * s;
        cs += c * s;
        yc += y[n] * c;
        ys += y[n] * s;
    }
    const double det = cc * ss - cs * cs;
    if (f_hz == 0.0 || 2.0 * f_hz == rate_hz || det <= 1e-12 * cc * ss) {
        return std::fabs(yc) / cc;  // sin vanishes at the samples: fit the cosine alone
    }
    const double a = (yc * ss - ys * cs) / det;
    const double b = (ys * cc - yc * cs) / det;
    return std::hypot(a, b);
}

/// Greatest common divisor of two whole-hertz rates.
inline std::int64_t gcd_hz(double a, double b) {
    std::int64_t x = std::llround(a);
    std::int64_t y = std::llround(b);
    while (y != 0) {
        const std::int64_t r = x % y;
        x = y;
        y = r;
    }
    return x;
}

}  // namespace polyphase
