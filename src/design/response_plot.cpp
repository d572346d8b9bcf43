// A filter's magnitude response for a plot: the FFT grid of the measurement, each plotted
// point the peak of the grid within its share of the frequency axis.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

#include "design/response.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2 {

namespace {

/// Grid points the FFT gets at most for a plot's sake, beyond the 8 per rate / taps of the
/// measurement (4M points: 64 MB of buffers).
constexpr std::size_t max_plot_grid = std::size_t{1} << 22;

/// The gain for a gain of exactly zero, in dB.
constexpr double zero_gain_db = -400.0;

/// |H| on the grid j x rate / size, j = 0 .. size / 2, divided by gain.
std::vector<double> grid_magnitudes(std::span<const double> h, double gain, std::size_t size) {
    design::RealTransform transform(size);
    const std::span<double> input = transform.input();
    std::fill(input.begin(), input.end(), 0.0);
    std::copy(h.begin(), h.end(), input.begin());
    const std::span<const std::complex<double>> spectrum = transform.run();
    const std::size_t half = size / 2;
    std::vector<double> magnitudes(half + 1);
    magnitudes[0] = std::fabs(spectrum[0].real()) / gain;
    magnitudes[half] = std::fabs(spectrum[0].imag()) / gain;
    for (std::size_t j = 1; j < half; ++j) magnitudes[j] = std::abs(spectrum[j]) / gain;
    return magnitudes;
}

/// |H| on the grid j x rate / size, j = 0 .. last, divided by gain, for a symmetric
/// filter: each point's amplitude summed directly, which for a plot of a small part of a
/// fine grid is far less work than the FFT of all of it.
std::vector<double> grid_magnitudes_up_to(std::span<const double> h, double gain, std::size_t size,
                                          std::size_t last) {
    std::vector<double> magnitudes(last + 1);
    for (std::size_t j = 0; j <= last; ++j) {
        const double cycles = static_cast<double>(j) / static_cast<double>(size);
        magnitudes[j] = std::fabs(design::amplitude_at(h, cycles)) / gain;
    }
    return magnitudes;
}

/// x (in grid points, x >= 0) folded into 0 .. half as a real filter's response repeats:
/// mirrored at half, periodic in 2 x half.
double folded(double x, double half) {
    const double period = 2.0 * half;
    const double within = x - period * std::floor(x / period);
    return within > half ? period - within : within;
}

std::vector<double> plot_response(std::span<const double> h, double gain, double rate_hz,
                                  double to_hz, std::size_t points) {
    // At least 8 grid points per rate / taps, and 2 per plotted point where that stays
    // within max_plot_grid.
    const double spacing_hz = to_hz / static_cast<double>(points - 1);
    const double per_points = std::ceil(2.0 * rate_hz / spacing_hz);
    const std::size_t wanted = per_points < static_cast<double>(max_plot_grid)
                                   ? static_cast<std::size_t>(per_points)
                                   : max_plot_grid;
    if (h.size() > max_design_taps) throw std::length_error("filter too long");
    const std::size_t minimum = std::max(8 * h.size(), wanted);
    const std::size_t size = 2 * design::fast_fft_size((minimum + 1) / 2);
    const double half = static_cast<double>(size / 2);
    const double bins_per_hz = static_cast<double>(size) / rate_hz;
    // The grid points the plot reads, to the one beyond its last share: when they are
    // within half the rate, few, and the filter symmetric (as designed filters are),
    // summed directly; else the FFT of the whole grid.
    const double top = (to_hz + 0.5 * spacing_hz) * bins_per_hz;
    const bool symmetric = std::equal(h.begin(), h.begin() + h.size() / 2, h.rbegin());
    const double direct_work = (top + 2.0) * static_cast<double>(h.size()) / 2.0;
    const double transform_work = static_cast<double>(size) * std::log2(static_cast<double>(size));
    const bool direct = symmetric && top + 1.0 < half && direct_work < transform_work;
    const std::vector<double> magnitudes =
        direct ? grid_magnitudes_up_to(h, gain, size, static_cast<std::size_t>(std::ceil(top)) + 1)
               : grid_magnitudes(h, gain, size);
    const double peak = *std::max_element(magnitudes.begin(), magnitudes.end());
    std::vector<double> db(points);
    for (std::size_t k = 0; k < points; ++k) {
        const double centre = static_cast<double>(k) * spacing_hz * bins_per_hz;
        const double lo = std::max(0.0, centre - 0.5 * spacing_hz * bins_per_hz);
        const double hi = centre + 0.5 * spacing_hz * bins_per_hz;
        double largest = magnitudes[static_cast<std::size_t>(std::lround(folded(centre, half)))];
        if (hi - lo >= half) {
            largest = peak;  // a whole half period: every grid point
        } else {
            // The share folded into 0 .. half: one piece, or two that meet at 0 or at half.
            double from = folded(lo, half);
            double to = folded(hi, half);
            if (from > to) std::swap(from, to);
            const double segment_lo = std::floor(lo / half);
            const double segment_hi = std::floor(hi / half);
            if (segment_lo != segment_hi && hi != segment_hi * half) {
                const bool meet_at_half = std::fmod(segment_hi, 2.0) == 1.0;
                if (meet_at_half) {
                    to = half;
                } else {
                    from = 0.0;
                }
            }
            // The grid points that cover the share: those inside and the one beyond each
            // end, so that a slope or a crest at the share's edge is not missed.
            const auto first = static_cast<std::size_t>(std::floor(from));
            const auto last = static_cast<std::size_t>(std::ceil(to));
            for (std::size_t j = first; j <= last && j < magnitudes.size(); ++j) {
                largest = std::max(largest, magnitudes[j]);
            }
        }
        db[k] = largest > 0.0 ? 20.0 * std::log10(largest) : zero_gain_db;
    }
    return db;
}

}  // namespace

std::vector<double> magnitude_response_db(std::span<const double> coefficients, double gain,
                                          double rate_hz, double to_hz,
                                          std::size_t points) noexcept {
    const auto positive = [](double value) { return std::isfinite(value) && value > 0.0; };
    if (coefficients.empty() || points < 2 || !positive(gain) || !positive(rate_hz) ||
        !positive(to_hz)) {
        return {};
    }
    try {
        return plot_response(coefficients, gain, rate_hz, to_hz, points);
    } catch (...) {
        return {};  // no memory for the grid
    }
}

}  // namespace quillmere::inline v2
