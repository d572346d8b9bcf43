// Measurement of designed filters by FFT (KissFFT's header-only C++ template).
#include "design/response.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <kissfft.hh>
#include <limits>
#include <numbers>

namespace quillmere::inline v2::design {

namespace {

/// The vertex of the parabola through (-1, y0), (0, y1), (1, y2): its offset and value.
struct Vertex {
    double offset = 0.0;
    double value = 0.0;
};

Vertex parabola_vertex(double y0, double y1, double y2) {
    const double curvature = y0 - 2.0 * y1 + y2;
    if (curvature == 0.0) return {0.0, y1};
    const double offset = 0.5 * (y0 - y2) / curvature;
    return {offset, y1 - 0.25 * (y0 - y2) * offset};
}

/// The refined extreme around grid point j (0 < j < last) if the vertex stays within
/// [lo, hi] (in grid units) and within one point of j; otherwise the grid value.
double refined(std::span<const double> a, std::size_t j, double lo, double hi) {
    if (j == 0 || j + 1 >= a.size()) return a[j];
    const Vertex v = parabola_vertex(a[j - 1], a[j], a[j + 1]);
    const double at = static_cast<double>(j) + v.offset;
    if (std::fabs(v.offset) > 1.0 || at < lo || at > hi) return a[j];
    return v.value;
}

/// The top of f's single peak in [lo, hi], near `mid` (f(mid) at least f at both ends),
/// by successive parabolic interpolation: the vertex of the parabola through the three
/// points replaces the end on its side (or becomes the end when it is lower than the
/// middle), until the bracket is a millionth of its width or the parabola turns.
template <typename F>
double parabolic_maximum(F&& f, double lo, double mid, double hi) {
    double f_lo = f(lo);
    double f_mid = f(mid);
    double f_hi = f(hi);
    double best = std::max({f_lo, f_mid, f_hi});
    const double width = hi - lo;
    for (int i = 0; i < 20 && hi - lo > 1e-6 * width; ++i) {
        const double left = (mid - lo) * (f_mid - f_hi);
        const double right = (mid - hi) * (f_mid - f_lo);
        const double denominator = left - right;
        if (!(denominator != 0.0)) break;
        double x = mid - 0.5 * ((mid - lo) * left - (mid - hi) * right) / denominator;
        // Keep the new point inside and off the middle: halfway into the longer side else.
        if (!(x > lo && x < hi) || std::fabs(x - mid) < 1e-9 * width) {
            x = mid - lo > hi - mid ? (lo + mid) / 2.0 : (mid + hi) / 2.0;
        }
        const double f_x = f(x);
        best = std::max(best, f_x);
        if (f_x >= f_mid) {
            // The new point is the new middle; the old middle bounds its side.
            if (x > mid) {
                lo = mid;
                f_lo = f_mid;
            } else {
                hi = mid;
                f_hi = f_mid;
            }
            mid = x;
            f_mid = f_x;
        } else if (x > mid) {
            hi = x;
            f_hi = f_x;
        } else {
            lo = x;
            f_lo = f_x;
        }
    }
    return best;
}

/// Cubic (four-point Lagrange) interpolation of samples at x (in sample units); samples
/// before the first mirror about it, as the amplitude is even in frequency.
double cubic_at(const std::vector<double>& s, double x) {
    const auto i = static_cast<std::int64_t>(std::floor(x));
    const auto last = static_cast<std::int64_t>(s.size()) - 1;
    const auto at = [&](std::int64_t k) {
        k = k < 0 ? -k : k;
        return s[static_cast<std::size_t>(std::min(k, last))];
    };
    const double t = x - static_cast<double>(i);
    return -at(i - 1) * t * (t - 1.0) * (t - 2.0) / 6.0 +
           at(i) * (t + 1.0) * (t - 1.0) * (t - 2.0) / 2.0 -
           at(i + 1) * (t + 1.0) * t * (t - 2.0) / 2.0 +
           at(i + 2) * (t + 1.0) * t * (t - 1.0) / 6.0;
}

}  // namespace

std::size_t fast_fft_size(std::size_t minimum) {
    if (minimum <= 1) return 1;
    const std::size_t limit = std::numeric_limits<std::size_t>::max() / 5;
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (std::size_t p5 = 1; p5 < best && p5 <= limit; p5 *= 5) {
        for (std::size_t p35 = p5; p35 < best && p35 <= limit; p35 *= 3) {
            std::size_t n = p35;
            while (n < minimum && n <= limit) n *= 2;
            if (n >= minimum) best = std::min(best, n);
        }
    }
    return best;
}

double amplitude_at(std::span<const double> h, double cycles) {
    // sum over the pairs k, n-1-k of 2 h[k] cos(2 pi F (centre - k)), from the middle out.
    // The cosines come from four rotating phasors, each for every fourth pair and turned by
    // four pairs' angle at a time, so that the four rotations do not wait on each other;
    // they are recomputed exactly every 256 pairs.
    const std::size_t n = h.size();
    const std::size_t pairs = n / 2;
    const double first = n % 2 == 1 ? 1.0 : 0.5;  // distance of the innermost pair
    const double omega = 2.0 * std::numbers::pi * cycles;
    const double step_re = std::cos(4.0 * omega);
    const double step_im = std::sin(4.0 * omega);
    double re[4] = {};
    double im[4] = {};
    double sum[4] = {n % 2 == 1 ? h[n / 2] : 0.0, 0.0, 0.0, 0.0};
    std::size_t p = 0;
    for (; p + 4 <= pairs; p += 4) {
        for (std::size_t j = 0; j < 4; ++j) {
            if (p % 256 == 0) {
                const double angle = omega * (first + static_cast<double>(p + j));
                re[j] = std::cos(angle);
                im[j] = std::sin(angle);
            } else {
                const double turned = re[j] * step_re - im[j] * step_im;
                im[j] = re[j] * step_im + im[j] * step_re;
                re[j] = turned;
            }
            sum[j] += 2.0 * h[pairs - 1 - p - j] * re[j];
        }
    }
    for (; p < pairs; ++p) {
        sum[0] += 2.0 * h[pairs - 1 - p] * std::cos(omega * (first + static_cast<double>(p)));
    }
    return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

struct RealTransform::State {
    explicit State(std::size_t n) : fft(n / 2, false), input(n), spectrum(n / 2) {}
    kissfft<double> fft;
    std::vector<double> input;
    std::vector<std::complex<double>> spectrum;
};

RealTransform::RealTransform(std::size_t size) : state_(std::make_unique<State>(size)) {}
RealTransform::~RealTransform() = default;
RealTransform::RealTransform(RealTransform&&) noexcept = default;
RealTransform& RealTransform::operator=(RealTransform&&) noexcept = default;

std::size_t RealTransform::size() const {
    return state_->input.size();
}

std::span<double> RealTransform::input() {
    return state_->input;
}

std::span<const std::complex<double>> RealTransform::run() {
    state_->fft.transform_real(state_->input.data(), state_->spectrum.data());
    return state_->spectrum;
}

AmplitudeTransform::AmplitudeTransform(std::size_t size) : transform_(size) {}

std::span<double> AmplitudeTransform::run(std::span<const double> h) {
    const std::size_t n = h.size();
    const std::size_t size = transform_.size();
    const std::size_t half = size / 2;
    // The filter centred on sample 0 (a half-sample later for even lengths), wrapped around:
    // the FFT is then A itself for odd lengths and A turned by half a bin for even ones.
    const std::span<double> buffer = transform_.input();
    std::fill(buffer.begin(), buffer.end(), 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t index = k >= n / 2 ? k - n / 2 : size - (n / 2 - k);
        buffer[index] = h[k];
    }
    const std::span<const std::complex<double>> spectrum = transform_.run();
    // The amplitudes overwrite the input, which is no longer needed.
    buffer[0] = spectrum[0].real();
    if (n % 2 == 1) {
        for (std::size_t j = 1; j < half; ++j) buffer[j] = spectrum[j].real();
        buffer[half] = spectrum[0].imag();
    } else {
        // A = Re(X exp(-j pi j / size)); the rotation recomputed exactly every 1024 bins.
        const double angle = -std::numbers::pi / static_cast<double>(size);
        const std::complex<double> step = std::polar(1.0, angle);
        std::complex<double> rotation;
        for (std::size_t j = 1; j < half; ++j) {
            if (j % 1024 == 1) {
                rotation = std::polar(1.0, angle * static_cast<double>(j));
            } else {
                rotation *= step;
            }
            buffer[j] = (spectrum[j] * rotation).real();
        }
        buffer[half] = 0.0;
    }
    return buffer.first(half + 1);
}

namespace {

/// The grid's local extremes within `near_edge` bins of an edge, where the ripples narrow
/// to a few bins: refined by direct evaluation once the grid's extremes are known.
struct EdgeExtremes {
    std::vector<std::size_t> pass_tops;
    std::vector<std::size_t> pass_bottoms;
    std::vector<std::size_t> stop_tops;
};

/// The extremes of the amplitudes on the grid (bins 0 to half the rate), each refined by the
/// parabola through its neighbours except near an edge, into *e; those near an edge into
/// *near. A function of its own, so that a WebAssembly engine that optimises a function once
/// it has run a while optimises this loop soon (see remez.cpp).
[[gnu::noinline]] void scan_grid(std::span<const double> a, double pass_bin, double stop_bin,
                                 Extremes* e, EdgeExtremes* near) {
    const std::size_t last = a.size() - 1;  // the bin at half the rate
    const double half_bin = static_cast<double>(last);
    const double near_edge = 32.0;
    for (std::size_t j = 0; j <= last; ++j) {
        const double y = a[j];
        const double before = j > 0 ? a[j - 1] : (j < last ? a[j + 1] : y);
        const double after = j < last ? a[j + 1] : before;
        const double magnitude = std::fabs(y);
        const bool magnitude_peak = magnitude >= std::fabs(before) && magnitude >= std::fabs(after);
        const auto at = static_cast<double>(j);
        // Near an edge the parabola through three grid points can overshoot a narrow lobe:
        // the search on the exact response below refines those instead.
        const bool near_pass_edge = at <= pass_bin && at + near_edge >= pass_bin;
        const bool near_stop_edge = at >= stop_bin && at <= stop_bin + near_edge;
        const bool parabola = !near_pass_edge && !near_stop_edge;
        e->peak =
            std::max(e->peak, magnitude_peak && parabola ? std::fabs(refined(a, j, 0.0, half_bin))
                                                         : magnitude);
        if (at <= pass_bin) {
            const bool top = y >= before && y >= after;
            const bool bottom = y <= before && y <= after;
            e->passband_max =
                std::max(e->passband_max, top && parabola ? refined(a, j, 0.0, pass_bin) : y);
            e->passband_min =
                std::min(e->passband_min, bottom && parabola ? refined(a, j, 0.0, pass_bin) : y);
            if (top && near_pass_edge) near->pass_tops.push_back(j);
            if (bottom && near_pass_edge) near->pass_bottoms.push_back(j);
        }
        if (at >= stop_bin) {
            e->stopband_max =
                std::max(e->stopband_max, magnitude_peak && parabola
                                              ? std::fabs(refined(a, j, stop_bin, half_bin))
                                              : magnitude);
            if (magnitude_peak && near_stop_edge) near->stop_tops.push_back(j);
        }
    }
}

}  // namespace

Extremes measure_lowpass(std::span<const double> h, double gain, double rate_hz, double passband_hz,
                         double stopband_hz, double cascade_passband_hz, PassbandSamples* samples) {
    const std::size_t size = 2 * fast_fft_size(std::max<std::size_t>(4 * h.size(), 32));
    AmplitudeTransform transform(size);
    // The amplitudes divided by the gain, in the transform's own buffer.
    const std::span<double> a = transform.run(h);
    const double inverse_gain = 1.0 / gain;
    for (double& value : a) value *= inverse_gain;
    const std::size_t last = a.size() - 1;  // the bin at half the rate
    const double bins_per_hz = static_cast<double>(size) / rate_hz;
    const double pass_bin = passband_hz * bins_per_hz;
    const double stop_bin = stopband_hz * bins_per_hz;
    const double half_bin = static_cast<double>(last);
    const auto amplitude = [&](double bin) {
        return amplitude_at(h, bin / static_cast<double>(size)) * inverse_gain;
    };

    Extremes e;
    const double at_pass = amplitude(pass_bin);
    const double at_stop = amplitude(stop_bin);
    e.passband_max = at_pass;
    e.passband_min = at_pass;
    e.stopband_max = std::fabs(at_stop);
    e.peak = std::max(std::fabs(at_pass), std::fabs(at_stop));
    EdgeExtremes near;
    scan_grid(a, pass_bin, stop_bin, &e, &near);
    // Near the edges: every extreme that could pass the grid's after refinement is found
    // between its neighbours on the exact response.
    const auto search = [&](std::size_t j, double lo, double hi, double sign) {
        const double from = std::max(lo, static_cast<double>(j) - 1.0);
        const double to = std::min(hi, static_cast<double>(j) + 1.0);
        const auto at = static_cast<double>(j);
        return sign *
               parabolic_maximum([&](double bin) { return sign * amplitude(bin); }, from, at, to);
    };
    for (const std::size_t j : near.pass_tops) {
        if (a[j] - 1.0 >= 0.8 * (e.passband_max - 1.0)) {
            e.passband_max = std::max(e.passband_max, search(j, 0.0, pass_bin, 1.0));
        }
    }
    for (const std::size_t j : near.pass_bottoms) {
        if (1.0 - a[j] >= 0.8 * (1.0 - e.passband_min)) {
            e.passband_min = std::min(e.passband_min, search(j, 0.0, pass_bin, -1.0));
        }
    }
    for (const std::size_t j : near.stop_tops) {
        if (std::fabs(a[j]) >= 0.8 * e.stopband_max) {
            const double sign = a[j] >= 0.0 ? 1.0 : -1.0;
            e.stopband_max =
                std::max(e.stopband_max, std::fabs(search(j, stop_bin, half_bin, sign)));
        }
    }
    e.peak = std::max({e.peak, e.passband_max, e.stopband_max});
    if (samples != nullptr) {
        samples->spacing_hz = rate_hz / static_cast<double>(size);
        const auto count = static_cast<std::size_t>(std::min(
            std::floor(cascade_passband_hz * bins_per_hz) + 3.0, static_cast<double>(last + 1)));
        samples->values.assign(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(count));
        samples->edge_hz = cascade_passband_hz;
        samples->at_edge = amplitude_at(h, cascade_passband_hz / rate_hz) * inverse_gain;
    }
    return e;
}

double cascade_ripple_db(std::span<const PassbandSamples* const> stages) {
    if (stages.empty()) return 0.0;
    const PassbandSamples* finest = stages.front();
    for (const PassbandSamples* s : stages) {
        if (s->spacing_hz < finest->spacing_hz) finest = s;
    }
    const double edge = finest->edge_hz;
    double highest = 0.0;
    double lowest = std::numeric_limits<double>::infinity();
    const auto visit = [&](double f, bool at_edge) {
        double product = 1.0;
        for (const PassbandSamples* s : stages) {
            product *= at_edge ? s->at_edge : cubic_at(s->values, f / s->spacing_hz);
        }
        highest = std::max(highest, product);
        lowest = std::min(lowest, product);
    };
    for (std::size_t j = 0;; ++j) {
        const double f = static_cast<double>(j) * finest->spacing_hz;
        if (!(f < edge)) break;
        visit(f, false);
    }
    visit(edge, true);
    if (!(lowest > 0.0)) return std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(highest / lowest);
}

}  // namespace quillmere::inline v2::design
