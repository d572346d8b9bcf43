#include "core/factoring.h"

#include <algorithm>
#include <numeric>

namespace quillmere::core {

namespace {

using u128 = unsigned __int128;

constexpr std::uint64_t SMALL_PRIMES[] = {
    2,   3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,  43,  47,  53,  59,  61,
    67,  71,  73,  79,  83,  89,  97,  101, 103, 107, 109, 113, 127, 131, 137, 139, 149, 151,
    157, 163, 167, 173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229, 233, 239, 241, 251};
constexpr std::uint64_t TRIAL_LIMIT = 256;

std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b, std::uint64_t m) {
    return static_cast<std::uint64_t>(static_cast<u128>(a) * b % m);
}

std::uint64_t pow_mod(std::uint64_t base, std::uint64_t exponent, std::uint64_t m) {
    std::uint64_t result = 1 % m;
    base %= m;
    while (exponent != 0) {
        if ((exponent & 1) != 0) result = mul_mod(result, base, m);
        base = mul_mod(base, base, m);
        exponent >>= 1;
    }
    return result;
}

/// A non-trivial factor of an odd composite n (not a prime power of a small prime).
std::uint64_t rho_factor(std::uint64_t n) {
    for (std::uint64_t c = 1;; ++c) {
        std::uint64_t y = 2;
        std::uint64_t x = 2;
        std::uint64_t g = 1;
        std::uint64_t q = 1;
        std::uint64_t ys = 2;
        const auto f = [&](std::uint64_t v) { return (mul_mod(v, v, n) + c) % n; };
        constexpr std::uint64_t BATCH = 64;
        for (std::uint64_t r = 1; g == 1; r *= 2) {
            x = y;
            for (std::uint64_t i = 0; i < r; ++i) y = f(y);
            for (std::uint64_t k = 0; k < r && g == 1; k += BATCH) {
                ys = y;
                for (std::uint64_t i = 0; i < BATCH && i < r - k; ++i) {
                    y = f(y);
                    q = mul_mod(q, x > y ? x - y : y - x, n);
                }
                g = std::gcd(q, n);
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
    if (is_prime(n)) {
        if (n > stop_above) return false;
        add_factor(f, n, 1);
        return true;
    }
    // A composite without small factors has every prime factor below n / 256.
    const std::uint64_t d = rho_factor(n);
    return split_large(d, stop_above, f) && split_large(n / d, stop_above, f);
}

}  // namespace

bool is_prime(std::uint64_t n) {
    if (n < 2) return false;
    for (const std::uint64_t p : SMALL_PRIMES) {
        if (n % p == 0) return n == p;
    }
    if (n < TRIAL_LIMIT * TRIAL_LIMIT) return true;
    std::uint64_t d = n - 1;
    int s = 0;
    while ((d & 1) == 0) {
        d >>= 1;
        ++s;
    }
    for (const std::uint64_t a : {2ULL, 325ULL, 9375ULL, 28178ULL, 450775ULL, 9780504ULL,
                                  1795265022ULL}) {
        std::uint64_t x = pow_mod(a, d, n);
        if (x == 0 || x == 1 || x == n - 1) continue;
        bool composite = true;
        for (int r = 1; r < s; ++r) {
            x = mul_mod(x, x, n);
            if (x == n - 1) {
                composite = false;
                break;
            }
        }
        if (composite) return false;
    }
    return true;
}

Factorisation factorise(std::uint64_t n, std::uint64_t stop_above) {
    Factorisation f;
    if (n <= 1) return f;
    for (const std::uint64_t p : SMALL_PRIMES) {
        if (n % p != 0) continue;
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

}  // namespace quillmere::core
