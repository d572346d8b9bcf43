#include "core/factoring.h"

#include <algorithm>
#include <bit>
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

    Montgomery32() = default;
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

bool is_prime_without_small_factors(std::uint64_t n) {
    if (n < TRIAL_LIMIT * TRIAL_LIMIT) return n >= 2;
    return n <= 0xFFFFFFFFULL ? is_prime_32(n) : miller_rabin<Plain64>(n, BASES_64, 7);
}

namespace {

/// Whether each of the `count` (at most 4) numbers from 4097^2 up, below 2^32 and without a
/// prime factor up to 4096, is prime: their powers 2^d are raised together, one chain of
/// squarings each, so that the multiplier works on one while another waits.
template <std::size_t Lanes>
void test_base_2(const std::uint64_t (&n)[Lanes], std::size_t count, bool (&prime)[Lanes]) {
    Montgomery32 ar[Lanes] = {};
    std::uint64_t d[Lanes] = {};
    std::uint64_t x[Lanes] = {};
    int s[Lanes] = {};
    int top = 0;
    for (std::size_t k = 0; k < Lanes; ++k) {
        // Lanes past `count` repeat the first number, which keeps the loops below whole.
        const std::uint64_t m = k < count ? n[k] : n[0];
        ar[k] = Montgomery32(m);
        d[k] = odd_part(m, &s[k]);
        x[k] = ar[k].to(1);
        top = std::max(top, 63 - std::countl_zero(d[k]));
    }
    // 2^d from the top bit down: a squaring for each bit, a doubling for each 1 (the
    // leading zeros of a shorter d square 1).
    for (int bit = top; bit >= 0; --bit) {
        for (std::size_t k = 0; k < Lanes; ++k) {
            // (Without branches: the bits of d are as good as random.)
            std::uint64_t v = ar[k].mul(x[k], x[k]);
            v += v & (std::uint64_t{0} - ((d[k] >> bit) & 1));
            x[k] = v >= ar[k].n ? v - ar[k].n : v;
        }
    }
    const std::span<const std::uint32_t> pseudoprimes = base2_pseudoprimes_above_4096();
    for (std::size_t k = 0; k < count; ++k) {
        prime[k] = strong_passes(ar[k], x[k], ar[k].to(1), ar[k].to(n[k] - 1), s[k]) &&
                   !std::binary_search(pseudoprimes.begin(), pseudoprimes.end(), n[k]);
    }
}

}  // namespace

bool is_prime_without_factors_to_4096(std::uint64_t n) {
    // Below 4097^2 such an n is 1 or a prime.
    if (n < 4097 * 4097) return n > 1;
    const std::uint64_t one[1] = {n};
    bool prime[1] = {false};
    test_base_2(one, 1, prime);
    return prime[0];
}

void primes_without_factors_to_4096(std::span<const std::uint32_t> values, std::uint8_t* prime) {
    constexpr std::size_t LANES = 4;
    std::uint64_t lane[LANES];
    std::size_t index[LANES];
    bool result[LANES];
    std::size_t used = 0;
    const auto run = [&] {
        test_base_2(lane, used, result);
        for (std::size_t k = 0; k < used; ++k) prime[index[k]] = result[k] ? 1 : 0;
        used = 0;
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < 4097 * 4097) {
            prime[i] = values[i] > 1 ? 1 : 0;
            continue;
        }
        lane[used] = values[i];
        index[used] = i;
        if (++used == LANES) run();
    }
    if (used > 0) run();
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

namespace {

/// Splits n (no prime factor below TRIAL_LIMIT, every one within `sieved`) into primes;
/// false when one exceeds stop_above.
bool split_sieved(std::uint64_t n, std::uint64_t sieved, std::uint64_t stop_above,
                  Factorisation* f) {
    if (n == 1) return true;
    // Within `sieved` (below 257^2) n is a prime; above it, a product of smaller ones.
    if (n <= sieved) {
        if (n > stop_above) return false;
        add_factor(f, n, 1);
        return true;
    }
    const std::uint64_t d = rho_factor<Montgomery32>(n);
    return split_sieved(d, sieved, stop_above, f) && split_sieved(n / d, sieved, stop_above, f);
}

}  // namespace

Factorisation factorise_sieved(std::uint64_t n, std::uint64_t rest, bool rest_is_prime,
                               std::uint64_t sieved, std::uint64_t stop_above,
                               const SievedPrimes* met) {
    Factorisation f;
    if (n <= 1) return f;
    const auto stop = [&f] {
        f.count = -1;
        return f;
    };
    if (rest > 1) {
        if (rest_is_prime) {
            if (rest > stop_above) return stop();
            add_factor(&f, rest, 1);
        } else {
            const std::uint64_t d = rho_factor<Montgomery32>(rest);
            if (std::max(d, rest / d) > stop_above) return stop();
            add_factor(&f, d, 1);
            add_factor(&f, rest / d, 1);
        }
    }
    std::uint64_t m = n / rest;
    // Divides the prime p (a factor of m) out of m into f; false when above stop_above.
    const auto take = [&](std::uint64_t p) {
        if (p > stop_above) return false;
        int e = 0;
        while (m % p == 0) {
            m /= p;
            ++e;
        }
        add_factor(&f, p, e);
        return true;
    };
    for (int i = 0; i < SMALL_PRIME_COUNT && m > 1; ++i) {
        if (divides(i, m) && !take(SMALL_PRIMES[i])) return stop();
    }
    for (int i = 0; met != nullptr && i < met->count && m > 1; ++i) {
        if (!take(met->prime[i])) return stop();
    }
    if (!split_sieved(m, sieved, stop_above, &f)) return stop();
    std::sort(f.factors, f.factors + f.count,
              [](const PrimePower& a, const PrimePower& b) { return a.prime < b.prime; });
    return f;
}

void divisors(const Factorisation& f, std::vector<std::uint64_t>* out) {
    unordered_divisors(f, out);
    std::sort(out->begin(), out->end());
}

void unordered_divisors(const Factorisation& f, std::vector<std::uint64_t>* out) {
    out->assign(1, 1);
    for (int i = 0; i < f.count; ++i) {
        const std::size_t size = out->size();
        std::uint64_t power = 1;
        for (int e = 0; e < f.factors[i].exponent; ++e) {
            power *= f.factors[i].prime;
            for (std::size_t j = 0; j < size; ++j) out->push_back((*out)[j] * power);
        }
    }
}

bool rest_shows_prime_above(std::uint64_t rest, std::uint64_t sieved, std::uint64_t n) {
    return rest > n && rest < (sieved + 1) * (sieved + 1);
}

std::vector<std::uint32_t> primes_up_to(std::uint32_t bound) {
    std::vector<std::uint32_t> out;
    std::vector<bool> composite(static_cast<std::size_t>(bound) + 1, false);
    for (std::uint64_t i = 2; i <= bound; ++i) {
        if (composite[i]) continue;
        out.push_back(static_cast<std::uint32_t>(i));
        for (std::uint64_t j = i * i; j <= bound; j += i) composite[j] = true;
    }
    return out;
}

namespace {

/// a^-1 modulo the prime l, for a not divisible by l.
std::uint32_t inverse_mod_prime(std::uint32_t a, std::uint32_t l) {
    std::int64_t r0 = l, r1 = a % l, s0 = 0, s1 = 1;
    while (r1 != 0) {
        const std::int64_t k = r0 / r1;
        const std::int64_t r2 = r0 - k * r1;
        r0 = r1;
        r1 = r2;
        const std::int64_t s2 = s0 - k * s1;
        s0 = s1;
        s1 = s2;
    }
    s0 %= static_cast<std::int64_t>(l);
    return static_cast<std::uint32_t>(s0 < 0 ? s0 + l : s0);
}

void divide_out(std::uint32_t l, std::uint32_t* value) {
    while (*value != 0 && *value % l == 0) *value /= l;
}

}  // namespace

GridSieve::GridSieve(const std::vector<std::uint32_t>& primes, std::uint64_t u, std::uint64_t v) {
    primes_.reserve(primes.size());
    for (const std::uint32_t l : primes) {
        const auto um = static_cast<std::uint32_t>(u % l);
        const auto vm = static_cast<std::uint32_t>(v % l);
        if (um == 0) {
            primes_.push_back(Prime{l, vm == 0 ? Prime::Kind::all : Prime::Kind::beta, 0, 0});
            continue;
        }
        const auto c = static_cast<std::uint32_t>(static_cast<std::uint64_t>(l - vm) % l *
                                                  inverse_mod_prime(um, l) % l);
        primes_.push_back(
            Prime{l, Prime::Kind::lattice, c, c == 0 ? 0 : inverse_mod_prime(c, l)});
    }
}

void GridSieve::sieve(const std::vector<GridRow>& rows, std::vector<std::uint32_t>* rest,
                      std::vector<SievedPrimes>* met) const {
    if (rows.empty()) return;
    std::uint64_t alpha_min = ~std::uint64_t{0};
    std::uint64_t alpha_max = 0;
    std::size_t elements = 0;
    for (const GridRow& row : rows) {
        if (row.alpha_lo > row.alpha_hi) continue;
        alpha_min = std::min(alpha_min, row.alpha_lo);
        alpha_max = std::max(alpha_max, row.alpha_hi);
        elements += static_cast<std::size_t>(row.alpha_hi - row.alpha_lo + 1);
    }
    if (elements == 0) return;
    const std::uint64_t beta0 = rows.front().beta;
    const std::uint64_t row_count = rows.size();
    const std::uint64_t column_count = alpha_max - alpha_min + 1;
    std::uint32_t* values = rest->data();
    SievedPrimes* kept = met != nullptr ? met->data() : nullptr;
    for (const Prime& prime : primes_) {
        const std::uint64_t l = prime.l;
        const auto l32 = prime.l;
        const bool keep = kept != nullptr && l >= TRIAL_LIMIT;
        // Divides l out of the value at index i, and keeps it from 256 up.
        const auto divide_at = [&](std::size_t i) {
            divide_out(l32, values + i);
            if (keep && kept[i].count < 3) {
                kept[i].prime[kept[i].count++] = static_cast<std::uint16_t>(l32);
            }
        };
        if (prime.kind == Prime::Kind::all) {
            for (std::size_t i = 0; i < elements; ++i) divide_at(i);
            continue;
        }
        if (prime.kind == Prime::Kind::beta) {
            const std::uint64_t first = (l - beta0 % l) % l;
            for (std::uint64_t r = first; r < row_count; r += l) {
                const GridRow& row = rows[r];
                for (std::uint64_t a = row.alpha_lo; a <= row.alpha_hi; ++a) {
                    divide_at(row.offset + (a - row.alpha_lo));
                }
            }
            continue;
        }
        const std::uint64_t c = prime.c;
        const std::uint64_t row_steps = row_count + elements / l;
        const std::uint64_t column_steps = column_count + column_count * row_count / l;
        if (c == 0 || row_steps <= column_steps) {
            // The first multiple of the row is alpha_lo + d, d = (c beta - alpha_lo) mod l,
            // followed from row to row (alpha_lo mostly moves by a little).
            std::uint64_t lo = rows.front().alpha_lo;
            std::uint64_t d = (c * (beta0 % l) + l - lo % l) % l;
            for (const GridRow& row : rows) {
                if (row.alpha_lo != lo) {
                    const auto reduced = [l](std::uint64_t x) { return x < l ? x : x % l; };
                    if (row.alpha_lo >= lo) {
                        d += l - reduced(row.alpha_lo - lo);
                    } else {
                        d += reduced(lo - row.alpha_lo);
                    }
                    if (d >= l) d -= l;
                    lo = row.alpha_lo;
                }
                for (std::uint64_t a = row.alpha_lo + d; a <= row.alpha_hi; a += l) {
                    divide_at(row.offset + (a - row.alpha_lo));
                }
                d += c;
                if (d >= l) d -= l;
            }
        } else {
            // beta = c' alpha (mod l): the first row of the column is (c' alpha - beta0)
            // mod l.
            const std::uint64_t ci = prime.c_inverse;
            std::uint64_t first = (ci * (alpha_min % l) + l - beta0 % l) % l;
            for (std::uint64_t a = alpha_min; a <= alpha_max; ++a) {
                for (std::uint64_t r = first; r < row_count; r += l) {
                    const GridRow& row = rows[r];
                    if (a >= row.alpha_lo && a <= row.alpha_hi) {
                        divide_at(row.offset + (a - row.alpha_lo));
                    }
                }
                first += ci;
                if (first >= l) first -= l;
            }
        }
    }
}

}  // namespace quillmere::inline v2::core
