// The Remez exchange of Parks and McClellan for linear-phase FIR filters with symmetric
// coefficients (odd lengths: type I; even lengths: type II, zero at half the rate), with
// piecewise-constant desired responses and weights.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "design/response.h"

namespace quillmere::inline v2::design {

/// One band of the approximation, in cycles per sample (0 .. 0.5).
struct RemezBand {
    double lower = 0.0;
    double upper = 0.0;
    double desired = 0.0;  ///< the amplitude wanted over the band
    double weight = 1.0;   ///< the error counts this many times over the band
};

/// A design from the exchange.
struct RemezResult {
    /// The exchange converged: the largest weighted error on the grid is within 0.05 % of
    /// the levelled error of the extremal set (the optimum lies between the two), or within
    /// 1 % after 50 exchanges.
    bool converged = false;
    /// The coefficients, symmetric, in time order (empty when the exchange failed).
    std::vector<double> h;
    /// The largest weighted error |W (D - A)| over the bands, on the exchange's grid.
    double weighted_error = 0.0;
    /// Exchanges done.
    int iterations = 0;
    /// Exchanges whose error came from the polynomial on the grid rather than by FFT.
    int polynomial_evaluations = 0;
    /// The final extremal frequencies, to start a design of a nearby length from.
    std::vector<double> extremals;
};

/// The exchange, with the FFT and the buffers it keeps from one design to the next (a
/// length search designs many filters of nearly the same length).
class RemezExchange {
public:
    /// Designs the filter of `taps` taps (at least 3) that minimises the largest weighted
    /// error over the bands (sorted, not overlapping), on a grid of about 16 points per
    /// 1/taps with the band edges, and four points per grid step over the 8 steps next to
    /// an edge that faces a transition band (where the ripples narrow). The exchange starts
    /// from `start` (extremal frequencies of a previous design of about as many taps,
    /// resampled to the count needed) or else, for one or two bands, from where the
    /// optimum's extremals lie for a long filter (more bands: spread evenly). Each
    /// trial's coefficients come from its polynomial's values at taps equally spaced
    /// frequencies and its error on the grid from them by FFT, so an exchange costs
    /// O(taps^2) and not O(grid x taps).
    RemezResult design(std::size_t taps, std::span<const RemezBand> bands,
                       std::span<const double> start);

private:
    void make_grid(std::span<const RemezBand> bands, bool even_length);

    std::size_t fft_size_ = 0;
    std::optional<AmplitudeTransform> transform_;
    std::optional<RealTransform> coefficients_;
    // The grid: frequency (cycles per sample), desired value, weight, FFT bin (or no_bin)
    // of each point, and where each band starts (one past the last band at the end).
    std::vector<double> cycles_;
    std::vector<double> desired_;
    std::vector<double> weight_;
    std::vector<std::size_t> bin_;
    std::vector<std::size_t> band_start_;
};

/// One design with a fresh exchange.
RemezResult remez(std::size_t taps, std::span<const RemezBand> bands,
                  std::span<const double> start);

}  // namespace quillmere::inline v2::design
