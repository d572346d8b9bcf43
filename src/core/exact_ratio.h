// Exact arithmetic on the ratio a request asks for: the requested output rate over the
// input rate, both doubles, taken as the exact rational number they are, and the relative
// error of a cascade's overall ratio P/Q against it, compared without rounding.
//
// The new searches (best accuracy, many-stage min-cost, the rate tolerance) rank cascades by
// this exact error, so that which of two cascades is nearer the requested rate never
// depends on the order of the roundings that compute an achieved rate. The reports still
// show the achieved rate as the solvers compute it in double.
#pragma once

#include <cstdint>

namespace quillmere::inline v2::core {

/// An unsigned integer of 384 bits, enough for every product below without overflow.
struct Wide {
    std::uint64_t limb[6] = {0, 0, 0, 0, 0, 0};  ///< least significant first

    static Wide of(unsigned __int128 value);
    friend Wide operator+(const Wide& a, const Wide& b);
    /// a - b for a >= b.
    friend Wide operator-(const Wide& a, const Wide& b);
    friend Wide operator*(const Wide& a, std::uint64_t b);
    friend Wide operator*(const Wide& a, unsigned __int128 b);
    Wide shifted_left(int bits) const;
    friend int compare(const Wide& a, const Wide& b);
    friend bool operator<(const Wide& a, const Wide& b) { return compare(a, b) < 0; }
    friend bool operator<=(const Wide& a, const Wide& b) { return compare(a, b) <= 0; }
    friend bool operator==(const Wide& a, const Wide& b) { return compare(a, b) == 0; }
};

/// -1, 0 or 1 as a is below, equal to or above b.
int compare(const Wide& a, const Wide& b);

/// The requested ratio output / input as an exact fraction A/B of integers below 2^100.
struct ExactRatio {
    unsigned __int128 a = 1;
    unsigned __int128 b = 1;
    double approx = 1.0;  ///< output / input in double

    /// The ratio of two positive finite doubles (rates from 1 Hz to 1e13 Hz, or any two
    /// whose quotient keeps both integers below 2^100).
    static ExactRatio of(double input_rate, double output_rate);
};

/// The exact relative error |P/Q - A/B| / (A/B) of an overall ratio P/Q: deviation / (Q A)
/// with deviation = |P B - Q A|. P and Q are below 2^64.
struct ExactError {
    Wide deviation;
    std::uint64_t q = 1;
    unsigned __int128 a = 1;  ///< the ratio's A
    double approx = 0.0;      ///< the error in double, for display and quick comparisons
};

ExactError exact_error(const ExactRatio& ratio, std::uint64_t p, std::uint64_t q);

/// -1, 0 or 1 as the error e is smaller than, equal to or larger than f.
int compare_errors(const ExactError& e, const ExactError& f);

/// Whether e <= limit, limit being a non-negative double taken exactly.
bool error_at_most(const ExactError& e, double limit);
/// Whether e < limit, limit being a non-negative double taken exactly.
bool error_below(const ExactError& e, double limit);

/// The tie rule of the accuracy order. A double carries 53 bits; the achieved output rate
/// is input x (L1/M1 x L2/M2) after four roundings (two quotients, two products), each
/// within half a unit in the last place, so it is within 2 DBL_EPSILON (1 + E) of the exact
/// rate, E being the exact relative error, and the relative error computed from it is
/// within the same of E. Two cascades whose exact errors differ by less than twice that
/// can be reported in either order: errors within ERROR_TIE of each other, scaled by
/// (1 + the smaller error), count as equal. ERROR_TIE = 4 DBL_EPSILON = 2^-50.
inline constexpr int ERROR_TIE_EXPONENT = -50;

/// Whether e is tied with or better than the best error: e <= best + 2^-50 (1 + best).
bool error_within_tie(const ExactError& e, const ExactError& best);

/// A limit on the relative error of the output rate that a result must meet.
struct Tolerance {
    /// The largest relative error accepted, >= 0 (1e-6, or 5 ppm as 5e-6).
    double relative = 0.0;
};

}  // namespace quillmere::inline v2::core
