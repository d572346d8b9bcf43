// Kaiser-windowed sinc lowpass filters.
#include "design/kaiser.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace quillmere::inline v2::design {

double bessel_i0(double x) {
    // sum over k of ((x/2)^k / k!)^2; every term is positive, so the sum is accurate.
    const double quarter_square = x * x / 4.0;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 1000; ++k) {
        term *= quarter_square / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

std::vector<double> kaiser_lowpass(std::int64_t taps, double beta, double cutoff_cycles,
                                   double gain) {
    const auto n = static_cast<std::size_t>(taps);
    std::vector<double> h(n);
    if (n == 0) return h;
    // Distances from the centre: 0, 1, 2, ... for odd lengths, 1/2, 3/2, ... for even ones.
    const double half_span = (static_cast<double>(taps) - 1.0) / 2.0;
    const double window_norm = 1.0 / bessel_i0(beta);
    for (std::size_t k = 0; k < (n + 1) / 2; ++k) {
        const double t = half_span - static_cast<double>(k);  // tap k and tap n-1-k
        const double ideal = t == 0.0 ? 2.0 * cutoff_cycles
                                      : std::sin(2.0 * std::numbers::pi * cutoff_cycles * t) /
                                            (std::numbers::pi * t);
        const double r = half_span > 0.0 ? t / half_span : 0.0;
        const double window = bessel_i0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) * window_norm;
        h[k] = gain * ideal * window;
        h[n - 1 - k] = h[k];
    }
    return h;
}

std::vector<double> kaiser_halfband(std::int64_t taps, double beta, double gain) {
    std::vector<double> h = kaiser_lowpass(taps, beta, 0.25, gain);
    const std::size_t centre = h.size() / 2;
    for (std::size_t k = 0; k < h.size(); ++k) {
        const std::size_t distance = k > centre ? k - centre : centre - k;
        if (distance == 0) {
            h[k] = gain / 2.0;
        } else if (distance % 2 == 0) {
            h[k] = 0.0;
        }
    }
    return h;
}

}  // namespace quillmere::inline v2::design
