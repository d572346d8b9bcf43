// Ratio arithmetic: continued-fraction convergents and integer factor pairs.
#pragma once

#include <vector>

#include "quillmere/quillmere.h"

namespace quillmere::inline v1::core {

/// One convergent p/q of a continued-fraction expansion (p is L, q is M).
struct Convergent {
    long long p = 0;
    long long q = 0;
};

/// One factorisation n = factor * cofactor with factor <= cofactor.
struct FactorPair {
    long long factor = 0;
    long long cofactor = 0;
};

/// Convergents of ratio with q <= max_denominator, in the order of the expansion. Empties
/// the list first and leaves it empty on failure. Throws std::bad_alloc when memory runs
/// out; the public functions turn that into Status::memory_error.
Status calculate_cfe_convergents(double ratio, long long max_denominator,
                                 std::vector<Convergent>* convergents);

/// Every pair (d, n/d) with d <= n/d, in increasing d. Empties the list first and leaves it
/// empty on failure. Throws std::bad_alloc as calculate_cfe_convergents does.
Status find_integer_factor_pairs(long long n, std::vector<FactorPair>* pairs);

}  // namespace quillmere::inline v1::core
