#include "core/arithmetic.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "core/factoring.h"

namespace quillmere::inline v2::core {

namespace {

constexpr int MAX_CFE_TERMS = 100;
/// Remainders below this end the expansion: the ratio is exhausted.
constexpr double CFE_EPSILON = 1e-15;
constexpr double TWO_POW_63 = 9223372036854775808.0;

}  // namespace

Status calculate_cfe_convergents(double ratio, long long max_denominator,
                                 ConvergentList* convergents) {
    if (convergents == nullptr) return Status::invalid_request;
    convergents->clear();
    if (!std::isfinite(ratio) || ratio <= 0.0 || max_denominator <= 0) {
        return Status::invalid_request;
    }
    ConvergentList& list = *convergents;
    list.reserve(16);  // most expansions end within it: one allocation
    // Fails the caller with the status, leaving no partial expansion behind.
    const auto fail = [&list](Status status) {
        list.clear();
        return status;
    };

    // p(n) = a(n) p(n-1) + p(n-2), seeded with p(-2)/q(-2) = 0/1, p(-1)/q(-1) = 1/0.
    long long p_prev2 = 0, q_prev2 = 1, p_prev1 = 1, q_prev1 = 0;
    double x = ratio;
    bool overflow = false;

    for (int n = 0; n < MAX_CFE_TERMS; ++n) {
        if (std::fabs(x) < CFE_EPSILON) break;
        if (!std::isfinite(x) || x <= 0.0) return fail(Status::calculation_error);

        const double a_real = std::floor(x);
        if (a_real > TWO_POW_63 || a_real < 0.0) return fail(Status::overflow_error);
        if (a_real == TWO_POW_63) return fail(Status::calculation_error);
        const long long a = static_cast<long long>(a_real);

        if (p_prev1 > 0 && a > 0 && p_prev1 > (LLONG_MAX - p_prev2) / a) {
            overflow = true;
            break;
        }
        const long long p = a * p_prev1 + p_prev2;
        if (q_prev1 > 0 && a > 0 && q_prev1 > (LLONG_MAX - q_prev2) / a) {
            overflow = true;
            break;
        }
        const long long q = a * q_prev1 + q_prev2;
        if (q < 0) {
            overflow = true;
            break;
        }
        if (q > max_denominator) break;
        if (q == 0 && n > 0) return fail(Status::calculation_error);
        if (q > 0) list.push_back(Convergent{p, q});

        x -= a_real;
        if (std::fabs(x) < CFE_EPSILON) break;
        if (x <= 0.0) return fail(Status::calculation_error);
        x = 1.0 / x;
        if (!std::isfinite(x)) break;

        p_prev2 = p_prev1;
        q_prev2 = q_prev1;
        p_prev1 = p;
        q_prev1 = q;
    }

    if (list.empty()) return overflow ? Status::overflow_error : Status::calculation_error;
    return Status::ok;
}

Status find_integer_factor_pairs(long long n, FactorPairList* pairs) {
    if (pairs == nullptr) return Status::invalid_request;
    pairs->clear();
    if (n <= 0) return Status::invalid_request;

    // The divisors from the prime factorisation: trial division up to the square root of
    // a number near 2^62 would take seconds, and a convergent's numerator can be one.
    const Factorisation primes = factorise(static_cast<std::uint64_t>(n));
    using DivisorList = std::vector<long long, ListAllocator<long long>>;
    DivisorList divisors(1, 1);
    for (int i = 0; i < primes.count; ++i) {
        const PrimePower& factor = primes.factors[i];
        const std::size_t size = divisors.size();
        long long power = 1;
        for (int e = 0; e < factor.exponent; ++e) {
            power *= static_cast<long long>(factor.prime);  // a divisor of n: no overflow
            for (std::size_t j = 0; j < size; ++j) divisors.push_back(divisors[j] * power);
        }
    }
    std::sort(divisors.begin(), divisors.end());
    // The pairs (d, n/d) with d <= n/d, in increasing d.
    std::size_t count = 0;
    while (count < divisors.size() && divisors[count] <= n / divisors[count]) ++count;
    pairs->reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        pairs->push_back(FactorPair{divisors[i], n / divisors[i]});
    }
    return Status::ok;
}

}  // namespace quillmere::inline v2::core
