// Factoring 64-bit integers fast enough to test thousands of candidate ratios in a
// millisecond: trial division by the primes below 256, then Miller-Rabin (deterministic for
// 64 bits) and Pollard's rho (Brent's variant) on what remains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::inline v2::core {

struct PrimePower {
    std::uint64_t prime = 0;
    int exponent = 0;
};

/// The prime factorisation of n >= 1 in increasing primes (at most 15 distinct ones).
struct Factorisation {
    PrimePower factors[16];
    int count = 0;
    /// The largest prime factor; 1 for n = 1.
    std::uint64_t largest_prime() const { return count == 0 ? 1 : factors[count - 1].prime; }
};

/// Deterministic primality for 64-bit n.
bool is_prime(std::uint64_t n);

/// The same for n without a prime factor below 256 (what is left after the primes of a
/// sieve are divided out): Miller-Rabin alone.
bool is_prime_without_small_factors(std::uint64_t n);

/// Whether n (below 2^32, without a prime factor up to 4096, as a sieve leaves it) is prime:
/// one strong test to base 2, and a look among the composites of that kind that pass it.
bool is_prime_without_factors_to_4096(std::uint64_t n);

/// The same for many numbers at once (faster per number): prime[i] is 1 for a prime
/// values[i], 0 otherwise.
void primes_without_factors_to_4096(std::span<const std::uint32_t> values, std::uint8_t* prime);

/// Those composites, in increasing order.
std::span<const std::uint32_t> base2_pseudoprimes_above_4096();

/// A quick test that rejects most numbers with a prime factor above limit (true: it has
/// one). False does not promise the contrary when what remains after the primes below 256
/// is composite.
bool has_prime_factor_above(std::uint64_t n, std::uint64_t limit);

/// Factors n >= 1. When stop_above is given, the factorisation may end early (with count
/// -1) as soon as a prime factor above stop_above is certain, which callers that only
/// want numbers without such factors use to reject quickly.
Factorisation factorise(std::uint64_t n, std::uint64_t stop_above = ~std::uint64_t{0});

/// The primes from 256 up that a sieve met in a value below 2^32: at most three (a fourth
/// would take the value past 2^32), each once. A plain aggregate, cleared as zero bytes.
struct SievedPrimes {
    std::uint16_t prime[3];
    /// Not a character type, which the compiler would take to alias anything.
    std::uint16_t count;
};

/// Factors n (below 2^32) knowing what a sieve by the primes up to `sieved` (at least
/// 1626, so that two primes above it exceed 2^32 with a third, and below 257^2) left of it:
/// `rest`, a prime when rest_is_prime, else 1 or the product of two primes above `sieved`.
/// No primality test is needed: what trial division by the primes below 256 leaves of
/// n / rest is made of the primes the sieve met (`met`, when it kept them) or else split by
/// Pollard's rho, and so is a composite rest. Count -1 when a prime factor exceeds
/// stop_above, as factorise() says.
Factorisation factorise_sieved(std::uint64_t n, std::uint64_t rest, bool rest_is_prime,
                               std::uint64_t sieved, std::uint64_t stop_above,
                               const SievedPrimes* met = nullptr);

/// Every divisor of the factorised number, in increasing order.
void divisors(const Factorisation& f, std::vector<std::uint64_t>* out);

/// The same in no particular order, for callers that look at every one anyway.
void unordered_divisors(const Factorisation& f, std::vector<std::uint64_t>* out);

/// The primes up to bound, in increasing order.
std::vector<std::uint32_t> primes_up_to(std::uint32_t bound);

/// Whether what a sieve by the primes up to `sieved` leaves of a number shows a prime
/// factor above n: a rest above n and below (sieved + 1)^2 is a prime (a product of two
/// primes above `sieved` is larger). True is certain; false only means that the number may
/// have none (a larger rest may be a prime, or a product of primes above n or not).
bool rest_shows_prime_above(std::uint64_t rest, std::uint64_t sieved, std::uint64_t n);

/// A row of a grid of values u alpha + v beta: alpha from alpha_lo to alpha_hi (none when
/// alpha_lo > alpha_hi), its values stored from `offset` on.
struct GridRow {
    std::uint64_t beta = 0;
    std::uint64_t alpha_lo = 1;
    std::uint64_t alpha_hi = 0;
    std::size_t offset = 0;
};

/// Divides the primes up to a bound out of the values u alpha + v beta of rows (rows of
/// consecutive beta, values below 2^32), as a sieve does: the multiples of a prime l not
/// dividing u form the lattice alpha = c beta (mod l), met row by row or column by column,
/// whichever takes fewer steps, so that a value is only divided by the primes that divide
/// it. What is left of a value then has no prime factor up to the bound. The constants of
/// each prime are worked out once, for every grid of the same u and v.
class GridSieve {
public:
    GridSieve(const std::vector<std::uint32_t>& primes, std::uint64_t u, std::uint64_t v);

    /// `rest` holds the values row after row on entry, what is left of them on return;
    /// `met` (when given, as long as `rest`) receives the primes from 256 up that divide
    /// each value.
    void sieve(const std::vector<GridRow>& rows, std::vector<std::uint32_t>* rest,
               std::vector<SievedPrimes>* met = nullptr) const;

private:
    struct Prime {
        std::uint32_t l;
        /// How l divides u alpha + v beta: for every beta (u and v both multiples), where
        /// l divides beta (u alone), or where alpha = c beta (mod l), c' = c^-1 (0 when c
        /// is).
        enum class Kind : std::uint8_t { all, beta, lattice } kind;
        std::uint32_t c;
        std::uint32_t c_inverse;
    };
    std::vector<Prime> primes_;
};

}  // namespace quillmere::inline v2::core
