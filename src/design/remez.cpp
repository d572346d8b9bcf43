// The Remez exchange (Parks and McClellan) on the cosine polynomial of a linear-phase
// filter, with barycentric Lagrange interpolation through the extremal set.
#include "design/remez.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>

namespace quillmere::inline v2::design {

namespace {

/// Exchanges before the design counts as not converged.
constexpr int max_iterations = 100;
/// The exchange has converged when the largest error is within this fraction of the
/// levelled one (0.004 dB).
constexpr double convergence_tolerance = 5e-4;
/// After half the exchanges allowed, within this fraction (0.09 dB) is converged enough.
constexpr double stalled_tolerance = 1e-2;
/// Grid points whose amplitude comes from a direct sum, not from an FFT bin.
constexpr std::size_t no_bin = std::numeric_limits<std::size_t>::max();
/// Intervals over which the first extremal spacing next to a transition band widens to the
/// band's spacing (the optimum's do over about 3 to 5).
constexpr double ramp_intervals = 4.0;
/// Grid steps next to an edge that faces a transition band with four points each.
constexpr double fine_steps = 8.0;

/// Where the extremals of a long filter's optimum lie, from the equilibrium measure of its
/// bands in x = cos(2 pi F) (one or two bands; nothing for more). A polynomial of high
/// degree D that equioscillates on a set puts about D times the measure of each piece
/// between its extremals. On two intervals [a1, b1] < [a2, b2] the measure's density is
/// |x - c| / (pi sqrt|(x - a1)(x - b1)(x - a2)(x - b2)|), and c, in the gap, sets how
/// log|P| rises over the gap: by log(level of [a2, b2] / level of [a1, b1]) / D, the
/// levels being the weighted error's (1 / weight) in each band. On one interval it is the
/// arcsine law. An even length's cos(pi F) adds half to the degree, and its last extremal
/// stops half a unit short of F = 1/2 when the last band reaches there. Returns `count`
/// frequencies, sorted.
std::vector<double> equilibrium_extremals(const std::vector<double>& cycles,
                                          const std::vector<double>& weight,
                                          const std::vector<std::size_t>& band_start,
                                          std::size_t count, bool short_end) {
    const std::size_t bands = band_start.size() - 1;
    if (bands < 1 || bands > 2 || count < 2 * bands + 1) return {};
    // Along each interval x = m + h cos(phi), phi in [0, pi]: dx / sqrt((x - a)(b - x)) is
    // d(phi), so what is left of the density is smooth, summed by the trapezoid rule.
    constexpr std::size_t steps = 512;
    constexpr double dphi = std::numbers::pi / static_cast<double>(steps);
    struct Interval {
        double a, b;
        double at(double phi) const { return (a + b) / 2.0 + (b - a) / 2.0 * std::cos(phi); }
        double at(std::size_t j) const { return at(dphi * static_cast<double>(j)); }
    };
    const auto x_of = [](double f) { return std::cos(2.0 * std::numbers::pi * f); };
    // In x ascending: the band highest in F first.
    std::vector<Interval> in_x;
    for (std::size_t band = bands; band-- > 0;) {
        in_x.push_back({x_of(cycles[band_start[band + 1] - 1]), x_of(cycles[band_start[band]])});
    }
    const double half = short_end ? 0.5 : 0.0;
    const double degree = static_cast<double>(count - 2) + half;
    double c = 0.0;
    if (bands == 2) {
        // The integral of (x - c) / sqrt|...| over the gap is the rise of log|P| / D.
        const Interval gap{in_x[0].b, in_x[1].a};
        const double rise = std::log(weight[band_start[0]] / weight[band_start[1]]) / degree;
        double moment = 0.0;
        double mass = 0.0;
        for (std::size_t j = 0; j <= steps; ++j) {
            const double x = gap.at(j);
            const double g = (j == 0 || j == steps ? 0.5 : 1.0) /
                             std::sqrt(std::max((x - in_x[0].a) * (in_x[1].b - x), 1e-300));
            moment += x * g;
            mass += g;
        }
        c = (moment * dphi - rise) / (mass * dphi);
    }
    // The measure of each interval from x = b (its lower edge in F) to x = a, at each step.
    std::vector<std::vector<double>> cumulative(bands, std::vector<double>(steps + 1, 0.0));
    for (std::size_t i = 0; i < bands; ++i) {
        double previous = 0.0;
        for (std::size_t j = 0; j <= steps; ++j) {
            double value = 1.0;
            if (bands == 2) {
                const double x = in_x[i].at(j);
                const Interval& other = in_x[1 - i];
                value =
                    std::fabs(x - c) / std::sqrt(std::max((x - other.a) * (x - other.b), 1e-300));
            }
            if (j > 0) cumulative[i][j] = cumulative[i][j - 1] + (previous + value) / 2.0;
            previous = value;
        }
    }
    // Each band's edges are extremals, a unit of measure (1 / D of the whole) apart.
    std::vector<std::size_t> per(bands, count);
    if (bands == 2) {
        const double share = cumulative[0][steps] / (cumulative[0][steps] + cumulative[1][steps]);
        const auto upper =
            static_cast<std::size_t>(std::max(std::lround(degree * share - half), 1L));
        per[0] = std::min(upper + 1, count - 2);
        per[1] = count - per[0];
    }
    std::vector<double> wanted;
    wanted.reserve(count);
    for (std::size_t i = 0; i < bands; ++i) {
        const std::vector<double>& measure = cumulative[i];
        const double units = static_cast<double>(per[i] - 1) + (i == 0 ? half : 0.0);
        std::size_t j = 0;
        for (std::size_t k = 0; k < per[i]; ++k) {
            const double target = measure[steps] * static_cast<double>(k) / units;
            while (j + 1 < steps && measure[j + 1] < target) ++j;
            const double span = measure[j + 1] - measure[j];
            const double along =
                span > 0.0 ? std::clamp((target - measure[j]) / span, 0.0, 1.0) : 0.0;
            const double phi = dphi * (static_cast<double>(j) + along);
            const double x = in_x[i].at(phi);
            wanted.push_back(std::acos(std::clamp(x, -1.0, 1.0)) / (2.0 * std::numbers::pi));
        }
    }
    std::sort(wanted.begin(), wanted.end());
    return wanted;
}

/// r + 1 grid indices for the first extremal set: `start` resampled when it is of about the
/// count needed (the optimum's extremals move little from one length to the next, but a
/// set resampled from a few lengths away starts further off than the equilibrium measure
/// does), else where the equilibrium measure puts them, else spread evenly over the bands.
std::vector<std::size_t> initial_extremals(const std::vector<double>& cycles,
                                           const std::vector<double>& weight,
                                           const std::vector<std::size_t>& band_start,
                                           std::size_t count, std::span<const double> start,
                                           bool short_end) {
    const std::size_t points = cycles.size();
    std::vector<double> wanted(count);
    const bool near_start =
        start.size() >= 2 && start.size() + 1 >= count && start.size() <= count + 1;
    if (near_start) {
        for (std::size_t k = 0; k < count; ++k) {
            const double at = static_cast<double>(k) * static_cast<double>(start.size() - 1) /
                              static_cast<double>(count - 1);
            const auto below = static_cast<std::size_t>(at);
            const std::size_t above = std::min(below + 1, start.size() - 1);
            wanted[k] =
                start[below] + (at - static_cast<double>(below)) * (start[above] - start[below]);
        }
    } else if (std::vector<double> equilibrium =
                   equilibrium_extremals(cycles, weight, band_start, count, short_end);
               !equilibrium.empty()) {
        wanted = std::move(equilibrium);
    } else {
        // Shares of the count by the bands' widths, evenly spaced in each band except
        // over the first intervals at an edge that faces a transition band, which widen
        // steadily from an eighth of the spacing: the optimum's extremals crowd there.
        const std::size_t bands = band_start.size() - 1;
        double total = 0.0;
        for (std::size_t b = 0; b < bands; ++b) {
            total += cycles[band_start[b + 1] - 1] - cycles[band_start[b]];
        }
        std::size_t k = 0;
        double before = 0.0;
        std::vector<double> spacing;
        for (std::size_t b = 0; b < bands; ++b) {
            const double lo = cycles[band_start[b]];
            const double hi = cycles[band_start[b + 1] - 1];
            before += hi - lo;
            const auto share =
                static_cast<std::size_t>(std::lround(before / total * static_cast<double>(count)));
            const std::size_t end =
                b + 1 == bands ? count : std::clamp(share, k + 1, count - (bands - 1 - b));
            const std::size_t n = end - k;
            spacing.assign(n > 1 ? n - 1 : 0, 1.0);
            for (std::size_t i = 0; i < spacing.size(); ++i) {
                if (b > 0)
                    spacing[i] =
                        std::min(spacing[i], (static_cast<double>(i) + 0.5) / ramp_intervals);
                if (b + 1 < bands) {
                    spacing[i] =
                        std::min(spacing[i], (static_cast<double>(spacing.size() - 1 - i) + 0.5) /
                                                 ramp_intervals);
                }
            }
            double span = 0.0;
            for (const double d : spacing) span += d;
            double along = 0.0;
            for (std::size_t i = 0; i < n; ++i, ++k) {
                wanted[k] = n > 1 ? lo + (hi - lo) * along / span : (lo + hi) / 2.0;
                if (i < spacing.size()) along += spacing[i];
            }
        }
    }
    std::vector<std::size_t> index(count);
    for (std::size_t k = 0; k < count; ++k) {
        const auto it = std::lower_bound(cycles.begin(), cycles.end(), wanted[k]);
        std::size_t i = static_cast<std::size_t>(it - cycles.begin());
        if (i == points || (i > 0 && wanted[k] - cycles[i - 1] < cycles[i] - wanted[k])) --i;
        index[k] = i;
    }
    // Strictly increasing, within the grid.
    for (std::size_t k = 1; k < count; ++k) index[k] = std::max(index[k], index[k - 1] + 1);
    for (std::size_t k = count; k-- > 0;) index[k] = std::min(index[k], points - count + k);
    return index;
}

/// Two doubles in one vector register, with the compiler's vector extension (GCC and
/// Clang): the arithmetic operators work lane by lane.
using Pair = double __attribute__((vector_size(16)));
using PairBits = std::uint64_t __attribute__((vector_size(16)));

Pair load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Pair absolute(Pair v) {
    constexpr std::uint64_t magnitude = ~(std::uint64_t{1} << 63);
    return reinterpret_cast<Pair>(reinterpret_cast<PairBits>(v) & PairBits{magnitude, magnitude});
}

/// Barycentric weights 1 / prod_{j != k} 2 (x_k - x_j), scaled together so that the
/// largest is about 1: the weights are 2^shift times these. The products are kept as
/// mantissa and exponent, as they under- or overflow a double for long filters. Out of
/// line, as every step of a round of the exchange is (see levelled_error below).
[[gnu::noinline]] void barycentric_weights(const std::vector<double>& x,
                                           std::vector<double>* weights,
                                           std::vector<int>* exponents, int* shift) {
    const std::size_t n = x.size();
    weights->resize(n);
    exponents->resize(n);
    constexpr double high = 0x1p300;
    constexpr double low = 0x1p-300;
    // Two weights at a time (k and k + 1), so that their products' chains of
    // multiplications interleave; each is worked out exactly as on its own. Four
    // independent products per weight (lane u takes the factors j = u mod 4 in order),
    // brought back into range after every 64 factors (16 per product) when they leave
    // 2^-300 .. 2^300: 64 factors change them by at most 2^32 upwards and, with nodes at
    // least 1e-10 apart, 2^-520 downwards, well within a double's normal range. The
    // scaling is exact, so when it happens does not change the mantissas.
    for (std::size_t k = 0; k < n; k += 2) {
        const std::size_t lanes = std::min<std::size_t>(2, n - k);
        double p[2][4] = {{1.0, 1.0, 1.0, 1.0}, {1.0, 1.0, 1.0, 1.0}};
        int e[2] = {0, 0};
        const Pair xk_pair[2] = {{x[k], x[k]}, {x[k + lanes - 1], x[k + lanes - 1]}};
        // One block of weight k + l's factors [block, end), as a weight on its own.
        const auto block_of_one = [&](std::size_t l, std::size_t block, std::size_t end) {
            const std::size_t kl = k + l;
            const double xk = x[kl];
            const auto factor = [&](std::size_t j) { return j == kl ? 1.0 : 2.0 * (xk - x[j]); };
            double* q = p[l];
            std::size_t j = block;
            if (end == block + 16 && (kl < block || kl >= end)) {
                // A whole block without x_k: the same products, two at a time.
                Pair low_pair = {q[0], q[1]};
                Pair high_pair = {q[2], q[3]};
                for (; j < end; j += 4) {
                    low_pair *= Pair{2.0, 2.0} * (xk_pair[l] - load(x.data() + j));
                    high_pair *= Pair{2.0, 2.0} * (xk_pair[l] - load(x.data() + j + 2));
                }
                q[0] = low_pair[0];
                q[1] = low_pair[1];
                q[2] = high_pair[0];
                q[3] = high_pair[1];
            }
            for (; j + 4 <= end; j += 4) {
                q[0] *= factor(j);
                q[1] *= factor(j + 1);
                q[2] *= factor(j + 2);
                q[3] *= factor(j + 3);
            }
            for (; j < end; ++j) q[0] *= factor(j);
        };
        for (std::size_t block = 0; block < n; block += 16) {
            const std::size_t end = std::min(block + 16, n);
            if (lanes == 2 && end == block + 16 && (k + 1 < block || k >= end)) {
                // A whole block without x_k or x_{k+1}: both weights' products together.
                Pair low_pair[2] = {{p[0][0], p[0][1]}, {p[1][0], p[1][1]}};
                Pair high_pair[2] = {{p[0][2], p[0][3]}, {p[1][2], p[1][3]}};
                for (std::size_t j = block; j < end; j += 4) {
                    const Pair xj_low = load(x.data() + j);
                    const Pair xj_high = load(x.data() + j + 2);
                    low_pair[0] *= Pair{2.0, 2.0} * (xk_pair[0] - xj_low);
                    high_pair[0] *= Pair{2.0, 2.0} * (xk_pair[0] - xj_high);
                    low_pair[1] *= Pair{2.0, 2.0} * (xk_pair[1] - xj_low);
                    high_pair[1] *= Pair{2.0, 2.0} * (xk_pair[1] - xj_high);
                }
                for (std::size_t l = 0; l < 2; ++l) {
                    p[l][0] = low_pair[l][0];
                    p[l][1] = low_pair[l][1];
                    p[l][2] = high_pair[l][0];
                    p[l][3] = high_pair[l][1];
                }
            } else {
                for (std::size_t l = 0; l < lanes; ++l) block_of_one(l, block, end);
            }
            if (block % 64 != 48 && end != n) continue;
            for (std::size_t l = 0; l < lanes; ++l) {
                for (double& q : p[l]) {
                    const double magnitude = std::fabs(q);
                    if (magnitude > high || magnitude < low) {
                        int step = 0;
                        q = std::frexp(q, &step);
                        e[l] += step;
                    }
                }
            }
        }
        for (std::size_t l = 0; l < lanes; ++l) {
            // Each product to a mantissa in [0.5, 1) before they are multiplied together.
            double mantissa = 1.0;
            for (const double q : p[l]) {
                int step = 0;
                mantissa *= std::frexp(q, &step);
                e[l] += step;
            }
            (*weights)[k + l] = mantissa;
            (*exponents)[k + l] = e[l];
        }
    }
    *shift = *std::min_element(exponents->begin(), exponents->end());
    for (std::size_t k = 0; k < n; ++k) {
        (*weights)[k] = std::ldexp(1.0 / (*weights)[k], *shift - (*exponents)[k]);
    }
}

/// The polynomial through (x_k, y_k), k < count, from barycentric weights w (2^shift times
/// 1 / prod_{j != k} 2 (x_k - x_j)).
struct Interpolant {
    const std::vector<double>& x;
    const std::vector<double>& y;
    const std::vector<double>& w;
    std::size_t count;
    int shift;

    /// The value at t by the second (true) barycentric formula, sum c_k y_k / sum c_k with
    /// c_k = w_k / (t - x_k); where the denominator cancels (it is 1 / prod (t - x_k), tiny
    /// against its terms near the ends of long node sets), by the first: the product
    /// prod 2 (t - x_k) / 2 times the numerator.
    [[gnu::noinline]] double operator()(double t) const {
        // Two values at a time in vector registers (SSE2 natively, SIMD128 in WebAssembly),
        // four running sums of each kind: lane u of sums k = u mod 4, added in the end in
        // the order 0, 1, 2, 3.
        const Pair tt = {t, t};
        std::size_t k = 0;
        // c_k for four nodes with one division: 1 / (d0 d1) times d1 gives 1 / d0 and times
        // d0 gives 1 / d1 (the differences are at most 2 in size, and between distinct
        // points far from leaving a double's range when multiplied).
        // The sums taken as the terms are made, without storing them.
        Pair numerator[2] = {};
        Pair denominator[2] = {};
        Pair size[2] = {};
        for (; k + 4 <= count; k += 4) {
            const Pair d0 = tt - load(x.data() + k);
            const Pair d1 = tt - load(x.data() + k + 2);
            const Pair inverse = Pair{1.0, 1.0} / (d0 * d1);
            const Pair ck[2] = {load(w.data() + k) * (inverse * d1),
                                load(w.data() + k + 2) * (inverse * d0)};
            for (std::size_t half = 0; half < 2; ++half) {
                numerator[half] += ck[half] * load(y.data() + k + 2 * half);
                denominator[half] += ck[half];
                size[half] += absolute(ck[half]);
            }
        }
        for (; k < count; ++k) {
            const double ck = w[k] / (t - x[k]);
            numerator[0][0] += ck * y[k];
            denominator[0][0] += ck;
            size[0][0] += std::fabs(ck);
        }
        const double sum = numerator[0][0] + numerator[0][1] + numerator[1][0] + numerator[1][1];
        const double d =
            denominator[0][0] + denominator[0][1] + denominator[1][0] + denominator[1][1];
        const double magnitude = size[0][0] + size[0][1] + size[1][0] + size[1][1];
        const double value = sum / d;
        if (std::isfinite(value) && std::fabs(d) > 1e-8 * magnitude) return value;
        for (k = 0; k < count; ++k) {
            if (t == x[k]) return y[k];  // t is a node
        }
        double sum_again = sum;
        if (!std::isfinite(sum_again)) {
            // A product of two differences out of range: each c_k by its own division.
            sum_again = 0.0;
            for (k = 0; k < count; ++k) sum_again += w[k] / (t - x[k]) * y[k];
        }
        double product = 1.0;
        int e = 0;
        for (k = 0; k < count; ++k) {
            product *= 2.0 * (t - x[k]);
            if ((k & 15) == 15) {
                int step = 0;
                product = std::frexp(product, &step);
                e += step;
            }
        }
        return std::ldexp(product * sum_again, e - shift - 1);
    }
};

/// The grid as the steps of an exchange read it (RemezExchange's members).
struct Grid {
    const std::vector<double>& cycles;
    const std::vector<double>& desired;
    const std::vector<double>& weight;
    const std::vector<std::size_t>& bin;
    const std::vector<std::size_t>& band_start;
    bool even;  ///< an even length: A(F) = cos(pi F) P(cos 2 pi F)

    /// A(F) = Q(F) P(cos 2 pi F) with Q = 1 (odd lengths) or cos(pi F) (even lengths).
    double q(double f) const { return even ? std::cos(std::numbers::pi * f) : 1.0; }
};

/// The polynomial P through the extremal set at the levelled error: its nodes, values and
/// barycentric weights (for the first r nodes, the last dropped).
struct Levelled {
    std::vector<double> x, y, weight;
    std::vector<int> exponents;
    int shift = 0;
};

// The steps of a round of the exchange, each a function of its own: a WebAssembly engine
// that optimises a function once it has run a while uses the optimised code from the
// function's next call, so the later rounds of the first exchanges already run optimised;
// and it optimises these small functions far sooner than the one long function they made
// (some 0.1 s of an optimising compiler sharing the machine with the design).

/// The levelled error delta, W (D - A) = (-1)^k delta at every extremal frequency, and P
/// through the first r extremals (degree r - 1) at it; not finite when the arithmetic
/// fails.
[[gnu::noinline]] double levelled_error(const Grid& grid, const std::vector<std::size_t>& extremal,
                                        Levelled* set) {
    const std::size_t count = extremal.size();
    const std::size_t r = count - 1;
    set->x.resize(count);
    set->y.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        set->x[k] = std::cos(2.0 * std::numbers::pi * grid.cycles[extremal[k]]);
    }
    barycentric_weights(set->x, &set->weight, &set->exponents, &set->shift);
    double numerator = 0.0;
    double denominator = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = extremal[k];
        const double qk = grid.q(grid.cycles[i]);
        const double alternate = k % 2 == 0 ? 1.0 : -1.0;
        numerator += set->weight[k] * grid.desired[i] / qk;
        denominator += alternate * set->weight[k] / (grid.weight[i] * qk);
    }
    const double delta = numerator / denominator;
    if (!std::isfinite(delta)) return delta;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = extremal[k];
        const double alternate = k % 2 == 0 ? 1.0 : -1.0;
        set->y[k] = (grid.desired[i] - alternate * delta / grid.weight[i]) / grid.q(grid.cycles[i]);
    }
    // P through the first r points: drop the last node from the weights.
    for (std::size_t k = 0; k < r; ++k) set->weight[k] *= 2.0 * (set->x[k] - set->x[r]);
    return delta;
}

/// The coefficients h from P: its cosine coefficients c_m from its samples at sample_x (one
/// FFT); A = P for odd lengths, h[centre +/- m] = c_m / 2; A = cos(theta / 2) P for even
/// ones, whose cos((t + 1/2) theta) coefficient is (c_t + c_{t+1}) / 2 (c_0 + c_1 / 2 for
/// t = 0), h[centre +/- (t + 1/2)] half of it.
[[gnu::noinline]] void filter_coefficients(const Interpolant& p,
                                           const std::vector<double>& sample_x,
                                           RealTransform* transform, std::vector<double>* c,
                                           std::vector<double>* h) {
    const std::size_t coefficient_size = transform->size();
    const std::size_t r = c->size();
    const std::size_t taps = h->size();
    const bool even = taps % 2 == 0;
    const std::span<double> input = transform->input();
    for (std::size_t j = 0; j < sample_x.size(); ++j) {
        input[j] = p(sample_x[j]);
        if (j > 0 && j < coefficient_size - j) input[coefficient_size - j] = input[j];
    }
    const std::span<const std::complex<double>> spectrum = transform->run();
    const double scale = 1.0 / static_cast<double>(coefficient_size);
    for (std::size_t m = 0; m < r; ++m) (*c)[m] = spectrum[m].real() * scale * (m == 0 ? 1.0 : 2.0);
    for (std::size_t t = 0; t < r; ++t) {
        double value = 0.0;
        std::size_t upper = 0;
        if (even) {
            const double next = t + 1 < r ? (*c)[t + 1] : 0.0;
            value = t == 0 ? ((*c)[0] + next / 2.0) / 2.0 : ((*c)[t] + next) / 4.0;
            upper = r + t;
        } else {
            value = t == 0 ? (*c)[0] : (*c)[t] / 2.0;
            upper = r - 1 + t;
        }
        (*h)[upper] = value;
        (*h)[taps - 1 - upper] = value;
    }
}

/// The weighted error W (D - A) on the grid, A from the FFT's bins (`amplitude`) or summed
/// directly between them.
[[gnu::noinline]] void grid_error(const Grid& grid, std::span<const double> amplitude,
                                  const std::vector<double>& h, std::vector<double>* error) {
    const std::size_t points = grid.cycles.size();
    for (std::size_t i = 0; i < points; ++i) {
        const double a =
            grid.bin[i] == no_bin ? amplitude_at(h, grid.cycles[i]) : amplitude[grid.bin[i]];
        (*error)[i] = grid.weight[i] * (grid.desired[i] - a);
    }
}

/// The weighted error from the polynomial itself, only near the exchange's own accuracy:
/// every 4th grid point, the band edges and the current extremals, the rest left out
/// (zero); later exchanges, from extremals close to the optimum, are exact again.
[[gnu::noinline]] void polynomial_error(const Grid& grid, const Interpolant& p,
                                        const std::vector<std::size_t>& extremal,
                                        std::vector<double>* error) {
    std::fill(error->begin(), error->end(), 0.0);
    const auto evaluate = [&](std::size_t i) {
        const double f = grid.cycles[i];
        const double a = grid.q(f) * p(std::cos(2.0 * std::numbers::pi * f));
        (*error)[i] = grid.weight[i] * (grid.desired[i] - a);
    };
    for (std::size_t i = 0; i < error->size(); i += 4) evaluate(i);
    for (std::size_t b = 0; b + 1 < grid.band_start.size(); ++b) {
        evaluate(grid.band_start[b]);
        evaluate(grid.band_start[b + 1] - 1);
    }
    for (const std::size_t i : extremal) evaluate(i);
}

/// The largest weighted error on the grid; NaN when one is not finite.
[[gnu::noinline]] double largest_error(const std::vector<double>& error) {
    double largest = 0.0;
    bool finite = true;
    for (const double e : error) {
        finite = finite && std::isfinite(e);
        largest = std::max(largest, std::fabs(e));
    }
    return finite ? largest : std::numeric_limits<double>::quiet_NaN();
}

/// The alternating extremal set for the next exchange from the weighted error on the
/// grid: local extremes about the levelled error or more, same signs merged (the larger
/// kept), then the smallest dropped until `count` remain. False when fewer remain.
[[gnu::noinline]] bool exchange(const std::vector<std::size_t>& band_start,
                                const std::vector<double>& error, double levelled,
                                std::size_t count, std::vector<std::size_t>* extremals) {
    // Between two old extremal frequencies lies a local extreme of at least the levelled
    // error; rounding can put it a little below, so only clearly smaller ones are left out.
    std::vector<std::size_t> found;
    const double threshold = levelled / 2.0;
    for (std::size_t b = 0; b + 1 < band_start.size(); ++b) {
        const std::size_t first = band_start[b];
        const std::size_t end = band_start[b + 1];
        for (std::size_t i = first; i < end; ++i) {
            const double e = error[i];
            if (!(std::fabs(e) >= threshold)) continue;
            const double before = i > first ? error[i - 1] : 0.0;
            const double after = i + 1 < end ? error[i + 1] : 0.0;
            const bool extreme = e > 0.0 ? e >= before && e >= after : e <= before && e <= after;
            if (extreme) found.push_back(i);
        }
    }
    const auto sign = [&](std::size_t i) { return error[i] > 0.0; };
    const auto size_of = [&](std::size_t i) { return std::fabs(error[i]); };
    // Merge neighbours of the same sign, keeping the larger error.
    std::vector<std::size_t> alternating;
    for (const std::size_t i : found) {
        if (!alternating.empty() && sign(alternating.back()) == sign(i)) {
            if (size_of(i) > size_of(alternating.back())) alternating.back() = i;
        } else {
            alternating.push_back(i);
        }
    }
    while (alternating.size() > count) {
        if (alternating.size() == count + 1) {
            // One too many: drop the end with the smaller error.
            if (size_of(alternating.front()) < size_of(alternating.back())) {
                alternating.erase(alternating.begin());
            } else {
                alternating.pop_back();
            }
            continue;
        }
        const auto smallest =
            std::min_element(alternating.begin(), alternating.end(),
                             [&](std::size_t a, std::size_t b) { return size_of(a) < size_of(b); });
        const auto at = alternating.erase(smallest);
        // Removing an inner point leaves two neighbours of the same sign: keep the larger.
        if (at != alternating.begin() && at != alternating.end() && sign(*(at - 1)) == sign(*at)) {
            if (size_of(*at) > size_of(*(at - 1))) *(at - 1) = *at;
            alternating.erase(at);
        }
    }
    if (alternating.size() < count) return false;
    *extremals = std::move(alternating);
    return true;
}

}  // namespace

void RemezExchange::make_grid(std::span<const RemezBand> bands, bool even_length) {
    cycles_.clear();
    desired_.clear();
    weight_.clear();
    bin_.clear();
    band_start_.clear();
    const auto size = static_cast<double>(fft_size_);
    const auto add = [&](double f, const RemezBand& band, std::size_t b) {
        cycles_.push_back(f);
        desired_.push_back(band.desired);
        weight_.push_back(band.weight);
        bin_.push_back(b);
    };
    for (const RemezBand& band : bands) {
        band_start_.push_back(cycles_.size());
        // An even-length filter is zero at half the rate whatever its coefficients.
        const double upper = even_length ? std::min(band.upper, 0.5 - 0.5 / size) : band.upper;
        add(band.lower, band, no_bin);
        if (upper > band.lower) {
            // Every bin between the edges, and three more points between the bins within
            // fine_steps of an edge that faces a transition band.
            const double fine_below = band.lower > 0.0 ? band.lower * size + fine_steps : -1.0;
            const double fine_above = upper < 0.5 ? upper * size - fine_steps : upper * size + 1.0;
            const double first = std::floor(band.lower * size);
            const double last = std::ceil(upper * size);
            for (double j = first; j < last; j += 1.0) {
                if (j > band.lower * size) add(j / size, band, static_cast<std::size_t>(j));
                if (j + 1.0 <= fine_below || j >= fine_above) {
                    for (int quarter = 1; quarter < 4; ++quarter) {
                        const double f = (j + quarter / 4.0) / size;
                        if (f > band.lower && f < upper) add(f, band, no_bin);
                    }
                }
            }
            add(upper, band, no_bin);
        }
    }
    band_start_.push_back(cycles_.size());
}

RemezResult RemezExchange::design(std::size_t taps, std::span<const RemezBand> bands,
                                  std::span<const double> start) {
    RemezResult result;
    if (taps < 3 || bands.empty()) return result;
    const bool even = taps % 2 == 0;
    const std::size_t r = even ? taps / 2 : (taps + 1) / 2;  // cosine terms
    const std::size_t count = r + 1;                         // extremal frequencies
    const std::size_t fft_size = 2 * fast_fft_size(8 * taps);
    if (fft_size != fft_size_ || !transform_) {
        fft_size_ = fft_size;
        transform_.reset();
        transform_.emplace(fft_size);
    }
    make_grid(bands, even);
    const Grid grid{cycles_, desired_, weight_, bin_, band_start_, even};
    const std::size_t points = cycles_.size();
    if (points < count) return result;

    // P sampled at theta_j = 2 pi j / size for its cosine coefficients: P(cos theta) =
    // sum_m c_m cos(m theta), and the DFT of the samples is size c_0, size c_m / 2.
    const std::size_t coefficient_size = 2 * fast_fft_size(r);
    if (!coefficients_ || coefficients_->size() != coefficient_size)
        coefficients_.emplace(coefficient_size);
    std::vector<double> sample_x(coefficient_size / 2 + 1);
    for (std::size_t j = 0; j < sample_x.size(); ++j) {
        sample_x[j] = std::cos(2.0 * std::numbers::pi * static_cast<double>(j) /
                               static_cast<double>(coefficient_size));
    }
    std::vector<double> c(r);

    // An even length's last extremal falls short of half the rate where its last band
    // reaches there (its amplitude is zero at F = 1/2).
    const bool short_end = even && bands.back().upper >= 0.5;
    std::vector<std::size_t> extremal =
        initial_extremals(cycles_, weight_, band_start_, count, start, short_end);
    Levelled levelled_set;
    std::vector<double> error(points);
    std::vector<double> h(taps);
    double previous_levelled = 0.0;
    for (int iteration = 1; iteration <= max_iterations; ++iteration) {
        result.iterations = iteration;
        const double delta = levelled_error(grid, extremal, &levelled_set);
        if (!std::isfinite(delta)) return result;
        const Interpolant p{levelled_set.x, levelled_set.y, levelled_set.weight, r,
                            levelled_set.shift};
        filter_coefficients(p, sample_x, &*coefficients_, &c, &h);

        // The weighted error on the grid, from the coefficients by FFT.
        const double levelled = std::fabs(delta);
        grid_error(grid, transform_->run(h), h, &error);
        // At the extremal frequencies the error is +/- delta. Where it is not, the
        // polynomial is so large in the transition bands (early exchanges from a poor start)
        // that the coefficients' rounding drowns the error: take it from the polynomial
        // itself on the grid instead, O(grid x taps) for this exchange.
        double mismatch = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            mismatch = std::max(mismatch, std::fabs(std::fabs(error[extremal[k]]) - levelled));
        }
        if (!(mismatch <= 0.1 * levelled)) {
            ++result.polynomial_evaluations;
            polynomial_error(grid, p, extremal, &error);
        }
        const double largest = largest_error(error);
        if (!std::isfinite(largest)) return result;
        result.weighted_error = largest;
        // Converged; or, when the exchange circles without closing the last fraction, as
        // good as: the optimum lies between the levelled and the largest error.
        if (largest <= levelled * (1.0 + convergence_tolerance) ||
            (iteration >= max_iterations / 2 && largest <= levelled * (1.0 + stalled_tolerance))) {
            result.converged = true;
            break;
        }
        // The levelled error grows from one exchange to the next; a fall means the
        // arithmetic has broken down.
        if (levelled < previous_levelled * (1.0 - 1e-6)) return result;
        previous_levelled = levelled;
        if (!exchange(band_start_, error, levelled, count, &extremal)) return result;
    }
    if (!result.converged) return result;
    result.h = std::move(h);
    result.extremals.reserve(count);
    for (const std::size_t i : extremal) result.extremals.push_back(cycles_[i]);
    return result;
}

RemezResult remez(std::size_t taps, std::span<const RemezBand> bands,
                  std::span<const double> start) {
    RemezExchange exchange;
    return exchange.design(taps, bands, start);
}

}  // namespace quillmere::inline v2::design
