// The shortest text of a double against std::to_chars, which it must reproduce character
// for character where the standard library has a floating-point to_chars: millions of
// random doubles, short decimals, whole numbers, and the special and boundary values.
#include "text/shortest_double.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <version>

namespace {

using quillmere::text::shortest_double;

#ifdef QUILLMERE_SANITIZED
constexpr long SCALE = 10;  // the sanitizers slow the formatting tenfold and more
#else
constexpr long SCALE = 1;
#endif

TEST(ShortestDouble, SpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(shortest_double(0.0), "0");
    EXPECT_EQ(shortest_double(-0.0), "-0");
    EXPECT_EQ(shortest_double(inf), "inf");
    EXPECT_EQ(shortest_double(-inf), "-inf");
    EXPECT_EQ(shortest_double(nan), "nan");
    EXPECT_EQ(shortest_double(-nan), "-nan");
    EXPECT_EQ(shortest_double(44100.0), "44100");
    EXPECT_EQ(shortest_double(0.1), "0.1");
    EXPECT_EQ(shortest_double(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(shortest_double(0.001), "0.001");  // as long as 1e-03: plain
    EXPECT_EQ(shortest_double(0.0001), "1e-04");
    EXPECT_EQ(shortest_double(100000.0), "1e+05");
    EXPECT_EQ(shortest_double(123456.0), "123456");
    EXPECT_EQ(shortest_double(1e100), "1e+100");
    EXPECT_EQ(shortest_double(5e-324), "5e-324");
    EXPECT_EQ(shortest_double(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
    EXPECT_EQ(shortest_double(-2.2250738585072014e-308), "-2.2250738585072014e-308");
    // A whole number above 2^53 in plain form keeps its exact digits.
    EXPECT_EQ(shortest_double(-5088143117563430912.0), "-5088143117563430912");
    // Every double's text fits the documented room.
    EXPECT_LE(shortest_double(-2.2250738585072014e-308).size(),
              quillmere::text::shortest_double_capacity);
}

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L

/// Counts the doubles whose text differs from std::to_chars's, showing the first few.
struct Comparison {
    long checked = 0;
    long differing = 0;

    void check(double value) {
        ++checked;
        char expected[64];
        const std::to_chars_result end = std::to_chars(expected, expected + sizeof expected, value);
        char got[quillmere::text::shortest_double_capacity];
        char* const got_end = quillmere::text::write_shortest_double(got, value);
        if (std::string(expected, end.ptr) == std::string(got, got_end)) return;
        if (++differing <= 10) {
            ADD_FAILURE() << std::string(expected, end.ptr) << " written as "
                          << std::string(got, got_end);
        }
    }
};

double from_bits(std::uint64_t bits) {
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(ShortestDouble, IsToCharsOnRandomAndBoundaryDoubles) {
    std::mt19937_64 random(20261208);
    Comparison c;
    // Any bit pattern: every sign, exponent and significand, subnormals, NaNs.
    for (long i = 0; i < 1000000 / SCALE; ++i) c.check(from_bits(random()));
    // Short decimals over the whole range, where ties between digit strings and the choice
    // between plain and scientific forms are decided.
    for (long i = 0; i < 600000 / SCALE; ++i) {
        const double digits = static_cast<double>(random() % 100000000);
        const int exponent = static_cast<int>(random() % 60) - 30;
        c.check(digits * std::pow(10.0, exponent));
    }
    // Whole numbers, exact and beyond 2^53.
    for (long i = 0; i < 300000 / SCALE; ++i) {
        c.check(static_cast<double>(static_cast<std::int64_t>(random())));
        c.check(static_cast<double>(random() >> (random() % 64)));
    }
    // Floats, whose doubles have short shortest texts of their own kind.
    for (long i = 0; i < 200000 / SCALE; ++i) {
        float f = 0.0f;
        const std::uint32_t bits = static_cast<std::uint32_t>(random());
        std::memcpy(&f, &bits, sizeof f);
        c.check(static_cast<double>(f));
    }
    // Every power of two and of ten with its neighbours.
    for (int e = -1074; e <= 1023; ++e) {
        const double v = std::ldexp(1.0, e);
        for (const double x : {v, std::nextafter(v, 0.0), std::nextafter(v, HUGE_VAL)}) {
            c.check(x);
            c.check(-x);
        }
    }
    for (int e = -323; e <= 308; ++e) {
        const double v = std::pow(10.0, e);
        for (const double x : {v, std::nextafter(v, 0.0), std::nextafter(v, HUGE_VAL)}) {
            c.check(x);
        }
    }
    EXPECT_EQ(c.differing, 0) << "of " << c.checked;
    EXPECT_GT(c.checked, 2000000 / SCALE);
}

#endif

}  // namespace
