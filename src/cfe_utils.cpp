#include "cfe_utils.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr long long INT64_MAX_VALUE = INT64_MAX;
constexpr int MAX_CFE_TERMS = 100;
/// Remainders below this end the expansion: the ratio is exhausted.
constexpr double CFE_EPSILON = 1e-15;
constexpr double TWO_POW_63 = 9223372036854775808.0;

/// Shared growth rule of both lists: first capacity, then doubling, within the limit.
template <typename T>
StatusCode resize_list(T** items, std::uint64_t* capacity, int index, std::uint64_t first) {
    if (items == nullptr || capacity == nullptr) return STATUS_INVALID_INPUT_ERROR;
    if (static_cast<std::uint64_t>(static_cast<std::int64_t>(index)) < *capacity) {
        return STATUS_SUCCESS;
    }
    const std::uint64_t old_capacity = *capacity;
    const std::uint64_t new_capacity = old_capacity == 0 ? first : old_capacity * 2;
    if ((old_capacity != 0 && new_capacity <= old_capacity) || new_capacity > LIST_CAPACITY_LIMIT) {
        return STATUS_ARITHMETIC_OVERFLOW_ERROR;
    }
    // Where size_t is 32 bits the byte count can exceed what realloc can be asked for.
    if (new_capacity > SIZE_MAX / sizeof(T)) return STATUS_MEMORY_ALLOCATION_ERROR;
    void* grown = std::realloc(*items, static_cast<std::size_t>(new_capacity * sizeof(T)));
    if (grown == nullptr) return STATUS_MEMORY_ALLOCATION_ERROR;
    *items = static_cast<T*>(grown);
    *capacity = new_capacity;
    return STATUS_SUCCESS;
}

/// Shared append of both lists. A count that is negative, above the capacity or at INT_MAX
/// would store outside the block or wrap, so it is refused before anything changes.
template <typename T, typename Resize>
StatusCode add_item(T** items, std::uint64_t* capacity, int* count, const T& item, Resize resize) {
    if (items == nullptr || capacity == nullptr || count == nullptr) {
        return STATUS_INVALID_INPUT_ERROR;
    }
    if (*count < 0 || *count == INT_MAX || static_cast<std::uint64_t>(*count) > *capacity) {
        return STATUS_INVALID_INPUT_ERROR;
    }
    const StatusCode status = resize(items, capacity, *count);
    if (status != STATUS_SUCCESS) return status;
    (*items)[*count] = item;
    ++*count;
    return STATUS_SUCCESS;
}

}  // namespace

StatusCode resize_convergent_array(Convergent** items, std::uint64_t* capacity, int index) {
    return resize_list(items, capacity, index, 16);
}

StatusCode add_convergent(Convergent** items, std::uint64_t* capacity, int* count, long long p,
                          long long q) {
    return add_item(items, capacity, count, Convergent{p, q}, resize_convergent_array);
}

StatusCode resize_factor_pair_array(FactorPair** items, std::uint64_t* capacity, int index) {
    return resize_list(items, capacity, index, 8);
}

StatusCode add_factor_pair(FactorPair** items, std::uint64_t* capacity, int* count,
                           long long factor, long long cofactor) {
    return add_item(items, capacity, count, FactorPair{factor, cofactor}, resize_factor_pair_array);
}

StatusCode calculate_cfe_convergents(double ratio, long long max_denominator,
                                     Convergent** convergents, int* count) {
    if (convergents == nullptr || count == nullptr) return STATUS_INVALID_INPUT_ERROR;
    *convergents = nullptr;
    *count = 0;
    if (!std::isfinite(ratio) || ratio <= 0.0 || max_denominator <= 0) {
        return STATUS_INVALID_INPUT_ERROR;
    }

    ConvergentList list;
    std::uint64_t capacity = 0;
    StatusCode status = resize_convergent_array(&list.items, &capacity, 0);
    if (status != STATUS_SUCCESS) return status;

    // p(n) = a(n) p(n-1) + p(n-2), seeded with p(-2)/q(-2) = 0/1, p(-1)/q(-1) = 1/0.
    long long p_prev2 = 0, q_prev2 = 1, p_prev1 = 1, q_prev1 = 0;
    double x = ratio;
    bool overflow = false;

    for (int n = 0; n < MAX_CFE_TERMS; ++n) {
        if (std::fabs(x) < CFE_EPSILON) break;
        if (!std::isfinite(x) || x <= 0.0) return STATUS_CALCULATION_ERROR;

        const double a_real = std::floor(x);
        if (a_real > TWO_POW_63 || a_real < 0.0) return STATUS_ARITHMETIC_OVERFLOW_ERROR;
        if (a_real == TWO_POW_63) return STATUS_CALCULATION_ERROR;
        const long long a = static_cast<long long>(a_real);

        if (p_prev1 > 0 && a > 0 && p_prev1 > (INT64_MAX_VALUE - p_prev2) / a) {
            overflow = true;
            break;
        }
        const long long p = a * p_prev1 + p_prev2;
        if (q_prev1 > 0 && a > 0 && q_prev1 > (INT64_MAX_VALUE - q_prev2) / a) {
            overflow = true;
            break;
        }
        const long long q = a * q_prev1 + q_prev2;
        if (q < 0) {
            overflow = true;
            break;
        }
        if (q > max_denominator) break;
        if (q == 0 && n > 0) return STATUS_CALCULATION_ERROR;
        if (q > 0) {
            status = add_convergent(&list.items, &capacity, &list.count, p, q);
            if (status != STATUS_SUCCESS) return status;
        }

        x -= a_real;
        if (std::fabs(x) < CFE_EPSILON) break;
        if (x <= 0.0) return STATUS_CALCULATION_ERROR;
        x = 1.0 / x;
        if (!std::isfinite(x)) break;

        p_prev2 = p_prev1;
        q_prev2 = q_prev1;
        p_prev1 = p;
        q_prev1 = q;
    }

    if (list.count == 0) {
        return overflow ? STATUS_ARITHMETIC_OVERFLOW_ERROR : STATUS_CALCULATION_ERROR;
    }
    *convergents = list.items;
    *count = list.count;
    list.items = nullptr;  // handed over: the caller frees it now
    list.count = 0;
    return STATUS_SUCCESS;
}

StatusCode find_integer_factor_pairs(long long n, FactorPair** pairs, int* count) {
    if (pairs == nullptr || count == nullptr) return STATUS_INVALID_INPUT_ERROR;
    *pairs = nullptr;
    *count = 0;
    if (n <= 0) return STATUS_INVALID_INPUT_ERROR;

    FactorPairList list;
    std::uint64_t capacity = 0;
    StatusCode status = resize_factor_pair_array(&list.items, &capacity, 0);
    if (status != STATUS_SUCCESS) return status;

    // The double square root can be one off either way for large n; correct it
    // upwards here, and a root one too high only adds a divisor that never divides.
    long long root = static_cast<long long>(std::sqrt(static_cast<double>(n)));
    if (root >= 0 && root != INT64_MAX_VALUE && root + 1 <= INT64_MAX_VALUE / (root + 1) &&
        (root + 1) * (root + 1) <= n) {
        ++root;
    }
    if (root <= 0) root = 1;
    if (root > n) root = n;

    for (long long d = 1; d <= root; ++d) {
        if (n % d != 0) continue;
        status = add_factor_pair(&list.items, &capacity, &list.count, d, n / d);
        if (status != STATUS_SUCCESS) return status;
    }

    *pairs = list.items;
    *count = list.count;
    list.items = nullptr;
    list.count = 0;
    return STATUS_SUCCESS;
}
