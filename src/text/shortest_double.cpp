#include "text/shortest_double.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillmere::inline v2::text {

namespace {

/// Significant digits that always read back as the same double.
constexpr int MAX_DIGITS = 17;

/// A positive decimal d1.d2d3... x 10^exponent with `count` digits and no point.
struct Decimal {
    char digits[MAX_DIGITS + 1] = {};
    int count = 0;
    int exponent = 0;
};

/// The decimal of `count` significant digits nearest to value (> 0, finite), as printf
/// rounds it.
Decimal nearest(double value, int count) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", count - 1, value);
    Decimal d;
    const char* c = text;
    // Every digit before the exponent; whatever the locale's decimal point is, it is none.
    for (; *c != '\0' && *c != 'e' && *c != 'E'; ++c) {
        if (*c >= '0' && *c <= '9' && d.count < MAX_DIGITS) d.digits[d.count++] = *c;
    }
    d.exponent = *c == '\0' ? 0 : std::atoi(c + 1);
    return d;
}

/// The decimal of the same digit count one unit in its last place above or below.
Decimal neighbour(Decimal d, int step) {
    int i = d.count - 1;
    if (step > 0) {
        while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
        if (i >= 0) {
            ++d.digits[i];
        } else {  // 9.99 -> 10.0: 1.00 one power of ten higher
            d.digits[0] = '1';
            ++d.exponent;
        }
    } else {
        while (i >= 0 && d.digits[i] == '0') d.digits[i--] = '9';
        --d.digits[i];  // a leading digit is never 0, so the borrow stops within the digits
        if (d.digits[0] == '0') {  // 1.00 -> 0.99: 9.99 one power of ten lower
            std::memset(d.digits, '9', static_cast<std::size_t>(d.count));
            --d.exponent;
        }
    }
    return d;
}

/// A non-negative integer of up to 48 x 32 bits, enough for a decimal of 17 digits and
/// its power of ten against a double and its power of two, exactly, over the whole range.
class BigInteger {
public:
    explicit BigInteger(std::uint64_t value) {
        limbs_[0] = static_cast<std::uint32_t>(value);
        limbs_[1] = static_cast<std::uint32_t>(value >> 32);
        size_ = limbs_[1] != 0 ? 2 : 1;
    }

    void multiply(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (int i = 0; i < size_; ++i) {
            const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
            limbs_[i] = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
    }

    void multiply_by_power_of_five(int exponent) {
        static constexpr std::uint32_t POWERS[] = {1,       5,        25,        125,       625,
                                                   3125,    15625,    78125,     390625,    1953125,
                                                   9765625, 48828125, 244140625, 1220703125};
        for (; exponent >= 13; exponent -= 13) multiply(POWERS[13]);
        multiply(POWERS[exponent]);
    }

    void shift_left(int bits) {
        const int whole = bits / 32;
        const int part = bits % 32;
        if (part != 0) {
            std::uint32_t carry = 0;
            for (int i = 0; i < size_; ++i) {
                const std::uint32_t limb = limbs_[i];
                limbs_[i] = (limb << part) | carry;
                carry = limb >> (32 - part);
            }
            if (carry != 0) limbs_[size_++] = carry;
        }
        if (whole != 0) {
            for (int i = size_ - 1; i >= 0; --i) limbs_[i + whole] = limbs_[i];
            for (int i = 0; i < whole; ++i) limbs_[i] = 0;
            size_ += whole;
        }
    }

    /// -1, 0 or 1 as a is below, equal to or above b.
    friend int compare(const BigInteger& a, const BigInteger& b) {
        if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
        for (int i = a.size_ - 1; i >= 0; --i) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

private:
    std::uint32_t limbs_[48] = {};
    int size_ = 0;
};

/// -1, 0 or 1 as the decimal d is below, at or above n x 2^k, compared exactly.
int compare(const Decimal& d, std::uint64_t n, int k) {
    std::uint64_t digits = 0;
    for (int i = 0; i < d.count; ++i)
        digits = digits * 10 + static_cast<unsigned>(d.digits[i] - '0');
    // digits x 10^e = digits x 5^e x 2^e: the powers of five join whichever side keeps them
    // whole, then the side with the larger power of two is shifted to the other's.
    const int e = d.exponent - (d.count - 1);
    BigInteger left(digits);
    BigInteger right(n);
    if (e >= 0) {
        left.multiply_by_power_of_five(e);
    } else {
        right.multiply_by_power_of_five(-e);
    }
    if (e > k) {
        left.shift_left(e - k);
    } else {
        right.shift_left(k - e);
    }
    return compare(left, right);
}

/// A double as m x 2^e and the ends of the decimals that read back as it: the halfway
/// points to its neighbours, low_n x 2^low_k and high_n x 2^high_k, which read back as it
/// themselves when m is even (ties go to the even significand).
struct Interval {
    std::uint64_t m = 0;
    int e = 0;
    std::uint64_t low_n = 0;
    int low_k = 0;
    std::uint64_t high_n = 0;
    int high_k = 0;
    bool ends_included = false;
};

Interval interval_of(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    Interval r;
    r.m = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
    r.e = biased == 0 ? -1074 : biased - 1075;
    r.high_n = 2 * r.m + 1;
    r.high_k = r.e - 1;
    if (fraction == 0 && biased > 1) {
        // A power of two: the neighbour below is half as far away.
        r.low_n = 4 * r.m - 1;
        r.low_k = r.e - 2;
    } else {
        r.low_n = 2 * r.m - 1;
        r.low_k = r.e - 1;
    }
    r.ends_included = r.m % 2 == 0;
    return r;
}

/// Whether d reads back as the double of the interval.
bool reads_back(const Decimal& d, const Interval& r) {
    const int low = compare(d, r.low_n, r.low_k);
    const int high = compare(d, r.high_n, r.high_k);
    return r.ends_included ? low >= 0 && high <= 0 : low > 0 && high < 0;
}

/// The decimal of `count` digits nearest value that reads back as it, if any. The decimals
/// that read back form an interval around value; if it holds a decimal of `count` digits, it
/// holds one of the two that enclose value: the nearest, or the one on value's other side.
bool shortest_of(double value, int count, Decimal* found) {
    const Interval r = interval_of(value);
    const Decimal d = nearest(value, count);
    if (reads_back(d, r)) {
        *found = d;
        return true;
    }
    const Decimal other = neighbour(d, compare(d, r.m, r.e) > 0 ? -1 : 1);
    if (reads_back(other, r)) {
        *found = other;
        return true;
    }
    return false;
}

char* write_chars(char* out, const char* text, int count) {
    std::memcpy(out, text, static_cast<std::size_t>(count));
    return out + count;
}

char* write_zeros(char* out, int count) {
    for (int i = 0; i < count; ++i) *out++ = '0';
    return out;
}

/// The fewest significant digits that read back as value (> 0, finite), the ones nearest
/// value among those. Whether some decimal of p digits reads back only grows with p (the
/// decimals of p digits are among those of p + 1), and 17 always do: a binary search.
Decimal shortest_digits(double value) {
    int low = 1;
    int high = MAX_DIGITS;
    Decimal best = nearest(value, MAX_DIGITS);  // reads back: a double needs 17 at most
    while (low < high) {
        const int middle = (low + high) / 2;
        Decimal found;
        if (shortest_of(value, middle, &found)) {
            high = middle;
            best = found;
        } else {
            low = middle + 1;
        }
    }
    while (best.count > 1 && best.digits[best.count - 1] == '0') --best.count;
    return best;
}

/// Writes d plain: 12.3, 0.00123, or a whole number with its exact digits.
char* write_plain(char* out, const Decimal& d, double value) {
    const int n = d.count;
    const int e = d.exponent;
    if (e >= n - 1) {
        // A whole number (any fraction would need digits of its own); of the texts of this
        // length the nearest to value is its exact digits: 12300, and above 2^53
        // 5088143117563430912 rather than 5088143117563431000.
        char text[shortest_double_capacity];
        const int length = std::snprintf(text, sizeof text, "%.0f", value);
        return write_chars(out, text, length);
    }
    if (e >= 0) {
        out = write_chars(out, d.digits, e + 1);
        *out++ = '.';
        return write_chars(out, d.digits + e + 1, n - (e + 1));
    }
    *out++ = '0';
    *out++ = '.';
    out = write_zeros(out, -e - 1);
    return write_chars(out, d.digits, n);
}

/// Writes d in scientific form with at least two exponent digits: 1.23e+45, 5e-07.
char* write_scientific(char* out, const Decimal& d) {
    *out++ = d.digits[0];
    if (d.count > 1) {
        *out++ = '.';
        out = write_chars(out, d.digits + 1, d.count - 1);
    }
    *out++ = 'e';
    *out++ = d.exponent < 0 ? '-' : '+';
    const int e = std::abs(d.exponent);
    if (e >= 100) *out++ = static_cast<char>('0' + e / 100);
    *out++ = static_cast<char>('0' + e / 10 % 10);
    *out++ = static_cast<char>('0' + e % 10);
    return out;
}

}  // namespace

char* write_shortest_double(char* first, double value) noexcept {
    char* out = first;
    if (std::signbit(value)) *out++ = '-';
    if (std::isnan(value)) return write_chars(out, "nan", 3);
    if (std::isinf(value)) return write_chars(out, "inf", 3);
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        *out++ = '0';
        return out;
    }
    const Decimal d = shortest_digits(magnitude);
    // The shorter of the two forms, plain when both are as long.
    const int n = d.count;
    const int e = d.exponent;
    const int scientific_length = n + (n > 1 ? 1 : 0) + 2 + (std::abs(e) >= 100 ? 3 : 2);
    const int plain_length = e >= n - 1 ? e + 1 : e >= 0 ? n + 1 : n + 1 - e;
    return plain_length <= scientific_length ? write_plain(out, d, magnitude)
                                             : write_scientific(out, d);
}

std::string shortest_double(double value) {
    char text[shortest_double_capacity];
    return std::string(text, write_shortest_double(text, value));
}

}  // namespace quillmere::inline v2::text
