#include "core/factoring.h"

#include <algorithm>
#include <numeric>

namespace quillmere::inline v2::core {

namespace {

using u128 = unsigned __int128;

constexpr std::uint64_t SMALL_PRIMES[] = {
    2,   3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,  43,  47,  53,  59,  61,
    67,  71,  73,  79,  83,  89,  97,  101, 103, 107, 109, 113, 127, 131, 137, 139, 149, 151,
    157, 163, 167, 173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229, 233, 239, 241, 251};
constexpr std::uint64_t TRIAL_LIMIT = 256;
constexpr int SMALL_PRIME_COUNT = sizeof SMALL_PRIMES / sizeof SMALL_PRIMES[0];

/// p^-1 modulo 2^64 for odd p (Newton's iteration doubles the correct bits).
constexpr std::uint64_t inverse_2_64(std::uint64_t p) {
    std::uint64_t x = p;
    for (int i = 0; i < 6; ++i) x *= 2 - p * x;
    return x;
}

/// For each odd small prime: its inverse modulo 2^64 and the largest quotient, so that
/// p divides n exactly when n x inverse <= limit (no division).
struct DivisibilityTest {
    std::uint64_t inverse;
    std::uint64_t limit;
};

constexpr auto make_tests() {
    struct Table {
        DivisibilityTest t[SMALL_PRIME_COUNT];
    } table{};
    for (int i = 0; i < SMALL_PRIME_COUNT; ++i) {
        const std::uint64_t p = SMALL_PRIMES[i];
        table.t[i] = p == 2 ? DivisibilityTest{0, 0}
                            : DivisibilityTest{inverse_2_64(p), ~std::uint64_t{0} / p};
    }
    return table;
}
constexpr auto TESTS = make_tests();

bool divides(int index, std::uint64_t n) {
    if (index == 0) return (n & 1) == 0;
    return n * TESTS.t[index].inverse <= TESTS.t[index].limit;
}

/// Montgomery arithmetic modulo an odd n below 2^32 (R = 2^32): products without division.
struct Montgomery32 {
    std::uint64_t n;
    std::uint32_t n_neg_inv;  ///< -n^-1 mod 2^32
    std::uint64_t r2;         ///< R^2 mod n

    explicit Montgomery32(std::uint64_t modulus) : n(modulus) {
        std::uint32_t inv = static_cast<std::uint32_t>(modulus);
        for (int i = 0; i < 5; ++i) inv *= 2 - static_cast<std::uint32_t>(modulus) * inv;
        n_neg_inv = static_cast<std::uint32_t>(0u - inv);
        const std::uint64_t r = (std::uint64_t{1} << 32) % n;
        r2 = r * r % n;
    }
    /// t R^-1 mod n for t below n^2. t + m n is a multiple of R below 2^65: its top part is
    /// the sum of the top parts plus the carry out of the bottom halves, which is 1 exactly
    /// when t's bottom half is not zero (m n's bottom half is then its complement).
    std::uint64_t reduce(std::uint64_t t) const {
        const std::uint32_t m = static_cast<std::uint32_t>(t) * n_neg_inv;
        const std::uint64_t u = (t >> 32) + ((std::uint64_t{m} * n) >> 32) +
                                (static_cast<std::uint32_t>(t) != 0 ? 1 : 0);
        return u >= n ? u - n : u;
    }
    std::uint64_t mul(std::uint64_t a, std::uint64_t b) const { return reduce(a * b); }
    std::uint64_t to(std::uint64_t a) const { return mul(a < n ? a : a % n, r2); }
    std::uint64_t from(std::uint64_t a) const { return reduce(a); }
};

/// Arithmetic modulo any n below 2^64, through 128-bit remainders.
struct Plain64 {
    std::uint64_t n;
    explicit Plain64(std::uint64_t modulus) : n(modulus) {}
    std::uint64_t mul(std::uint64_t a, std::uint64_t b) const {
        return static_cast<std::uint64_t>(static_cast<u128>(a) * b % n);
    }
    std::uint64_t to(std::uint64_t a) const { return a % n; }
    std::uint64_t from(std::uint64_t a) const { return a; }
};

/// d odd with n - 1 = d 2^s.
std::uint64_t odd_part(std::uint64_t n, int* s) {
    std::uint64_t d = n - 1;
    *s = 0;
    while ((d & 1) == 0) {
        d >>= 1;
        ++*s;
    }
    return d;
}

/// Whether x = base^d passes the strong test: it is 1 or -1, or one of the next s - 1
/// squarings is -1.
template <typename Arithmetic>
bool strong_passes(const Arithmetic& ar, std::uint64_t x, std::uint64_t one,
                   std::uint64_t minus_one, int s) {
    if (x == one || x == minus_one) return true;
    for (int r = 1; r < s; ++r) {
        x = ar.mul(x, x);
        if (x == minus_one) return true;
    }
    return false;
}

/// Miller-Rabin for odd n without small factors, in the arithmetic given.
template <typename Arithmetic>
bool miller_rabin(std::uint64_t n, const std::uint64_t* bases, int base_count) {
    const Arithmetic ar(n);
    int s = 0;
    const std::uint64_t d = odd_part(n, &s);
    const std::uint64_t one = ar.to(1);
    const std::uint64_t minus_one = ar.to(n - 1);
    for (int i = 0; i < base_count; ++i) {
        if (bases[i] % n == 0) continue;
        std::uint64_t x = one;
        std::uint64_t base = ar.to(bases[i]);
        for (std::uint64_t e = d; e != 0; e >>= 1) {
            if ((e & 1) != 0) x = ar.mul(x, base);
            base = ar.mul(base, base);
        }
        if (!strong_passes(ar, x, one, minus_one, s)) return false;
    }
    return true;
}

/// Bases that decide every n below 2^32 (2, 7, 61), and every 64-bit n (the seven).
constexpr std::uint64_t BASES_32[] = {2, 7, 61};
constexpr std::uint64_t BASES_64[] = {2, 325, 9375, 28178, 450775, 9780504, 1795265022};

/// Miller-Rabin for odd n below 2^32 without small factors, the three bases of BASES_32
/// raised together: three independent chains of products keep the multiplier busy where
/// one waits on each product (most numbers the searches test are primes, which need all
/// three).
bool is_prime_32(std::uint64_t n) {
    const Montgomery32 ar(n);
    int s = 0;
    const std::uint64_t d = odd_part(n, &s);
    const std::uint64_t one = ar.to(1);
    const std::uint64_t minus_one = ar.to(n - 1);
    std::uint64_t x[3] = {one, one, one};
    std::uint64_t base[3] = {ar.to(BASES_32[0]), ar.to(BASES_32[1]), ar.to(BASES_32[2])};
    for (std::uint64_t e = d; e != 0; e >>= 1) {
        if ((e & 1) != 0) {
            for (int i = 0; i < 3; ++i) x[i] = ar.mul(x[i], base[i]);
        }
        for (int i = 0; i < 3; ++i) base[i] = ar.mul(base[i], base[i]);
    }
    for (int i = 0; i < 3; ++i) {
        if (BASES_32[i] % n != 0 && !strong_passes(ar, x[i], one, minus_one, s)) return false;
    }
    return true;
}

/// Pollard-Brent rho: a non-trivial factor of an odd composite n without small factors.
template <typename Arithmetic>
std::uint64_t rho_factor(std::uint64_t n) {
    const Arithmetic ar(n);
    for (std::uint64_t c = 1;; ++c) {
        const std::uint64_t cm = ar.to(c);
        const auto f = [&](std::uint64_t v) {
            const std::uint64_t t = ar.mul(v, v) + cm;
            return t >= n || t < cm ? t - n : t;
        };
        std::uint64_t y = ar.to(2), x = y, ys = y, q = ar.to(1), g = 1;
        constexpr std::uint64_t BATCH = 32;
        for (std::uint64_t r = 1; g == 1; r *= 2) {
            x = y;
            for (std::uint64_t i = 0; i < r; ++i) y = f(y);
            for (std::uint64_t k = 0; k < r && g == 1; k += BATCH) {
                ys = y;
                for (std::uint64_t i = 0; i < BATCH && i < r - k; ++i) {
                    y = f(y);
                    q = ar.mul(q, x > y ? x - y : y - x);
                }
                g = std::gcd(ar.from(q), n);
            }
        }
        if (g == n) {
            do {
                ys = f(ys);
                g = std::gcd(x > ys ? x - ys : ys - x, n);
            } while (g == 1);
        }
        if (g != n) return g;
    }
}

void add_factor(Factorisation* f, std::uint64_t prime, int exponent) {
    for (int i = 0; i < f->count; ++i) {
        if (f->factors[i].prime == prime) {
            f->factors[i].exponent += exponent;
            return;
        }
    }
    f->factors[f->count++] = PrimePower{prime, exponent};
}

/// Splits n (no prime factor below TRIAL_LIMIT) into primes; false when one exceeds
/// stop_above.
bool split_large(std::uint64_t n, std::uint64_t stop_above, Factorisation* f) {
    if (n == 1) return true;
    // Without factors below 256, n below 256^2 is prime.
    const bool small = n <= 0xFFFFFFFFULL;
    if (n < TRIAL_LIMIT * TRIAL_LIMIT || (small ? is_prime_32(n) : is_prime(n))) {
        if (n > stop_above) return false;
        add_factor(f, n, 1);
        return true;
    }
    // A composite without small factors has every prime factor below n / 256.
    const std::uint64_t d = small ? rho_factor<Montgomery32>(n) : rho_factor<Plain64>(n);
    return split_large(d, stop_above, f) && split_large(n / d, stop_above, f);
}

}  // namespace

bool has_prime_factor_above(std::uint64_t n, std::uint64_t limit) {
    for (int i = 0; i < SMALL_PRIME_COUNT && n > limit; ++i) {
        if (!divides(i, n)) continue;
        if (SMALL_PRIMES[i] > limit) return true;
        do n /= SMALL_PRIMES[i];
        while (n % SMALL_PRIMES[i] == 0);
    }
    if (n <= limit) return false;
    // What is left has no factor below 256; below 256^2 it is prime.
    if (n < TRIAL_LIMIT * TRIAL_LIMIT) return true;
    return n <= 0xFFFFFFFFULL ? is_prime_32(n) : is_prime(n);
}

bool is_prime(std::uint64_t n) {
    if (n < 2) return false;
    for (const std::uint64_t p : SMALL_PRIMES) {
        if (n % p == 0) return n == p;
    }
    if (n < TRIAL_LIMIT * TRIAL_LIMIT) return true;
    return n <= 0xFFFFFFFFULL ? is_prime_32(n) : miller_rabin<Plain64>(n, BASES_64, 7);
}

Factorisation factorise(std::uint64_t n, std::uint64_t stop_above) {
    Factorisation f;
    if (n <= 1) return f;
    for (int i = 0; i < SMALL_PRIME_COUNT; ++i) {
        if (!divides(i, n)) continue;
        const std::uint64_t p = SMALL_PRIMES[i];
        if (p > stop_above) {
            f.count = -1;
            return f;
        }
        int e = 0;
        while (n % p == 0) {
            n /= p;
            ++e;
        }
        f.factors[f.count++] = PrimePower{p, e};
    }
    if (!split_large(n, stop_above, &f)) {
        f.count = -1;
        return f;
    }
    std::sort(f.factors, f.factors + f.count,
              [](const PrimePower& a, const PrimePower& b) { return a.prime < b.prime; });
    return f;
}

void divisors(const Factorisation& f, std::vector<std::uint64_t>* out) {
    out->assign(1, 1);
    for (int i = 0; i < f.count; ++i) {
        const std::size_t size = out->size();
        std::uint64_t power = 1;
        for (int e = 0; e < f.factors[i].exponent; ++e) {
            power *= f.factors[i].prime;
            for (std::size_t j = 0; j < size; ++j) out->push_back((*out)[j] * power);
        }
    }
    std::sort(out->begin(), out->end());
}

}  // namespace quillmere::inline v2::core
