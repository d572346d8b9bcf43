// Kaiser-windowed sinc lowpass filters (J. F. Kaiser's window), the ordinary and the
// halfband kind.
#pragma once

#include <cstdint>
#include <vector>

namespace quillmere::inline v2::design {

/// The modified Bessel function of the first kind, order 0, by its power series.
double bessel_i0(double x);

/// A linear-phase lowpass of `taps` taps: the ideal response with cut-off cutoff_cycles
/// (cycles per sample) and DC gain `gain`, under a Kaiser window of parameter beta.
std::vector<double> kaiser_lowpass(std::int64_t taps, double beta, double cutoff_cycles,
                                   double gain);

/// A halfband lowpass of `taps` = 4k + 3 taps: the Kaiser lowpass with its cut-off at a
/// quarter of the rate, whose coefficients at even distances from the centre are zero
/// (set exactly) and whose centre is gain / 2.
std::vector<double> kaiser_halfband(std::int64_t taps, double beta, double gain);

}  // namespace quillmere::inline v2::design
