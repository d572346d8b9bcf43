#include "core/arithmetic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

using namespace quillmere::core;
using quillmere::Status;

using Pairs = std::vector<std::pair<long long, long long>>;

/// Runs the expansion and returns its status together with the convergents as plain pairs.
/// The list starts with a stale entry, which every call must clear.
Status convergents_of(double ratio, long long bound, Pairs* out) {
    ConvergentList list = {Convergent{-5, -5}};
    const Status status = calculate_cfe_convergents(ratio, bound, &list);
    out->clear();
    for (const Convergent& c : list) out->emplace_back(c.p, c.q);
    if (status != Status::ok) {
        EXPECT_TRUE(list.empty());
    }
    return status;
}

/// Runs the factorisation and returns its status together with the pairs.
Status factor_pairs_of(long long n, Pairs* out) {
    FactorPairList list = {FactorPair{-5, -5}};
    const Status status = find_integer_factor_pairs(n, &list);
    out->clear();
    for (const FactorPair& p : list) out->emplace_back(p.factor, p.cofactor);
    if (status != Status::ok) {
        EXPECT_TRUE(list.empty());
    }
    return status;
}

}  // namespace

// ---------------------------------------------------------------------------
// Continued-fraction convergents
// ---------------------------------------------------------------------------

TEST(Convergents, SmallExactRatios) {
    Pairs got;
    ASSERT_EQ(convergents_of(1.0, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 1}}));
    ASSERT_EQ(convergents_of(2.0, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{2, 1}}));
    ASSERT_EQ(convergents_of(0.5, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{0, 1}, {1, 2}}));
}

TEST(Convergents, BoundEndsTheExpansion) {
    Pairs got;
    ASSERT_EQ(convergents_of(1.6, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 1}, {2, 1}, {3, 2}, {5, 3}, {8, 5}}));
    // Both leading convergents have q = 1; 3/2 is already beyond the bound.
    ASSERT_EQ(convergents_of(1.6, 1, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 1}, {2, 1}}));

    ASSERT_EQ(convergents_of(48000.0 / 44100.0, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 1}, {12, 11}, {37, 34}, {123, 113}, {160, 147}}));
    ASSERT_EQ(convergents_of(48000.0 / 44100.0, 146, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 1}, {12, 11}, {37, 34}, {123, 113}}));
}

TEST(Convergents, IrrationalLookingRatio) {
    Pairs got;
    ASSERT_EQ(convergents_of(3.141592653589793, 65535, &got), Status::ok);
    EXPECT_EQ(got,
              (Pairs{{3, 1}, {22, 7}, {333, 106}, {355, 113}, {103993, 33102}, {104348, 33215}}));
}

TEST(Convergents, NumeratorIsNotBounded) {
    Pairs got;
    ASSERT_EQ(convergents_of(1000.0001, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1000, 1}, {10000001, 10000}}));
}

TEST(Convergents, TinyRatios) {
    Pairs got;
    ASSERT_EQ(convergents_of(1e-6, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{0, 1}}));
    ASSERT_EQ(convergents_of(1e-15, 65535, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{0, 1}}));
    // Below the remainder threshold no term is taken at all.
    EXPECT_EQ(convergents_of(1e-16, 65535, &got), Status::calculation_error);
}

TEST(Convergents, NumeratorGuardKeepsWhatWasFound) {
    Pairs got;
    ASSERT_EQ(convergents_of(123456789.12345679, 1000000000000000000LL, &got), Status::ok);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(got.front(), (std::pair<long long, long long>{123456789, 1}));
    EXPECT_EQ(got.back(), (std::pair<long long, long long>{5436646436456990709LL, 44036836492LL}));
    for (std::size_t i = 1; i < got.size(); ++i) EXPECT_LT(got[i - 1].second, got[i].second);
}

TEST(Convergents, HugeFirstTerm) {
    Pairs got;
    EXPECT_EQ(convergents_of(9.3e18, 65535, &got), Status::overflow_error);
    EXPECT_EQ(convergents_of(9223372036854775808.0, 65535, &got), Status::calculation_error);
}

TEST(Convergents, InvalidArguments) {
    Pairs got;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double ratio : {0.0, -1.5, nan, inf, -inf}) {
        EXPECT_EQ(convergents_of(ratio, 65535, &got), Status::invalid_request) << ratio;
    }
    EXPECT_EQ(convergents_of(1.5, 0, &got), Status::invalid_request);
    EXPECT_EQ(convergents_of(1.5, -7, &got), Status::invalid_request);

    EXPECT_EQ(calculate_cfe_convergents(1.5, 65535, nullptr), Status::invalid_request);
}

// ---------------------------------------------------------------------------
// Integer factor pairs
// ---------------------------------------------------------------------------

TEST(FactorPairs, SmallNumbers) {
    Pairs got;
    ASSERT_EQ(factor_pairs_of(1, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 1}}));
    ASSERT_EQ(factor_pairs_of(97, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 97}}));
    ASSERT_EQ(factor_pairs_of(49, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 49}, {7, 7}}));
    ASSERT_EQ(factor_pairs_of(160, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 160}, {2, 80}, {4, 40}, {5, 32}, {8, 20}, {10, 16}}));
}

TEST(FactorPairs, PowerOfTwoGrowsTheList) {
    Pairs got;
    ASSERT_EQ(factor_pairs_of(65536, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, 65536},
                          {2, 32768},
                          {4, 16384},
                          {8, 8192},
                          {16, 4096},
                          {32, 2048},
                          {64, 1024},
                          {128, 512},
                          {256, 256}}));
}

TEST(FactorPairs, LargeNumberBelowASquare) {
    // 94906265^2 - 1: the double square root of it truncates one too high.
    const long long n = 9007199136250224LL;
    Pairs got;
    ASSERT_EQ(factor_pairs_of(n, &got), Status::ok);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), (std::pair<long long, long long>{1, n}));
    EXPECT_EQ(got.back(), (std::pair<long long, long long>{94906264, 94906266}));
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_LE(got[i].first, got[i].second);
        EXPECT_EQ(got[i].first * got[i].second, n);
        if (i > 0) {
            EXPECT_LT(got[i - 1].first, got[i].first);
        }
    }
}

TEST(FactorPairs, AgreeWithTrialDivision) {
    // Random numbers up to 2^36, prime powers and highly composite numbers, against the
    // divisors found by dividing by every number up to the root.
    std::mt19937_64 engine(18);
    std::vector<long long> numbers = {68719476736LL, 3486784401LL, 6983776800LL, 999999937LL,
                                      65521LL * 65519LL};
    for (int i = 0; i < 200; ++i) {
        numbers.push_back(static_cast<long long>(engine() % (1ULL << 36)) + 1);
    }
    for (const long long n : numbers) {
        Pairs expected;
        for (long long d = 1; d <= n / d; ++d) {
            if (n % d == 0) expected.emplace_back(d, n / d);
        }
        Pairs got;
        ASSERT_EQ(factor_pairs_of(n, &got), Status::ok) << n;
        EXPECT_EQ(got, expected) << n;
    }
}

TEST(FactorPairs, LargeNumbersWithLargePrimeFactors) {
    // Numbers near 2^62 whose roots are too far for trial division: products of two
    // primes near 2^31, a prime, and a prime times a power of two.
    const long long p = 2147483647LL;  // 2^31 - 1
    const long long q = 2147483629LL;
    Pairs got;
    ASSERT_EQ(factor_pairs_of(p * q, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, p * q}, {q, p}}));
    ASSERT_EQ(factor_pairs_of(p * p, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, p * p}, {p, p}}));
    const long long prime = 4611686018427387847LL;  // the largest prime below 2^62
    ASSERT_EQ(factor_pairs_of(prime, &got), Status::ok);
    EXPECT_EQ(got, (Pairs{{1, prime}}));
    ASSERT_EQ(factor_pairs_of(q << 20, &got), Status::ok);
    ASSERT_EQ(got.size(), 21U);  // (21 x 2 divisors) / 2
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].first * got[i].second, q << 20);
        if (i > 0) {
            EXPECT_LT(got[i - 1].first, got[i].first);
        }
    }
}

TEST(FactorPairs, InvalidArguments) {
    Pairs got;
    EXPECT_EQ(factor_pairs_of(0, &got), Status::invalid_request);
    EXPECT_EQ(factor_pairs_of(-12, &got), Status::invalid_request);
    EXPECT_EQ(find_integer_factor_pairs(12, nullptr), Status::invalid_request);
}
