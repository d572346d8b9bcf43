#include "core/exact_ratio.h"

#include <cmath>

namespace quillmere::inline v2::core {

namespace {

using u128 = unsigned __int128;
constexpr int LIMBS = 6;

/// A positive finite double as mantissa x 2^exponent with an integer mantissa below 2^53.
struct Split {
    std::uint64_t mantissa;
    int exponent;
};

Split split(double value) {
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);  // value = fraction x 2^exponent
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    while (mantissa != 0 && (mantissa & 1) == 0) {
        mantissa >>= 1;
        ++exponent;
    }
    return {mantissa, exponent};
}

}  // namespace

Wide Wide::of(u128 value) {
    Wide w;
    w.limb[0] = static_cast<std::uint64_t>(value);
    w.limb[1] = static_cast<std::uint64_t>(value >> 64);
    return w;
}

Wide operator+(const Wide& a, const Wide& b) {
    Wide sum;
    u128 carry = 0;
    for (int i = 0; i < LIMBS; ++i) {
        const u128 t = static_cast<u128>(a.limb[i]) + b.limb[i] + carry;
        sum.limb[i] = static_cast<std::uint64_t>(t);
        carry = t >> 64;
    }
    return sum;
}

Wide operator-(const Wide& a, const Wide& b) {
    Wide difference;
    std::uint64_t borrow = 0;
    for (int i = 0; i < LIMBS; ++i) {
        const u128 subtrahend = static_cast<u128>(b.limb[i]) + borrow;
        const u128 minuend = a.limb[i];
        if (minuend >= subtrahend) {
            difference.limb[i] = static_cast<std::uint64_t>(minuend - subtrahend);
            borrow = 0;
        } else {
            difference.limb[i] =
                static_cast<std::uint64_t>((static_cast<u128>(1) << 64) + minuend - subtrahend);
            borrow = 1;
        }
    }
    return difference;
}

Wide operator*(const Wide& a, std::uint64_t b) {
    Wide product;
    u128 carry = 0;
    for (int i = 0; i < LIMBS; ++i) {
        const u128 t = static_cast<u128>(a.limb[i]) * b + carry;
        product.limb[i] = static_cast<std::uint64_t>(t);
        carry = t >> 64;
    }
    return product;
}

Wide operator*(const Wide& a, u128 b) {
    const Wide low = a * static_cast<std::uint64_t>(b);
    const Wide high = a * static_cast<std::uint64_t>(b >> 64);
    return low + high.shifted_left(64);
}

Wide Wide::shifted_left(int bits) const {
    Wide result;
    const int limbs = bits / 64;
    const int rest = bits % 64;
    for (int i = LIMBS - 1; i >= limbs; --i) {
        std::uint64_t v = limb[i - limbs] << rest;
        if (rest != 0 && i - limbs - 1 >= 0) v |= limb[i - limbs - 1] >> (64 - rest);
        result.limb[i] = v;
    }
    return result;
}

int compare(const Wide& a, const Wide& b) {
    for (int i = LIMBS - 1; i >= 0; --i) {
        if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
}

ExactRatio ExactRatio::of(double input_rate, double output_rate) {
    const Split in = split(input_rate);
    const Split out = split(output_rate);
    // output / input = (out.mantissa / in.mantissa) x 2^shift
    const int shift = out.exponent - in.exponent;
    ExactRatio ratio;
    ratio.a = static_cast<u128>(out.mantissa) << (shift > 0 ? shift : 0);
    ratio.b = static_cast<u128>(in.mantissa) << (shift < 0 ? -shift : 0);
    ratio.approx = output_rate / input_rate;
    return ratio;
}

ExactError exact_error(const ExactRatio& ratio, std::uint64_t p, std::uint64_t q) {
    const Wide pb = Wide::of(ratio.b) * p;
    const Wide qa = Wide::of(ratio.a) * q;
    ExactError e;
    e.deviation = pb < qa ? qa - pb : pb - qa;
    e.q = q;
    e.a = ratio.a;
    const double value = static_cast<double>(p) / static_cast<double>(q);
    e.approx = std::fabs(value - ratio.approx) / ratio.approx;
    return e;
}

int compare_errors(const ExactError& e, const ExactError& f) {
    // e.dev / (e.q A) against f.dev / (f.q A)
    return compare(e.deviation * f.q, f.deviation * e.q);
}

namespace {

/// Compares deviation / (q A) with a non-negative finite double limit, exactly.
int compare_with(const ExactError& e, double limit) {
    const bool zero = e.deviation == Wide{};
    if (limit == 0.0) return zero ? 0 : 1;
    const Split s = split(limit);  // limit = mantissa x 2^exponent
    // A non-zero error is at least 1 / (q A) > 2^-230; a limit below 2^-300 is below it.
    if (s.exponent < -300) return zero ? -1 : 1;
    if (s.exponent > 60) return -1;  // errors of cascades below 2^64 / 1 stay far below
    // deviation x 2^-exponent against mantissa x q x A
    Wide left = e.deviation;
    Wide right = Wide::of(e.a) * e.q * s.mantissa;
    if (s.exponent < 0) {
        left = left.shifted_left(-s.exponent);
    } else {
        right = right.shifted_left(s.exponent);
    }
    return compare(left, right);
}

}  // namespace

bool error_at_most(const ExactError& e, double limit) {
    return compare_with(e, limit) <= 0;
}

bool error_below(const ExactError& e, double limit) {
    return compare_with(e, limit) < 0;
}

bool error_within_tie(const ExactError& e, const ExactError& best) {
    // dev/(qA) <= dev*/(q*A) + 2^-50 (1 + dev*/(q*A)), times q q* A 2^50:
    // dev q* 2^50 <= dev* q 2^50 + q q* A + dev* q
    const int scale = -ERROR_TIE_EXPONENT;
    const Wide left = (e.deviation * best.q).shifted_left(scale);
    const Wide best_q = best.deviation * e.q;
    const Wide right = best_q.shifted_left(scale) + Wide::of(e.a) * e.q * best.q + best_q;
    return left <= right;
}

}  // namespace quillmere::inline v2::core
