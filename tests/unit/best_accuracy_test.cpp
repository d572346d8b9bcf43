// The best-accuracy search: its exact arithmetic and fraction walks against brute force, and
// the search itself against a scan of every cascade at limits up to 60 and against the
// custom-limit search at large limits.
#include "core/best_accuracy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/candidate.h"
#include "core/exact_ratio.h"
#include "core/factoring.h"
#include "core/rational_walk.h"
#include "core/two_stage_search.h"
#include "quillmere/quillmere.h"

namespace {

using quillmere::IntermediateTarget;
using quillmere::Priority;
using quillmere::Status;
using quillmere::core::AccuracyRequest;
using quillmere::core::AccuracyResult;
using quillmere::core::ExactError;
using quillmere::core::ExactRatio;
using quillmere::core::Fraction;
using quillmere::core::Tolerance;
using u64 = std::uint64_t;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

/// Deterministic on every platform, unlike the standard distributions.
struct Dice {
    std::mt19937_64 engine;
    u64 below(u64 n) { return engine() % n; }
    bool chance(u64 percent) { return below(100) < percent; }
    double unit() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
    /// Log-uniform between lo and hi.
    double log_between(double lo, double hi) {
        return std::exp(std::log(lo) + unit() * (std::log(hi) - std::log(lo)));
    }
};

// ---------------------------------------------------------------------------------------
// Exact arithmetic
// ---------------------------------------------------------------------------------------

TEST(ExactRatio, ErrorsCompareAsExactFractions) {
    // Small rates: the exact error |p/q - y/x| / (y/x) = |p x - q y| / (q y) in 128 bits.
    Dice dice{std::mt19937_64{11}};
    for (int i = 0; i < 20000; ++i) {
        const u64 x = 1 + dice.below(100000), y = 1 + dice.below(100000);
        const ExactRatio ratio = ExactRatio::of(static_cast<double>(x), static_cast<double>(y));
        const u64 p1 = 1 + dice.below(5000), q1 = 1 + dice.below(5000);
        const u64 p2 = 1 + dice.below(5000), q2 = 1 + dice.below(5000);
        using i128 = __int128;
        const i128 d1 = static_cast<i128>(p1) * x - static_cast<i128>(q1) * y;
        const i128 d2 = static_cast<i128>(p2) * x - static_cast<i128>(q2) * y;
        const i128 left = (d1 < 0 ? -d1 : d1) * static_cast<i128>(q2);
        const i128 right = (d2 < 0 ? -d2 : d2) * static_cast<i128>(q1);
        const int expected = left < right ? -1 : left > right ? 1 : 0;
        const ExactError e1 = quillmere::core::exact_error(ratio, p1, q1);
        const ExactError e2 = quillmere::core::exact_error(ratio, p2, q2);
        ASSERT_EQ(quillmere::core::compare_errors(e1, e2), expected)
            << p1 << "/" << q1 << " " << p2 << "/" << q2 << " for " << y << "/" << x;
    }
}

TEST(ExactRatio, LimitsAndTiesAreJudgedExactly) {
    const ExactRatio ratio = ExactRatio::of(147.0, 160.0);  // 160/147
    const ExactError exact = quillmere::core::exact_error(ratio, 160, 147);
    EXPECT_TRUE(quillmere::core::error_at_most(exact, 0.0));
    EXPECT_FALSE(quillmere::core::error_below(exact, 0.0));
    // 161/147 misses by exactly 1/160.
    const ExactError off = quillmere::core::exact_error(ratio, 161, 147);
    EXPECT_TRUE(quillmere::core::error_at_most(off, 1.0 / 160.0 + 1e-18));
    EXPECT_FALSE(quillmere::core::error_at_most(off, std::nextafter(1.0 / 160.0, 0.0)));
    EXPECT_FALSE(quillmere::core::error_within_tie(off, exact));
    // Errors of 1/2^51 and 0 are tied (2^-50), 1/2^49 and 0 are not.
    const ExactRatio one = ExactRatio::of(1.0, 1.0);
    const u64 q = u64{1} << 51;
    EXPECT_TRUE(quillmere::core::error_within_tie(quillmere::core::exact_error(one, q + 1, q),
                                                  quillmere::core::exact_error(one, 1, 1)));
    const u64 q49 = u64{1} << 49;
    EXPECT_FALSE(quillmere::core::error_within_tie(quillmere::core::exact_error(one, q49 + 1, q49),
                                                   quillmere::core::exact_error(one, 1, 1)));
    // The rates a request may give: 1 Hz to 1e13 Hz either way.
    const ExactRatio wide = ExactRatio::of(1.0, 1e13);
    EXPECT_TRUE(quillmere::core::error_at_most(
        quillmere::core::exact_error(wide, 10000000000000ULL, 1), 0.0));
    const ExactRatio narrow = ExactRatio::of(1e13, 1.0);
    EXPECT_TRUE(quillmere::core::error_below(
        quillmere::core::exact_error(narrow, 1, 10000000000000ULL), 1e-300));
}

// ---------------------------------------------------------------------------------------
// Fraction walks and factoring
// ---------------------------------------------------------------------------------------

/// Every p/q with 1 <= p, q <= n in lowest terms, increasing.
std::vector<Fraction> cut_tree(u64 n) {
    std::vector<Fraction> all;
    for (u64 q = 1; q <= n; ++q) {
        for (u64 p = 1; p <= n; ++p) {
            if (std::gcd(p, q) == 1) all.push_back(Fraction{p, q});
        }
    }
    std::sort(all.begin(), all.end(), [](const Fraction& a, const Fraction& b) {
        return quillmere::core::compare_fractions(a.p, a.q, b.p, b.q) < 0;
    });
    return all;
}

TEST(RationalWalk, BracketsAndNeighboursMatchTheSortedFractions) {
    Dice dice{std::mt19937_64{5}};
    for (const u64 n : {1u, 2u, 3u, 7u, 12u, 30u}) {
        const std::vector<Fraction> all = cut_tree(n);
        // Walking up and down from the smallest pair visits every fraction in order.
        std::size_t i = 0;
        Fraction lower{0, 1}, upper = all.front();
        while (!upper.none_above()) {
            ASSERT_LT(i, all.size());
            ASSERT_EQ(upper.p, all[i].p);
            ASSERT_EQ(upper.q, all[i].q);
            const Fraction next = quillmere::core::next_above(lower, upper, n);
            lower = upper;
            upper = next;
            ++i;
        }
        ASSERT_EQ(i, all.size());
        Fraction up{1, 0}, down = all.back();
        for (std::size_t j = all.size(); j-- > 0;) {
            ASSERT_EQ(down.p, all[j].p);
            ASSERT_EQ(down.q, all[j].q);
            const Fraction next = quillmere::core::next_below(down, up, n);
            up = down;
            down = next;
        }
        ASSERT_TRUE(down.none_below());
        for (int k = 0; k < 300; ++k) {
            const u64 vp = 1 + dice.below(3 * n), vq = 1 + dice.below(3 * n);
            const auto below = [&](u64 p, u64 q) {
                return quillmere::core::compare_fractions(p, q, vp, vq) < 0;
            };
            const quillmere::core::Bracket br = quillmere::core::bracket(n, below);
            const auto it = std::find_if(all.begin(), all.end(),
                                         [&](const Fraction& f) { return !below(f.p, f.q); });
            if (it == all.end()) {
                EXPECT_TRUE(br.above.none_above());
            } else {
                EXPECT_EQ(br.above.p, it->p);
                EXPECT_EQ(br.above.q, it->q);
            }
            if (it == all.begin()) {
                EXPECT_TRUE(br.below.none_below());
            } else {
                EXPECT_EQ(br.below.p, std::prev(it)->p);
                EXPECT_EQ(br.below.q, std::prev(it)->q);
            }
            // The simplest fraction of [vp/vq, vp/vq + w]: the smallest p, then q, inside.
            const u64 wp = dice.below(3), wq = 1 + dice.below(2 * n);
            const auto place = [&](u64 p, u64 q) {
                if (quillmere::core::compare_fractions(p, q, vp, vq) < 0) return -1;
                // p/q > vp/vq + wp/wq ?
                const unsigned __int128 left = static_cast<unsigned __int128>(p) * vq * wq;
                const unsigned __int128 right =
                    static_cast<unsigned __int128>(q) * (vp * wq + wp * vq);
                return left > right ? 1 : 0;
            };
            const Fraction s = quillmere::core::simplest_in(n, place);
            std::optional<Fraction> expected;
            for (const Fraction& f : all) {
                if (place(f.p, f.q) == 0 && (!expected || f.p + f.q < expected->p + expected->q)) {
                    expected = f;
                }
            }
            if (!expected) {
                EXPECT_TRUE(s.none_below());
            } else {
                EXPECT_EQ(s.p, expected->p);
                EXPECT_EQ(s.q, expected->q);
                for (const Fraction& f : all) {
                    if (place(f.p, f.q) == 0) {
                        EXPECT_TRUE(f.p >= s.p && f.q >= s.q);
                    }
                }
            }
        }
    }
}

TEST(RationalWalk, NeighboursFromTheContinuedFractionAreNeighboursAroundThePoint) {
    Dice dice{std::mt19937_64{6}};
    const auto value = [](const Fraction& f) {
        return f.q == 0 ? std::numeric_limits<double>::infinity()
                        : static_cast<double>(f.p) / static_cast<double>(f.q);
    };
    for (const u64 n : {1u, 2u, 5u, 12u, 40u, 97u}) {
        const std::vector<Fraction> all = cut_tree(n);
        // A cursor follows the points, by Farey steps where they move a little.
        quillmere::core::NeighbourCursor cursor(n, 1.0);
        double v = 1.0;
        for (int k = 0; k < 4000; ++k) {
            // Points anywhere, near the last, at fractions of the tree and a hair off them.
            if (dice.chance(40)) {
                v *= 1.0 + (dice.unit() - 0.5) * 8.0 / static_cast<double>(n * n);
            } else {
                v = dice.log_between(0.5 / static_cast<double>(n), 2.0 * static_cast<double>(n));
            }
            if (dice.chance(20)) {
                const Fraction& f = all[dice.below(all.size())];
                v = value(f) * (1.0 + (static_cast<double>(dice.below(5)) - 2.0) * 1e-15);
            }
            const quillmere::core::Bracket b = k % 2 == 0 ? quillmere::core::neighbours_near(n, v)
                                                          : cursor.around(v);
            // Adjacent in the sorted tree (0/1 and 1/0 standing for its ends), around v.
            const auto index = [&](const Fraction& f) -> long long {
                if (f.none_below()) return -1;
                if (f.none_above()) return static_cast<long long>(all.size());
                const auto it = std::find_if(all.begin(), all.end(), [&](const Fraction& g) {
                    return g.p == f.p && g.q == f.q;
                });
                return it == all.end() ? -2 : it - all.begin();
            };
            const long long lo = index(b.below), hi = index(b.above);
            ASSERT_NE(lo, -2) << b.below.p << "/" << b.below.q << " at " << n;
            ASSERT_EQ(hi, lo + 1) << v << " at " << n;
            // Around v, unless v is within the roundings of the expansion of a fraction.
            const auto first_not_below = std::find_if(
                all.begin(), all.end(), [&](const Fraction& f) { return value(f) >= v; });
            const long long at = first_not_below - all.begin();
            const double below_gap = at == 0 ? v : v - value(all[at - 1]);
            const double above_gap =
                first_not_below == all.end() ? INFINITY : value(*first_not_below) - v;
            const double gap = std::min(below_gap, above_gap);
            if (gap > 1e-9 * v) {
                EXPECT_EQ(lo, at - 1) << v << " at " << n;
            }
            // No fraction is in an interval said to be empty; a narrow one around a point
            // between two fractions is seen to be.
            const double half = v * dice.log_between(1e-12, 1.0);
            const bool none = quillmere::core::surely_none_between(n, v - half, v + half);
            const bool any = std::any_of(all.begin(), all.end(), [&](const Fraction& f) {
                return value(f) >= v - half && value(f) <= v + half;
            });
            if (none) {
                EXPECT_FALSE(any) << v << " +- " << half << " at " << n;
            }
            if (gap > 1e-9 * v && half < gap / 2) {
                EXPECT_TRUE(none) << v << " at " << n;
            }
        }
    }
}

TEST(RationalWalk, ACursorCountsTheMovesItMakesByAContinuedFraction) {
    const u64 n = 65535;
    const auto value = [](const Fraction& f) {
        return static_cast<double>(f.p) / static_cast<double>(f.q);
    };
    quillmere::core::NeighbourCursor cursor(n, 0.3);
    EXPECT_EQ(cursor.jumps(), 0u);
    // Through the next few neighbours one at a time: Farey steps only.
    quillmere::core::Bracket b = cursor.around(0.3);
    for (int k = 0; k < 50; ++k) {
        const double next = value(quillmere::core::next_above(b.below, b.above, n));
        b = cursor.around((value(b.above) + next) / 2.0);
    }
    EXPECT_EQ(cursor.jumps(), 0u);
    // Far away, and back: one jump each, to the same neighbours neighbours_near finds.
    for (const double v : {0.7, 0.3000001}) {
        const std::uint64_t before = cursor.jumps();
        b = cursor.around(v);
        const quillmere::core::Bracket direct = quillmere::core::neighbours_near(n, v);
        EXPECT_EQ(cursor.jumps(), before + 1);
        EXPECT_TRUE(b.below.p == direct.below.p && b.below.q == direct.below.q &&
                    b.above.p == direct.above.p && b.above.q == direct.above.q);
    }
}

TEST(Factoring, FactorsAgreeWithTrialDivision) {
    Dice dice{std::mt19937_64{3}};
    const auto trial = [](u64 n) {
        std::vector<u64> primes;
        for (u64 p = 2; p * p <= n; ++p) {
            while (n % p == 0) {
                primes.push_back(p);
                n /= p;
            }
        }
        if (n > 1) primes.push_back(n);
        return primes;
    };
    std::vector<u64> numbers = {
        1,   2,    65521ULL * 65521ULL, 65521ULL * 65519ULL, 4294967291ULL,
        561, 1105, 3215031751ULL,       999999000001ULL,     18446744073709551557ULL};
    for (int i = 0; i < 3000; ++i) numbers.push_back(1 + (dice.engine() >> (20 + dice.below(40))));
    for (const u64 n : numbers) {
        if (n > (u64{1} << 50)) {
            // Beyond trial division in a test: check the product and primality instead.
            const quillmere::core::Factorisation f = quillmere::core::factorise(n);
            u64 product = 1;
            for (int i = 0; i < f.count; ++i) {
                EXPECT_TRUE(quillmere::core::is_prime(f.factors[i].prime));
                for (int e = 0; e < f.factors[i].exponent; ++e) product *= f.factors[i].prime;
            }
            EXPECT_EQ(product, n);
            continue;
        }
        const std::vector<u64> expected = trial(n);
        const quillmere::core::Factorisation f = quillmere::core::factorise(n);
        std::vector<u64> got;
        for (int i = 0; i < f.count; ++i) {
            for (int e = 0; e < f.factors[i].exponent; ++e) got.push_back(f.factors[i].prime);
        }
        EXPECT_EQ(got, expected) << n;
        // Stopping above a bound: rejected exactly when some prime factor exceeds it.
        const u64 stop = 1 + dice.below(300);
        const bool big = !expected.empty() && expected.back() > stop;
        EXPECT_EQ(quillmere::core::factorise(n, stop).count < 0, big) << n << " above " << stop;
    }
}

TEST(Factoring, PrimalityBelow2To32AgreesWithTrialDivision) {
    // The primes up to 2^16 decide every number below 2^32.
    std::vector<u64> primes;
    for (u64 p = 2; p < 65536; ++p) {
        bool prime = true;
        for (const u64 d : primes) {
            if (d * d > p) break;
            if (p % d == 0) {
                prime = false;
                break;
            }
        }
        if (prime) primes.push_back(p);
    }
    const auto trial_prime = [&](u64 n) {
        if (n < 2) return false;
        for (const u64 d : primes) {
            if (d * d > n) return true;
            if (n % d == 0) return false;
        }
        return true;
    };
    // Strong pseudoprimes to several bases, without factors below 256; numbers near 2^32,
    // where the Montgomery sums carry; random ones of every size from 2^16.
    std::vector<u64> numbers = {1373653,    25326001,          3215031751ULL,     2047,
                                4294967291, 4294967279,        4294967295,        4294836225,
                                65537,      65521ULL * 65519ULL, 65537ULL * 65519ULL};
    Dice dice{std::mt19937_64{32}};
    for (int i = 0; i < 4000; ++i) {
        numbers.push_back((u64{1} << (16 + dice.below(17))) - 1 - dice.below(u64{1} << 15) * 2);
    }
    for (const u64 n : numbers) {
        EXPECT_EQ(quillmere::core::is_prime(n), trial_prime(n)) << n;
        // What is left after the primes below 2^16 is 1 or a prime above 65535.
        u64 rest = n;
        for (const u64 d : primes) {
            if (d * d > rest) break;
            while (rest % d == 0) rest /= d;
        }
        const bool above = rest > 65535;
        // The quick test may miss a large factor behind a composite rest, never invent one.
        if (quillmere::core::has_prime_factor_above(n, 65535)) {
            EXPECT_TRUE(above) << n;
        }
        EXPECT_EQ(quillmere::core::factorise(n, 65535).count < 0, above) << n;
    }
}

/// What is left of n once the primes up to `bound` are divided out, by trial division.
u64 rest_after(u64 n, u64 bound) {
    for (u64 d = 2; d <= bound && d * d <= n; ++d) {
        while (n % d == 0) n /= d;
    }
    // A last factor left by the square root test is a prime: removed when within the bound.
    return n <= bound ? 1 : n;
}

TEST(Factoring, PrimesUpToABoundAreThoseOfTrialDivision) {
    EXPECT_TRUE(quillmere::core::primes_up_to(1).empty());
    EXPECT_EQ(quillmere::core::primes_up_to(2), (std::vector<std::uint32_t>{2}));
    EXPECT_EQ(quillmere::core::primes_up_to(30),
              (std::vector<std::uint32_t>{2, 3, 5, 7, 11, 13, 17, 19, 23, 29}));
    const std::vector<std::uint32_t> primes = quillmere::core::primes_up_to(65535);
    EXPECT_EQ(primes.size(), 6542u);
    EXPECT_EQ(primes.back(), 65521u);
    for (const std::uint32_t p : primes) EXPECT_EQ(rest_after(p, p - 1), p) << p;
}

TEST(Factoring, WhatTheSieveLeavesShowsALargePrimeOnlyWhereThereIsOne) {
    // Sieved by the primes up to 4096: a rest below 4097^2 is a prime, from 4099^2 on (the
    // square of the next prime) it may be a product of two primes each within the limit.
    // A threshold 5 % higher would call 4099^2 and 4099 x 4111 primes.
    const u64 sieved = 4096;
    const u64 n = 65535;
    EXPECT_FALSE(quillmere::core::rest_shows_prime_above(1, sieved, n));
    EXPECT_FALSE(quillmere::core::rest_shows_prime_above(65521, sieved, n));
    EXPECT_TRUE(quillmere::core::rest_shows_prime_above(65537, sieved, n));
    EXPECT_TRUE(quillmere::core::rest_shows_prime_above(4097 * 4097 - 2, sieved, n));
    EXPECT_FALSE(quillmere::core::rest_shows_prime_above(4099 * 4099, sieved, n));
    EXPECT_FALSE(quillmere::core::rest_shows_prime_above(4099 * 4111, sieved, n));
    // Against trial division on random numbers below 2^32 and the products of two primes
    // just above the sieve: true only with a prime factor above n, and Miller-Rabin alone
    // decides what is left.
    Dice dice{std::mt19937_64{4096}};
    const std::vector<std::uint32_t> above = {4099, 4111, 4127, 4129, 4133, 5003, 9973, 65521};
    std::vector<u64> numbers;
    for (const u64 a : above) {
        for (const u64 b : above) numbers.push_back(a * b);
    }
    for (int i = 0; i < 3000; ++i) numbers.push_back(1 + dice.below(u64{1} << 32));
    for (const u64 value : numbers) {
        const u64 rest = rest_after(value, sieved);
        u64 largest = 1;
        u64 m = value;
        for (u64 d = 2; d * d <= m; ++d) {
            while (m % d == 0) {
                largest = d;
                m /= d;
            }
        }
        largest = std::max(largest, m);
        if (quillmere::core::rest_shows_prime_above(rest, sieved, n)) {
            EXPECT_GT(largest, n) << value;
        }
        if (rest > 1) {
            EXPECT_EQ(quillmere::core::is_prime_without_small_factors(rest),
                      quillmere::core::is_prime(rest))
                << value;
        }
    }
}

/// b^e mod m, by 128-bit products.
u64 power_mod(u64 b, u64 e, u64 m) {
    unsigned __int128 result = 1 % m;
    unsigned __int128 base = b % m;
    for (; e != 0; e >>= 1) {
        if ((e & 1) != 0) result = result * base % m;
        base = base * base % m;
    }
    return static_cast<u64>(result);
}

/// The strong probable-prime test to base 2, written out plainly.
bool strong_base_2(u64 n) {
    u64 d = n - 1;
    int s = 0;
    while (d % 2 == 0) {
        d /= 2;
        ++s;
    }
    u64 x = power_mod(2, d, n);
    if (x == 1 || x == n - 1) return true;
    for (int i = 1; i < s; ++i) {
        x = static_cast<u64>(static_cast<unsigned __int128>(x) * x % n);
        if (x == n - 1) return true;
    }
    return false;
}

TEST(Factoring, TheBase2PseudoprimesAboveTheSieveAreThoseTheOrdersOf2Give) {
    // A composite below 2^32 without a prime factor up to 4096 is l1 l2 with primes
    // 4096 < l1 <= l2. 2^(n-1) = 1 (mod l) exactly when the order of 2 modulo l divides
    // n - 1, and n - 1 = l2 - 1 modulo l1 - 1 (a multiple of that order): so l1 l2 passes
    // Fermat's test exactly when ord(l1) divides l2 - 1 and 2^(l1 - 1) = 1 (mod l2). The
    // candidates l2 = 1 + k ord(l1) are few; those that pass the strong test too are the
    // list. No square l^2 passes (2^(l-1) = 1 mod l^2 only for 1093 and 3511 here).
    const u64 top = u64{1} << 32;
    const std::vector<std::uint32_t> primes = quillmere::core::primes_up_to(1048576);
    const auto prime = [&](u64 x) {
        return std::binary_search(primes.begin(), primes.end(), static_cast<std::uint32_t>(x));
    };
    std::vector<std::uint32_t> expected;
    for (const u64 l1 : primes) {
        if (l1 <= 4096) continue;
        if (l1 * l1 >= top) break;
        EXPECT_FALSE(strong_base_2(l1 * l1)) << l1;
        // The order of 2 modulo l1: l1 - 1 less every prime factor it can spare.
        u64 order = l1 - 1;
        u64 rest = order;
        for (const u64 p : primes) {
            if (p * p > rest) break;
            if (rest % p != 0) continue;
            while (rest % p == 0) rest /= p;
            while (order % p == 0 && power_mod(2, order / p, l1) == 1) order /= p;
        }
        if (rest > 1 && power_mod(2, order / rest, l1) == 1) order /= rest;
        const u64 step = order % 2 == 0 ? order : 2 * order;  // l2 odd
        for (u64 l2 = 1 + step * (l1 / step + 1); l1 * l2 < top; l2 += step) {
            if (prime(l2) && power_mod(2, l1 - 1, l2) == 1 && strong_base_2(l1 * l2)) {
                expected.push_back(static_cast<std::uint32_t>(l1 * l2));
            }
        }
    }
    std::sort(expected.begin(), expected.end());
    const std::span<const std::uint32_t> table = quillmere::core::base2_pseudoprimes_above_4096();
    EXPECT_EQ(std::vector<std::uint32_t>(table.begin(), table.end()), expected);
}

TEST(Factoring, PrimalityAfterTheSieveAgreesWithTrialDivision) {
    // What a sieve by the primes up to 4096 leaves: 1, a prime, or a product of two primes
    // above 4096, among them every base-2 pseudoprime of the list and numbers next to them.
    Dice dice{std::mt19937_64{4097}};
    const std::vector<std::uint32_t> primes = quillmere::core::primes_up_to(65536);
    const auto trial_prime = [&](u64 n) {
        for (const u64 p : primes) {
            if (p * p > n) return true;
            if (n % p == 0) return false;
        }
        return true;
    };
    std::vector<u64> numbers = {
        1, 4099, 4097ULL * 4097ULL - 2, 4099ULL * 4099ULL, 65521ULL * 65519ULL, 4294967291ULL};
    for (const std::uint32_t n : quillmere::core::base2_pseudoprimes_above_4096()) {
        numbers.push_back(n);
        numbers.push_back(n + 2);
    }
    const std::vector<std::uint32_t> large(std::upper_bound(primes.begin(), primes.end(), 4096u),
                                           primes.end());
    for (int i = 0; i < (kSanitized ? 20000 : 200000); ++i) {
        if (dice.chance(50)) {
            const u64 a = large[dice.below(large.size())];
            const u64 b = large[dice.below(large.size())];
            if (a * b < (u64{1} << 32)) numbers.push_back(a * b);
        } else {
            numbers.push_back(rest_after(1 + dice.below(u64{1} << 32), 4096));
        }
    }
    // One at a time, and all together (four at a time, the small ones between them).
    std::vector<std::uint32_t> sieved;
    for (const u64 n : numbers) {
        if (rest_after(n, 4096) != n) continue;  // as the sieve leaves them only
        ASSERT_EQ(quillmere::core::is_prime_without_factors_to_4096(n), n > 1 && trial_prime(n))
            << n;
        sieved.push_back(static_cast<std::uint32_t>(n));
    }
    std::vector<std::uint8_t> prime(sieved.size(), 2);
    quillmere::core::primes_without_factors_to_4096(sieved, prime.data());
    for (std::size_t i = 0; i < sieved.size(); ++i) {
        ASSERT_EQ(prime[i], trial_prime(sieved[i]) && sieved[i] > 1 ? 1 : 0) << sieved[i];
    }
}

TEST(Factoring, FactorsFromWhatTheSieveLeftAgreeWithFactorise) {
    // Numbers below 2^32 as the search meets them: random, smooth, products of two primes
    // above 4096 (the rest Pollard's rho splits) with small factors, and primes; each
    // stopped above the limit, above a small bound and not at all.
    Dice dice{std::mt19937_64{1626}};
    const u64 sieved = 4096;
    const std::vector<u64> large = {4099, 4111, 5003, 9973, 31607, 65521, 65537, 999983};
    std::vector<u64> numbers = {1, 2, 4096, 4097, 4099ULL * 4099ULL, 65521ULL * 65519ULL,
                                4294967291ULL, 2ULL * 3 * 5 * 7 * 11 * 13 * 17 * 19 * 23 * 29};
    for (int i = 0; i < 3000; ++i) {
        u64 value = 1 + dice.below(u64{1} << 32);
        if (dice.chance(40)) {
            const u64 a = large[dice.below(large.size())];
            const u64 b = large[dice.below(large.size())];
            value = a * b;
            while (value < (u64{1} << 31) / 300 && dice.chance(70)) value *= 2 + dice.below(300);
        }
        if (value >= (u64{1} << 32)) continue;
        numbers.push_back(value);
    }
    for (const u64 value : numbers) {
        const u64 rest = rest_after(value, sieved);
        const bool rest_prime = rest > 1 && quillmere::core::is_prime(rest);
        for (const u64 stop : {u64{65535}, 257 + dice.below(70000), ~u64{0}}) {
            const quillmere::core::Factorisation expected = quillmere::core::factorise(value, stop);
            // Without the primes the sieve met, and with them (those from 256 to the sieve's
            // bound that divide the value).
            quillmere::core::SievedPrimes met{};
            for (u64 p = 257; p <= sieved; p += 2) {
                if (value % p == 0 && quillmere::core::is_prime(p)) {
                    met.prime[met.count++] = static_cast<std::uint16_t>(p);
                }
            }
            const quillmere::core::SievedPrimes* const kept_or_not[] = {nullptr, &met};
            for (const quillmere::core::SievedPrimes* kept : kept_or_not) {
                const quillmere::core::Factorisation got =
                    quillmere::core::factorise_sieved(value, rest, rest_prime, sieved, stop, kept);
                ASSERT_EQ(got.count < 0, expected.count < 0) << value << " above " << stop;
                if (expected.count < 0) continue;
                ASSERT_EQ(got.count, expected.count) << value;
                for (int i = 0; i < got.count; ++i) {
                    EXPECT_EQ(got.factors[i].prime, expected.factors[i].prime) << value;
                    EXPECT_EQ(got.factors[i].exponent, expected.factors[i].exponent) << value;
                }
            }
        }
    }
}

TEST(Factoring, AGridSieveLeavesWhatTrialDivisionLeaves) {
    // Grids of u alpha + v beta as the best-accuracy search reads its windows: rows of
    // consecutive beta whose alpha ranges drift (and some empty), u and v with common
    // primes or not, wide and tall grids (the sieve goes by rows or by columns, whichever
    // is shorter), so that every kind of prime and both directions are met.
    Dice dice{std::mt19937_64{41}};
    const std::vector<std::uint32_t> primes = quillmere::core::primes_up_to(600);
    const int grids = kSanitized ? 40 : 200;
    for (int g = 0; g < grids; ++g) {
        // Values below 2^32: u, v up to 90000, alpha up to some 2000, beta up to 500.
        u64 u = 1 + dice.below(3000);
        u64 v = 1 + dice.below(3000);
        if (dice.chance(20)) u *= 2 * 3;  // primes dividing u alone
        if (dice.chance(10)) {
            u *= 5;
            v *= 5;  // and both
        }
        const bool tall = dice.chance(50);
        const u64 rows = tall ? 50 + dice.below(400) : 1 + dice.below(12);
        const u64 width = tall ? 1 + dice.below(12) : 20 + dice.below(900);
        std::vector<quillmere::core::GridRow> grid;
        std::vector<std::uint32_t> values;
        u64 lo = 1 + dice.below(50);
        const u64 beta0 = 1 + dice.below(30);
        for (u64 r = 0; r < rows; ++r) {
            quillmere::core::GridRow row;
            row.beta = beta0 + r;
            lo = dice.chance(50) || lo <= 3 ? lo + dice.below(3) : lo - dice.below(3);
            row.alpha_lo = lo;
            row.alpha_hi = dice.chance(5) ? lo - 1 : lo + dice.below(width);
            row.offset = values.size();
            for (u64 a = row.alpha_lo; a <= row.alpha_hi; ++a) {
                values.push_back(static_cast<std::uint32_t>(u * a + v * row.beta));
            }
            grid.push_back(row);
        }
        std::vector<std::uint32_t> rest = values;
        std::vector<quillmere::core::SievedPrimes> met(values.size(),
                                                       quillmere::core::SievedPrimes{});
        const quillmere::core::GridSieve sieve(primes, u, v);
        sieve.sieve(grid, &rest, &met);
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_EQ(rest[i], rest_after(values[i], 600))
                << values[i] << " = " << u << " alpha + " << v << " beta, grid " << g;
            // The primes from 256 up that divide the value, each once, in increasing order.
            std::vector<std::uint16_t> dividing;
            for (const std::uint32_t p : primes) {
                if (p > 256 && values[i] % p == 0)
                    dividing.push_back(static_cast<std::uint16_t>(p));
            }
            ASSERT_EQ(std::vector<std::uint16_t>(met[i].prime, met[i].prime + met[i].count),
                      dividing)
                << values[i];
        }
    }
}

// ---------------------------------------------------------------------------------------
// The search against a scan of every cascade
// ---------------------------------------------------------------------------------------

struct Cascade {
    bool found = false;
    u64 a = 0, b = 0, c = 0, d = 0;
    u64 sum = 0;
    ExactError e;
};

/// Every cascade a/b -> c/d with a, b, c, d in 1..n. For each a, b, c the error is V-shaped
/// in d (it falls while a c / (b d) is above the ratio, then rises), so the most accurate d
/// is one of the two around a c / (b r), and the d with the smallest sum inside an error
/// band is the smallest d up to there inside it, found by halving (the band's d form one
/// run). The priority's leader and class come from judge_by_priority itself.
class Scan {
public:
    Scan(const AccuracyRequest& r) : request_(r), n_(static_cast<u64>(r.max_factor)) {
        ratio_ = ExactRatio::of(r.input_rate_hz, r.output_rate_hz);
        judge_.input_rate_hz = r.input_rate_hz;
        judge_.output_rate_hz = r.output_rate_hz;
        judge_.intermediate_target = r.intermediate_target;
    }

    Cascade run() {
        // 1. The leader: accepted by the priority over every other candidate, with the
        //    smallest intermediate error among those; then the class it leaves.
        quillmere::core::CascadeRecord leader = quillmere::core::make_empty_record();
        visit_best_d([&](const Candidate& c) {
            if (c.in_tolerance && judge(c, leader) == quillmere::core::Verdict::accept) {
                leader = record(c);
            }
        });
        if (!leader.found) return {};
        visit_best_d([&](const Candidate& c) {
            if (c.in_tolerance && judge(c, leader) == quillmere::core::Verdict::mode_order &&
                c.measures.intermediate_error < leader.intermediate_error) {
                leader = record(c);
            }
        });
        // 2. The smallest error of the class (exactly; the double only skips the hopeless).
        std::optional<ExactError> best;
        visit_best_d([&](const Candidate& c) {
            if (!c.in_tolerance || !in_class(c, leader)) return;
            if (best && c.approx > best->approx + 1e-14 * (1.0 + best->approx)) return;
            const ExactError e = exact(c);
            if (!best || quillmere::core::compare_errors(e, *best) < 0) best = e;
        });
        // 3. Within the tie of that error, the smallest sum, error, (a, b, c, d).
        Cascade chosen;
        for (u64 a = 1; a <= n_; ++a) {
            for (u64 b = 1; b <= n_; ++b) {
                if (!request_.allow_first_stage_decimation && a < b) continue;
                for (u64 c = 1; c <= n_; ++c) {
                    const double d0 =
                        static_cast<double>(a * c) / (static_cast<double>(b) * ratio_.approx);
                    double nearest = std::numeric_limits<double>::infinity();
                    for (const u64 d : around(d0)) nearest = std::min(nearest, approx(a, b, c, d));
                    if (nearest > best->approx + 1e-14 * (1.0 + best->approx)) continue;
                    const auto fits = [&](u64 d) {
                        const Candidate cand = measure(a, b, c, d);
                        return cand.in_tolerance && in_class(cand, leader) &&
                               quillmere::core::error_within_tie(exact(cand), *best);
                    };
                    // The last d whose ratio is not below the requested one.
                    u64 top = 0;
                    for (u64 d = static_cast<u64>(std::clamp(d0 - 2.0, 0.0, double(n_)));
                         d <= std::min<u64>(n_, static_cast<u64>(std::max(d0, 0.0)) + 2); ++d) {
                        if (d >= 1 && side(a * c, b * d) >= 0) top = d;
                    }
                    u64 found = 0;
                    if (top >= 1 && fits(top)) {
                        u64 lo = 0, hi = top;  // fits(hi), !fits(lo) or lo = 0
                        while (hi - lo > 1) {
                            const u64 mid = lo + (hi - lo) / 2;
                            (fits(mid) ? hi : lo) = mid;
                        }
                        found = hi;
                    } else if (top + 1 <= n_ && fits(top + 1)) {
                        found = top + 1;
                    }
                    if (found == 0) continue;
                    const Cascade x{
                        true, a, b, c, found, a + b + c + found, exact(measure(a, b, c, found))};
                    if (better(x, chosen)) chosen = x;
                }
            }
        }
        return chosen;
    }

private:
    struct Candidate {
        u64 a, b, c, d;
        double approx;  ///< the error in double, within 1e-15 (1 + E) of the exact one
        bool in_tolerance;
        quillmere::core::CandidateMeasures measures;
    };

    int side(u64 p, u64 q) const {
        return quillmere::core::compare(quillmere::core::Wide::of(ratio_.b) * p,
                                        quillmere::core::Wide::of(ratio_.a) * q);
    }

    double approx(u64 a, u64 b, u64 c, u64 d) const {
        const double v = static_cast<double>(a * c) / static_cast<double>(b * d);
        return std::fabs(v - ratio_.approx) / ratio_.approx;
    }

    ExactError exact(const Candidate& c) const {
        return quillmere::core::exact_error(ratio_, c.a * c.c, c.b * c.d);
    }

    /// Whether the error is below (or at most) a limit: the double where it is far from
    /// the limit, the exact error where it is near.
    bool under(const Candidate& c, double limit, bool inclusive) const {
        const double margin = 1e-14 * (1.0 + limit);
        if (c.approx < limit - margin) return true;
        if (c.approx > limit + margin) return false;
        const ExactError e = exact(c);
        return inclusive ? quillmere::core::error_at_most(e, limit)
                         : quillmere::core::error_below(e, limit);
    }

    Candidate measure(u64 a, u64 b, u64 c, u64 d) const {
        Candidate cand{a, b, c, d, approx(a, b, c, d), true, {}};
        cand.in_tolerance = !request_.tolerance || under(cand, request_.tolerance->relative, true);
        cand.measures.final_match = under(cand, quillmere::match_tolerance, false);
        cand.measures.intermediate_error = std::numeric_limits<double>::infinity();
        if (request_.intermediate_target) {
            const double rate = quillmere::core::guarded_product(
                request_.input_rate_hz, static_cast<double>(a) / static_cast<double>(b));
            const double target = request_.intermediate_target->rate_hz;
            cand.measures.intermediate_error = std::fabs(rate - target);
            cand.measures.intermediate_match =
                quillmere::core::relative_error(rate, target) < quillmere::match_tolerance;
        }
        return cand;
    }

    /// The two d around d0 within 1..n (the same one twice at the ends): the most
    /// accurate d is one of them.
    std::array<u64, 2> around(double d0) const {
        const double f = std::floor(d0);
        return {static_cast<u64>(std::clamp(f, 1.0, double(n_))),
                static_cast<u64>(std::clamp(f + 1.0, 1.0, double(n_)))};
    }

    template <typename Visit>
    void visit_best_d(Visit&& visit) const {
        for (u64 a = 1; a <= n_; ++a) {
            for (u64 b = 1; b <= n_; ++b) {
                if (!request_.allow_first_stage_decimation && a < b) continue;
                for (u64 c = 1; c <= n_; ++c) {
                    const double d0 =
                        static_cast<double>(a * c) / (static_cast<double>(b) * ratio_.approx);
                    for (const u64 d : around(d0)) visit(measure(a, b, c, d));
                }
            }
        }
    }

    quillmere::core::Verdict judge(const Candidate& c,
                                   const quillmere::core::CascadeRecord& b) const {
        return quillmere::core::judge_by_priority(c.measures, b, judge_);
    }

    bool in_class(const Candidate& c, const quillmere::core::CascadeRecord& leader) const {
        return judge(c, leader) == quillmere::core::Verdict::mode_order;
    }

    static quillmere::core::CascadeRecord record(const Candidate& c) {
        quillmere::core::CascadeRecord r = quillmere::core::make_empty_record();
        r.found = true;
        r.final_match = c.measures.final_match;
        r.intermediate_error = c.measures.intermediate_error;
        r.intermediate_match = c.measures.intermediate_match;
        return r;
    }

    static bool better(const Cascade& x, const Cascade& y) {
        if (!y.found) return true;
        if (x.sum != y.sum) return x.sum < y.sum;
        const int by_error = quillmere::core::compare_errors(x.e, y.e);
        if (by_error != 0) return by_error < 0;
        return std::tie(x.a, x.b, x.c, x.d) < std::tie(y.a, y.b, y.c, y.d);
    }

    AccuracyRequest request_;
    u64 n_;
    ExactRatio ratio_;
    quillmere::TwoStageRequest judge_;
};

const std::vector<double> RATES = {8000,  11025, 16000, 22050,  24000,  32000, 44100,
                                   48000, 88200, 96000, 176400, 192000, 37800, 50000};

double random_rate(Dice& dice) {
    switch (dice.below(4)) {
    case 0: return RATES[dice.below(RATES.size())];
    case 1: return static_cast<double>(1 + dice.below(200000));
    case 2: return dice.log_between(1.0, 1e13);
    default: return std::round(dice.log_between(1000.0, 1e6) * 100.0) / 100.0;
    }
}

AccuracyRequest random_request(Dice& dice, long long max_limit) {
    AccuracyRequest r;
    r.input_rate_hz = random_rate(dice);
    if (dice.chance(35)) {
        // An output rate that some cascade within the limit reaches exactly.
        const u64 n = static_cast<u64>(max_limit);
        const double ratio = static_cast<double>((1 + dice.below(n)) * (1 + dice.below(n))) /
                             static_cast<double>((1 + dice.below(n)) * (1 + dice.below(n)));
        r.output_rate_hz = std::clamp(r.input_rate_hz * ratio, 1.0, 1e13);
    } else if (dice.chance(30)) {
        r.output_rate_hz = r.input_rate_hz * dice.log_between(0.1, 10.0);
    } else {
        r.output_rate_hz = random_rate(dice);
    }
    r.max_factor = static_cast<long long>(1 + dice.below(static_cast<u64>(max_limit)));
    r.allow_first_stage_decimation = dice.chance(50);
    if (dice.chance(50)) {
        const Priority priorities[] = {Priority::strict, Priority::final, Priority::balanced,
                                       Priority::ignore};
        double target = r.input_rate_hz * dice.log_between(0.2, 5.0);
        if (dice.chance(40)) {
            // A target some first stage reaches.
            const u64 n = static_cast<u64>(r.max_factor);
            target = r.input_rate_hz * static_cast<double>(1 + dice.below(n)) /
                     static_cast<double>(1 + dice.below(n));
        }
        r.intermediate_target =
            IntermediateTarget{std::clamp(target, 1.0, 1e13), priorities[dice.below(4)]};
    }
    if (dice.chance(15)) r.tolerance = Tolerance{dice.log_between(1e-12, 1e-2)};
    return r;
}

std::string describe(const AccuracyRequest& r) {
    std::string s = std::to_string(r.input_rate_hz) + " -> " + std::to_string(r.output_rate_hz) +
                    " limit " + std::to_string(r.max_factor) +
                    (r.allow_first_stage_decimation ? " -a" : "");
    char exact[128];
    std::snprintf(exact, sizeof exact, " (%a -> %a)", r.input_rate_hz, r.output_rate_hz);
    s += exact;
    if (r.intermediate_target) {
        std::snprintf(exact, sizeof exact, " target %a %s", r.intermediate_target->rate_hz,
                      quillmere::priority_name(r.intermediate_target->priority));
        s += exact;
    }
    if (r.tolerance) s += " tolerance " + std::to_string(r.tolerance->relative);
    return s;
}

AccuracyResult search(const AccuracyRequest& r) {
    const quillmere::core::SearchContext context;
    return quillmere::core::search_best_accuracy(context, r);
}

/// Runs `requests` random requests (limits up to 30 or 60, `adjust` applied) through the
/// search and the scan, and returns how many found a cascade; both must give the same.
template <typename Adjust>
int compare_with_scan(Dice& dice, int requests, Adjust&& adjust) {
    int found = 0;
    for (int i = 0; i < requests; ++i) {
        AccuracyRequest r = random_request(dice, dice.chance(70) ? 30 : 60);
        adjust(r);
        const Cascade expected = Scan(r).run();
        const AccuracyResult got = search(r);
        EXPECT_EQ(got.status == Status::ok, expected.found) << describe(r);
        if (got.status != Status::ok || !expected.found) continue;
        ++found;
        EXPECT_EQ((std::array<long long, 4>{got.best.l1, got.best.m1, got.best.l2, got.best.m2}),
                  (std::array<long long, 4>{static_cast<long long>(expected.a),
                                            static_cast<long long>(expected.b),
                                            static_cast<long long>(expected.c),
                                            static_cast<long long>(expected.d)}))
            << describe(r);
        if (::testing::Test::HasFailure()) break;
    }
    return found;
}

TEST(BestAccuracy, AgreesWithAScanOfEveryCascade) {
    Dice dice{std::mt19937_64{2026}};
    const int requests = kSanitized ? 300 : 2000;
    EXPECT_GT(compare_with_scan(dice, requests, [](AccuracyRequest&) {}), requests / 2);
}

TEST(BestAccuracy, AgreesWithTheScanAtTolerancesFinerThanADouble) {
    // The accepted overall ratios are then read from their exact interval, and with a target
    // the first stages are found from them.
    Dice dice{std::mt19937_64{2027}};
    const int requests = kSanitized ? 100 : 600;
    const int found = compare_with_scan(dice, requests, [&dice](AccuracyRequest& r) {
        r.tolerance = Tolerance{dice.chance(20) ? 0.0 : dice.log_between(1e-19, 1e-13)};
    });
    EXPECT_GT(found, requests / 20);
}

TEST(BestAccuracy, FindsTheNearestFirstStagesWhereAcceptedCascadesAreRare) {
    // With such tolerances at limit 65535 the walks from the target pass over millions of
    // first stages without one (tens of seconds); the answers are what they found.
    struct Case {
        AccuracyRequest request;
        std::array<long long, 4> stages;
    };
    const auto make = [](double in, double out, bool allow, double target, Priority priority,
                         double tolerance, long long limit = 65535) {
        AccuracyRequest r;
        r.input_rate_hz = in;
        r.output_rate_hz = out;
        r.max_factor = limit;
        r.allow_first_stage_decimation = allow;
        r.intermediate_target = IntermediateTarget{target, priority};
        r.tolerance = Tolerance{tolerance};
        return r;
    };
    const Case cases[] = {
        {make(966884.33, 972484, false, 1979850.4655601629, Priority::balanced,
              1.891507551669333e-17),
         {36532, 19977, 31409, 57107}},
        {make(182537, 281251, true, 28338.074419642639, Priority::final, 7.3020576631965021e-15),
         {12826, 65427, 60638, 7715}},
        {make(705600, 2934439.6133296597, false, 2279284.5988889965, Priority::final,
              3.7655689436453176e-18),
         {59149, 15489, 65095, 59773}},
        // Tens of thousands of accepted ratios reach the target, read through the sieve
        // after some 10^5 steps of the walks.
        {make(384000, 549690.59189273417, false, 662738.02513235994, Priority::final,
              5.2054462350028179e-15),
         {37445, 21688, 20717, 24987}},
        {make(587572, 22050, true, 35992.036890440642, Priority::final, 2.241924457098493e-14),
         {3592, 63951, 42877, 64175}},
        // Walks whose cursors jump at every step (the stages on the other side lie an order
        // of magnitude denser), which hand over to the window after fewer steps.
        {make(509203, 51471, false, 535983.12909438205, Priority::final, 1.9521685315452417e-14),
         {28757, 27297, 3622, 37749}},
        {make(24000, 649592, true, 1420143.396457864, Priority::balanced, 1.644909070981645e-13),
         {65418, 1277, 32659, 61813}},
        // Where the walks and the window take about as long, which the search races on two
        // threads where it can: the walks alone and the window alone found these.
        {make(912049, 985149, false, 1004550.2634542637, Priority::final, 4.4549920234213267e-15,
              65190),
         {12244, 11119, 27172, 27701}},
        {make(325417.88, 618934.5335660628, true, 688321.40532931138, Priority::final,
              5.7764390668258002e-15),
         {53753, 25419, 37832, 42063}},
    };
    // With a second thread where the machine has one, and on one thread.
    const quillmere::core::SearchContext raced;
    const quillmere::core::SearchContext alone = raced.one_thread();
    for (const Case& c : cases) {
        for (const quillmere::core::SearchContext* context : {&raced, &alone}) {
            const AccuracyResult got = quillmere::core::search_best_accuracy(*context, c.request);
            ASSERT_EQ(got.status, Status::ok) << describe(c.request);
            EXPECT_EQ(
                (std::array<long long, 4>{got.best.l1, got.best.m1, got.best.l2, got.best.m2}),
                c.stages)
                << describe(c.request);
            EXPECT_TRUE(quillmere::core::error_at_most(got.error, c.request.tolerance->relative));
        }
    }
}

/// The smallest intermediate error of a first stage that has a second stage with an
/// accepted error (at most the tolerance, and below match_tolerance with need_match), found
/// by testing the first stages of the request in rings of growing intermediate error, each
/// against the two second stages around r b / a: none of the search's windows, walks or
/// bounds.
std::optional<double> nearest_first_stage_error(const AccuracyRequest& r, bool need_match) {
    const u64 n = static_cast<u64>(r.max_factor);
    const ExactRatio ratio = ExactRatio::of(r.input_rate_hz, r.output_rate_hz);
    const double x = r.input_rate_hz;
    const double target = r.intermediate_target->rate_hz;
    const double t = target / x;
    const double tolerance = r.tolerance->relative;
    const auto has_second = [&](u64 a, u64 b) {
        const double v = ratio.approx * static_cast<double>(b) / static_cast<double>(a);
        const double reach = tolerance * (1.0 + 1e-6) + 1e-13;
        // Skips the first stages without a second stage near (tested above).
        if (quillmere::core::surely_none_between(n, v * (1.0 - reach), v * (1.0 + reach))) {
            return false;
        }
        const quillmere::core::Bracket br = quillmere::core::bracket(n, [&](u64 c, u64 d) {
            return quillmere::core::compare(quillmere::core::Wide::of(ratio.b) * (a * c),
                                            quillmere::core::Wide::of(ratio.a) * (b * d)) < 0;
        });
        for (const Fraction& f : {br.below, br.above}) {
            if (f.none_below() || f.none_above()) continue;
            const ExactError e = quillmere::core::exact_error(ratio, a * f.p, b * f.q);
            if (quillmere::core::error_at_most(e, tolerance) &&
                (!need_match || quillmere::core::error_below(e, quillmere::match_tolerance))) {
                return true;
            }
        }
        return false;
    };
    // The first stages within `reach` of t, less those of the rings before, which had none.
    double tested = -1.0;
    for (double reach = 1e-7 * t;; reach *= 4.0) {
        const bool everything = reach > 2.0 * static_cast<double>(n);
        // Those enumerated for certain: within the reach, less the roundings.
        const double sure = everything ? INFINITY : x * reach * (1.0 - 1e-9) - 1e-9 * target;
        std::optional<double> nearest;
        for (u64 b = 1; b <= n; ++b) {
            const double bd = static_cast<double>(b);
            const double lo = std::max(1.0, std::floor((t - reach) * bd) - 1.0);
            const double hi = std::min(static_cast<double>(n), std::ceil((t + reach) * bd) + 1.0);
            for (u64 a = static_cast<u64>(lo); static_cast<double>(a) <= hi; ++a) {
                if (std::gcd(a, b) != 1 || (!r.allow_first_stage_decimation && a < b)) continue;
                const double rate =
                    quillmere::core::guarded_product(x, static_cast<double>(a) / bd);
                const double ie = std::fabs(rate - target);
                if (ie <= tested || ie > sure || (nearest && ie >= *nearest)) continue;
                if (has_second(a, b)) nearest = ie;
            }
        }
        if (nearest || everything) return nearest;
        tested = sure;
    }
}

TEST(BestAccuracy, FindsTheNearestFirstStageAmongManyAcceptedRatios) {
    // Requests whose accepted window holds hundreds to hundreds of thousands of overall
    // ratios: with targets near and far at limits near 1000, so that the ratios are read
    // and passed over by how near their first stages can come to the target; and with
    // targets within reach at limits of some thousands, where the walks from the target
    // pass over the first stages without a second stage. The nearest first stage must be
    // the one a test of every first stage finds.
    Dice dice{std::mt19937_64{2028}};
    const int requests = kSanitized ? 10 : 64;
    int reached = 0;
    for (int i = 0; i < requests; ++i) {
        const bool walked = i % 2 == 1;
        AccuracyRequest r;
        r.max_factor =
            static_cast<long long>(walked ? 2000 + dice.below(3000) : 400 + dice.below(600));
        r.input_rate_hz = static_cast<double>(1000 + dice.below(200000));
        r.output_rate_hz = std::round(r.input_rate_hz * dice.log_between(0.2, 5.0));
        r.allow_first_stage_decimation = dice.chance(50);
        // Without decimation no first stage lies below 1/1.
        const double lowest = r.allow_first_stage_decimation ? 0.3 : 1.0;
        const double target =
            std::round(r.input_rate_hz *
                       (walked ? dice.log_between(lowest, 3.0) : dice.log_between(0.01, 100.0)));
        r.intermediate_target = IntermediateTarget{target, Priority::final};
        // The window's ratios: about 0.3 n^4 x 2 r w / max(1, r)^2.
        const double ratio = r.output_rate_hz / r.input_rate_hz;
        const double n4 = std::pow(static_cast<double>(r.max_factor), 4.0);
        const double in_window =
            walked ? dice.log_between(1e4, 3e5) : dice.log_between(100.0, 20000.0);
        double tolerance = in_window * std::max(1.0, ratio * ratio) / (0.6 * n4 * ratio);
        // Below match_tolerance every accepted cascade matches: one class to look for.
        if (walked) tolerance = std::min(tolerance, 0.9 * quillmere::match_tolerance);
        r.tolerance = Tolerance{tolerance};
        std::optional<double> expected = nearest_first_stage_error(r, true);
        if (!expected && tolerance >= quillmere::match_tolerance) {
            expected = nearest_first_stage_error(r, false);
        }
        const AccuracyResult got = search(r);
        ASSERT_EQ(got.status == Status::ok, expected.has_value()) << describe(r);
        if (!expected) continue;
        ++reached;
        EXPECT_NEAR(got.best.intermediate_error, *expected, 1e-13 * target) << describe(r);
        EXPECT_TRUE(quillmere::core::error_at_most(got.error, r.tolerance->relative))
            << describe(r);
    }
    EXPECT_GT(reached, requests / 2);
}

}  // namespace

namespace {

quillmere::TwoStageResult custom_limit(const AccuracyRequest& r) {
    quillmere::TwoStageRequest t;
    t.input_rate_hz = r.input_rate_hz;
    t.output_rate_hz = r.output_rate_hz;
    t.mode = quillmere::SearchMode::custom_limit;
    t.max_factor = r.max_factor;
    t.allow_first_stage_decimation = r.allow_first_stage_decimation;
    t.intermediate_target = r.intermediate_target;
    return quillmere::solve_two_stage(t);
}

TEST(BestAccuracy, IsNeverLessAccurateThanCustomLimit) {
    Dice dice{std::mt19937_64{77}};
    const int requests = kSanitized ? 40 : 300;
    for (int i = 0; i < requests; ++i) {
        AccuracyRequest r = random_request(dice, 65535);
        r.tolerance.reset();
        if (dice.chance(50)) r.max_factor = 65535;
        const quillmere::TwoStageResult other = custom_limit(r);
        const AccuracyResult mine = search(r);
        if (other.status != Status::ok) continue;
        ASSERT_EQ(mine.status, Status::ok) << describe(r);
        const ExactRatio ratio = ExactRatio::of(r.input_rate_hz, r.output_rate_hz);
        const ExactError theirs =
            quillmere::core::exact_error(ratio, static_cast<u64>(other.first.l * other.second.l),
                                         static_cast<u64>(other.first.m * other.second.m));
        // The priority comes first: where it prefers this search's cascade (a nearer
        // intermediate rate, a final match) the error may be larger.
        quillmere::core::CandidateMeasures c{};
        c.final_match = quillmere::core::error_below(theirs, quillmere::match_tolerance);
        c.intermediate_error = other.intermediate_error
                                   ? std::fabs(other.intermediate_error->difference_hz)
                                   : std::numeric_limits<double>::infinity();
        c.intermediate_match = other.intermediate_match;
        quillmere::TwoStageRequest judge;
        judge.intermediate_target = r.intermediate_target;
        const quillmere::core::Verdict verdict =
            quillmere::core::judge_by_priority(c, mine.best, judge);
        ASSERT_NE(verdict, quillmere::core::Verdict::accept) << describe(r);
        if (verdict == quillmere::core::Verdict::reject) continue;
        EXPECT_TRUE(quillmere::core::compare_errors(mine.error, theirs) <= 0 ||
                    quillmere::core::error_within_tie(mine.error, theirs))
            << describe(r) << ": " << mine.error.approx << " against " << theirs.approx;
    }
}

AccuracyRequest request(double in, double out, long long limit, bool allow = true) {
    AccuracyRequest r;
    r.input_rate_hz = in;
    r.output_rate_hz = out;
    r.max_factor = limit;
    r.allow_first_stage_decimation = allow;
    return r;
}

TEST(BestAccuracy, FindsWhatTheConvergentSplitsMiss) {
    // Custom-limit answers 1/2 -> 17/2 (1.7e-3); 78/97 -> 90/17 is within 5.5e-7.
    const AccuracyResult r = search(request(22050, 93869.67, 101, false));
    ASSERT_EQ(r.status, Status::ok);
    const ExactError known =
        quillmere::core::exact_error(ExactRatio::of(22050, 93869.67), 78 * 90, 97 * 17);
    EXPECT_LE(quillmere::core::compare_errors(r.error, known), 0);
    EXPECT_LT(r.error.approx, 5.6e-7);
    EXPECT_LE(r.best.l1, 101);
    EXPECT_GE(r.best.l1, r.best.m1);
    // Non-exact ratios are approximated, not passed through.
    const AccuracyResult near = search(request(44100, 48000.5, 65535));
    ASSERT_EQ(near.status, Status::ok);
    EXPECT_LT(near.error.approx, 1e-12);
    EXPECT_FALSE(near.best.l1 == 1 && near.best.m1 == 1 && near.best.l2 == 1);
}

TEST(BestAccuracy, GivesEveryStageInLowestTermsAndTheSmallestSumOfTheExactRatio) {
    AccuracyRequest r = request(44100, 48000, 65535);
    r.intermediate_target = IntermediateTarget{8000, Priority::strict};
    const AccuracyResult strict = search(r);
    ASSERT_EQ(strict.status, Status::ok);
    EXPECT_EQ(std::gcd(strict.best.l1, strict.best.m1), 1);
    EXPECT_EQ(std::gcd(strict.best.l2, strict.best.m2), 1);
    EXPECT_EQ(strict.best.l1 * 44100 / strict.best.m1, 8000);
    EXPECT_EQ(strict.best.l1 + strict.best.m1, 80 + 441);
    EXPECT_EQ(strict.best.l2, 6);
    EXPECT_EQ(strict.best.m2, 1);
    // 160/147 splits as 10/7 x 16/21 (sum 54) or 16/21 x 10/7; the smaller L1 comes first.
    const AccuracyResult plain = search(request(44100, 48000, 65535));
    ASSERT_EQ(plain.status, Status::ok);
    EXPECT_EQ(plain.best.overall_sum, 54);
    EXPECT_TRUE(plain.best.final_match);
    EXPECT_EQ(plain.error.approx, 0.0);
}

/// The smallest x1 + x2 with x1 x2 = x and both at most n, and the smallest x1 giving it,
/// by trial division; {0, 0} when no such pair is.
std::pair<u64, u64> smallest_split(u64 x, u64 n, const std::vector<u64>& primes) {
    std::vector<u64> divisors{1};
    u64 rest = x;
    for (const u64 p : primes) {
        if (p * p > rest) break;
        const std::size_t size = divisors.size();
        for (u64 power = 1; rest % p == 0;) {
            rest /= p;
            power *= p;
            for (std::size_t j = 0; j < size; ++j) divisors.push_back(divisors[j] * power);
        }
    }
    if (rest > n) return {0, 0};
    if (rest > 1) {
        const std::size_t size = divisors.size();
        for (std::size_t j = 0; j < size; ++j) divisors.push_back(divisors[j] * rest);
    }
    std::pair<u64, u64> best{0, 0};
    for (const u64 d : divisors) {
        if (d > n || x / d > n) continue;
        const u64 sum = d + x / d;
        if (best.first == 0 || sum < best.first || (sum == best.first && d < best.second)) {
            best = {sum, d};
        }
    }
    return best;
}

TEST(BestAccuracy, FindsTheSmallestSumWhereTheTieBandIsLong) {
    // out/in = h/k in lowest terms with h a prime above the limit: no cascade is exact, and
    // every overall ratio p/q of the cut tree at n^2 = 65535^2 within 6.9e-15 of it lies on
    // p k - q h = +-1, at the error 1 / (q h). The most accurate that splits sits near the
    // largest q; the band tied with it holds some 24,000 ratios, and the smallest sum is
    // near the band's smallest q, the last that a walk outward from h/k reaches. The scan
    // here factors every ratio of the two lines by trial division, nearest first.
    struct Case {
        double in, out;
        u64 k, h;
    };
    const u64 n = 65535;
    std::vector<u64> primes;
    for (u64 d = 2; d <= n + 1; ++d) {
        if (std::all_of(primes.begin(), primes.end(),
                        [d](u64 p) { return p * p > d || d % p != 0; }))
            primes.push_back(d);
    }
    for (const Case& c : {Case{458654, 471793, 65522, 67399}, Case{48000, 70981, 48000, 70981}}) {
        const ExactRatio ratio = ExactRatio::of(c.in, c.out);
        std::vector<std::pair<u64, u64>> line;  // (q, p), sorted by decreasing q
        for (const int s : {1, -1}) {
            // The first q with q h + s a multiple of k.
            const u64 shift = s > 0 ? 1 : c.k - 1;
            u64 q0 = 1;
            while ((q0 * c.h + shift) % c.k != 0) ++q0;
            for (u64 q = q0; q <= n * n; q += c.k) {
                const u64 p = s > 0 ? (q * c.h + 1) / c.k : (q * c.h - 1) / c.k;
                if (p >= 1 && p <= n * n) line.emplace_back(q, p);
            }
        }
        std::sort(line.rbegin(), line.rend());
        std::optional<ExactError> smallest;
        std::array<u64, 4> expected{};
        u64 expected_sum = 0;
        std::size_t band = 0, walked = 0, best_at = 0;
        for (const auto& [q, p] : line) {
            const ExactError e = quillmere::core::exact_error(ratio, p, q);
            if (smallest && !quillmere::core::error_within_tie(e, *smallest)) break;
            ++walked;
            if (smallest) ++band;
            const auto [p_sum, p1] = smallest_split(p, n, primes);
            const auto [q_sum, q1] =
                p_sum == 0 ? std::pair<u64, u64>{0, 0} : smallest_split(q, n, primes);
            if (q_sum == 0) continue;
            if (!smallest) smallest = e;
            // Along the line the error falls as q grows: a later ratio of the same sum loses.
            if (expected_sum == 0 || p_sum + q_sum < expected_sum) {
                expected_sum = p_sum + q_sum;
                expected = {p1, q1, p / p1, q / q1};
                best_at = walked;
            }
        }
        ASSERT_TRUE(smallest) << c.in;
        // Nothing off the two lines comes within the band: those lie 2 / (q h) or more away.
        ASSERT_LT(smallest->approx + 1e-15,
                  2.0 / (static_cast<double>(n * n) * static_cast<double>(c.h)));
        EXPECT_GT(band, 1000u) << c.in;
        EXPECT_GT(best_at, walked / 2) << c.in;
        const AccuracyResult got = search(request(c.in, c.out, static_cast<long long>(n)));
        ASSERT_EQ(got.status, Status::ok);
        EXPECT_EQ(
            (std::array<u64, 4>{static_cast<u64>(got.best.l1), static_cast<u64>(got.best.m1),
                                static_cast<u64>(got.best.l2), static_cast<u64>(got.best.m2)}),
            expected)
            << c.in << " -> " << c.out;
        EXPECT_EQ(got.best.overall_sum, static_cast<long long>(expected_sum));
    }
}

TEST(BestAccuracy, RefusesWhatMissesTheToleranceAndSaysByHowMuch) {
    AccuracyRequest r = request(44100, 48000.5, 10);
    r.tolerance = Tolerance{1e-9};
    const AccuracyResult missed = search(r);
    EXPECT_EQ(missed.status, Status::not_found);
    EXPECT_GT(missed.best_error_found, 1e-9);
    EXPECT_NE(missed.message.find("tolerance of 1e-09"), std::string::npos) << missed.message;
    EXPECT_NE(missed.message.find("misses by"), std::string::npos) << missed.message;
    // Within a wider tolerance the most accurate cascade is still the answer.
    r.tolerance = Tolerance{1e-2};
    const AccuracyResult wide = search(r);
    ASSERT_EQ(wide.status, Status::ok);
    r.tolerance.reset();
    EXPECT_EQ(wide.best.overall_sum, search(r).best.overall_sum);
    AccuracyRequest strict = request(44100, 48000, 10);
    strict.intermediate_target = IntermediateTarget{12345, Priority::strict};
    const AccuracyResult none = search(strict);
    EXPECT_EQ(none.status, Status::not_found);
    EXPECT_FALSE(none.message.empty());
}

TEST(BestAccuracy, StopsWhenAsked) {
    std::atomic<bool> stop{true};
    quillmere::SolveOptions options;
    options.stop_flag = &stop;
    const quillmere::core::SearchContext context(options);
    const AccuracyResult r =
        quillmere::core::search_best_accuracy(context, request(48000, 71237, 65535));
    EXPECT_EQ(r.status, Status::stopped);
}

TEST(BestAccuracy, StopsWhenAskedWhileItsRoutesRace) {
    // A request whose walk and window take milliseconds each, the second on its own thread
    // where there is one: a stop asked for meanwhile stops both, and nothing is answered
    // (or, should the stop come after the answer on a busy machine, the right one).
    AccuracyRequest r = request(912049, 985149, 65190);
    r.allow_first_stage_decimation = false;
    r.intermediate_target = IntermediateTarget{1004550.2634542637, Priority::final};
    r.tolerance = Tolerance{4.4549920234213267e-15};
    for (const bool one_thread : {false, true}) {
        std::atomic<bool> stop{false};
        quillmere::SolveOptions options;
        options.stop_flag = &stop;
        const quillmere::core::SearchContext raced(options);
        const quillmere::core::SearchContext context = one_thread ? raced.one_thread() : raced;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            stop = true;
        });
        const AccuracyResult got = quillmere::core::search_best_accuracy(context, r);
        stopper.join();
        if (got.status == Status::ok) {
            EXPECT_EQ(
                (std::array<long long, 4>{got.best.l1, got.best.m1, got.best.l2, got.best.m2}),
                (std::array<long long, 4>{12244, 11119, 27172, 27701}));
            continue;
        }
        EXPECT_EQ(got.status, Status::stopped) << (one_thread ? "one thread" : "raced");
    }
}

}  // namespace
