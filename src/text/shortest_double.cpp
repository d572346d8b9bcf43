#include "text/shortest_double.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillmere::inline v1::text {

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

/// The double d reads as. The digits go to strtod as an integer with an exponent, so no
/// decimal point (and no locale) is involved.
double value_of(const Decimal& d) {
    char text[64];
    std::memcpy(text, d.digits, static_cast<std::size_t>(d.count));
    std::snprintf(text + d.count, sizeof text - static_cast<std::size_t>(d.count), "e%d",
                  d.exponent - (d.count - 1));
    return std::strtod(text, nullptr);
}

/// The decimal of `count` digits nearest value that reads back as it, if any. The decimals
/// that read back form an interval around value; if it holds a decimal of `count` digits, it
/// holds one of the two that enclose value: the nearest, or the one on value's other side.
bool shortest_of(double value, int count, Decimal* found) {
    const Decimal d = nearest(value, count);
    const double d_value = value_of(d);
    if (d_value == value) {
        *found = d;
        return true;
    }
    const Decimal other = neighbour(d, d_value > value ? -1 : 1);
    if (value_of(other) == value) {
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

}  // namespace quillmere::inline v1::text
