// Ratio arithmetic: continued-fraction convergents and integer factor pairs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

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

/// The allocator of the lists below: plain malloc and free, so that a list that cannot
/// grow throws std::bad_alloc to the public function that called, which reports
/// Status::memory_error, even in a program whose new-handler ends the process on any
/// failed operator new (the interactive program's does; it reports a failed list as a
/// failed search, as it always has).
template <typename T>
struct ListAllocator {
    using value_type = T;
    ListAllocator() noexcept = default;
    template <typename U>
    ListAllocator(const ListAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* block = std::malloc(count * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) noexcept { std::free(block); }
    template <typename U>
    bool operator==(const ListAllocator<U>&) const noexcept {
        return true;
    }
};

using ConvergentList = std::vector<Convergent, ListAllocator<Convergent>>;
using FactorPairList = std::vector<FactorPair, ListAllocator<FactorPair>>;

/// Convergents of ratio with q <= max_denominator, in the order of the expansion. Empties
/// the list first and leaves it empty on failure. Throws std::bad_alloc when memory runs
/// out; the public functions turn that into Status::memory_error.
Status calculate_cfe_convergents(double ratio, long long max_denominator,
                                 ConvergentList* convergents);

/// Every pair (d, n/d) with d <= n/d, in increasing d. Empties the list first and leaves it
/// empty on failure. Throws std::bad_alloc as calculate_cfe_convergents does.
Status find_integer_factor_pairs(long long n, FactorPairList* pairs);

}  // namespace quillmere::inline v2::core
