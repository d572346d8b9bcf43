// Factoring 64-bit integers fast enough to test thousands of candidate ratios in a
// millisecond: trial division by the primes below 256, then Miller-Rabin (deterministic for
// 64 bits) and Pollard's rho (Brent's variant) on what remains.
#pragma once

#include <cstdint>
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

/// A quick test that rejects most numbers with a prime factor above limit (true: it has
/// one). False does not promise the contrary when what remains after the primes below 256
/// is composite.
bool has_prime_factor_above(std::uint64_t n, std::uint64_t limit);

/// Factors n >= 1. When stop_above is given, the factorisation may end early (with count
/// -1) as soon as a prime factor above stop_above is certain, which callers that only
/// want numbers without such factors use to reject quickly.
Factorisation factorise(std::uint64_t n, std::uint64_t stop_above = ~std::uint64_t{0});

/// Every divisor of the factorised number, in increasing order.
void divisors(const Factorisation& f, std::vector<std::uint64_t>* out);

}  // namespace quillmere::inline v2::core
