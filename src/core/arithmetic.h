// Ratio arithmetic: continued-fraction convergents and integer factor pairs,
// each delivered as a heap array that the caller releases with std::free.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "quillmere/quillmere.h"

namespace quillmere::core {

/// One convergent p/q of a continued-fraction expansion (p is L, q is M).
struct Convergent {
    long long p;
    long long q;
};

/// One factorisation n = factor * cofactor with factor <= cofactor.
struct FactorPair {
    long long factor;
    long long cofactor;
};

/// Convergents of ratio with q <= max_denominator, in the order of the expansion.
/// Writes null and 0 first; on failure leaves them so.
Status calculate_cfe_convergents(double ratio, long long max_denominator, Convergent** convergents,
                                 int* count);

/// Every pair (d, n/d) with d <= n/d, in increasing d. Writes null and 0 first.
Status find_integer_factor_pairs(long long n, FactorPair** pairs, int* count);

/// Largest element count a list may reach (its byte size must fit in 64 bits).
constexpr std::uint64_t LIST_CAPACITY_LIMIT = (std::uint64_t{1} << 60) - 1;

/// Makes sure slot index exists, growing 16 -> 32 -> ... by doubling.
Status resize_convergent_array(Convergent** items, std::uint64_t* capacity, int index);
/// Appends (p, q), growing the list when needed.
Status add_convergent(Convergent** items, std::uint64_t* capacity, int* count, long long p,
                      long long q);
/// Makes sure slot index exists, growing 8 -> 16 -> ... by doubling.
Status resize_factor_pair_array(FactorPair** items, std::uint64_t* capacity, int index);
/// Appends (factor, cofactor), growing the list when needed.
Status add_factor_pair(FactorPair** items, std::uint64_t* capacity, int* count, long long factor,
                       long long cofactor);

/// Holds a list received from the routines above and frees it on every path.
template <typename T>
struct ListGuard {
    T* items = nullptr;
    int count = 0;

    ListGuard() = default;
    ListGuard(const ListGuard&) = delete;
    ListGuard& operator=(const ListGuard&) = delete;
    ~ListGuard() { release(); }

    /// Frees the list and empties the guard; safe to call twice.
    void release() {
        std::free(items);
        items = nullptr;
        count = 0;
    }
};

using ConvergentList = ListGuard<Convergent>;
using FactorPairList = ListGuard<FactorPair>;

/// The larger of a and b, a negative value counting as absent (-1 when both are).
long long max_long_long(long long a, long long b);

}  // namespace quillmere::core
