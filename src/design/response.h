// Measurement of a designed filter: its amplitude response by FFT on a grid of at least
// 8 points per 1/taps of its rate, the extremes refined between the grid points, and the
// passband of a whole cascade from the stages' samples.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace quillmere::inline v2::design {

/// The smallest size of at least `minimum` whose only prime factors are 2, 3 and 5.
std::size_t fast_fft_size(std::size_t minimum);

/// The zero-phase amplitude A(F) of a symmetric (linear-phase) filter at F cycles per
/// sample: H(F) = exp(-j 2 pi F (taps - 1) / 2) A(F). A direct sum over the taps.
double amplitude_at(std::span<const double> h, double cycles);

/// The DFT X_0 .. X_{size/2} of real sequences of `size` values (even), by KissFFT's real
/// transform. Keeps its FFT and buffers between runs.
class RealTransform {
public:
    explicit RealTransform(std::size_t size);
    ~RealTransform();
    RealTransform(RealTransform&&) noexcept;
    RealTransform& operator=(RealTransform&&) noexcept;
    /// The size of the sequences transformed.
    std::size_t size() const;
    /// The input buffer (size values) to fill before run().
    std::span<double> input();
    /// Transforms the input: X_0 .. X_{size/2 - 1}, X_{size/2} in the imaginary part of
    /// X_0 (both are real), valid until the next run; the input is left as it was.
    std::span<const std::complex<double>> run();

private:
    struct State;  // the FFT (KissFFT) and its buffers
    std::unique_ptr<State> state_;
};

/// A(j / size) of symmetric filters for j = 0 .. size / 2, by one real FFT of `size`
/// points (even, at least the filter's length) each. Keeps its FFT and buffers between runs.
class AmplitudeTransform {
public:
    explicit AmplitudeTransform(std::size_t size);
    /// The size / 2 + 1 amplitudes of h, in a buffer of the transform's, valid until the
    /// next run.
    std::span<double> run(std::span<const double> h);

private:
    RealTransform transform_;
};

/// The passband amplitude of a filter, divided by its gain, at j x spacing_hz for
/// j = 0, 1, ..., two points beyond the passband edge, and at the edge itself.
struct PassbandSamples {
    double spacing_hz = 0.0;
    std::vector<double> values;
    double edge_hz = 0.0;
    double at_edge = 0.0;
};

/// The extremes of a lowpass's amplitude divided by its gain.
struct Extremes {
    double passband_max = 0.0;  ///< largest A over 0 .. the passband edge
    double passband_min = 0.0;  ///< smallest A there
    double stopband_max = 0.0;  ///< largest |A| over the stopband edge .. half the rate
    double peak = 0.0;          ///< largest |A| over 0 .. half the rate
};

/// Measures a lowpass h of DC gain `gain` at rate_hz, with its passband up to passband_hz
/// and its stopband from stopband_hz: on a grid of at least 8 points per 1/taps (FFT), each
/// local extreme refined by the parabola through its neighbours, those within 32 points of
/// a band edge (where the ripples narrow to a few points) by successive parabolic
/// interpolation on the exact response, and the band edges evaluated exactly. Fills `samples` (when
/// not null) with the passband up to cascade_passband_hz, for cascade_ripple_db().
Extremes measure_lowpass(std::span<const double> h, double gain, double rate_hz, double passband_hz,
                         double stopband_hz, double cascade_passband_hz, PassbandSamples* samples);

/// The peak-to-peak ripple in dB of the product of several stages' passband amplitudes
/// over 0 .. the passband edge: on the finest of their grids, the others interpolated
/// (cubic) between their samples.
double cascade_ripple_db(std::span<const PassbandSamples* const> stages);

}  // namespace quillmere::inline v2::design
