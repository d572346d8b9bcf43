#include "core/arithmetic.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace quillmere::core {

namespace {

constexpr long long INT64_MAX_VALUE = INT64_MAX;
constexpr int MAX_CFE_TERMS = 100;
/// Remainders below this end the expansion: the ratio is exhausted.
constexpr double CFE_EPSILON = 1e-15;
constexpr double TWO_POW_63 = 9223372036854775808.0;

/// Shared growth rule of both lists: first capacity, then doubling, within the limit.
template <typename T>
Status resize_list(T** items, std::uint64_t* capacity, int index, std::uint64_t first) {
    if (items == nullptr || capacity == nullptr) return Status::invalid_request;
    if (static_cast<std::uint64_t>(static_cast<std::int64_t>(index)) < *capacity) {
        return Status::ok;
    }
    const std::uint64_t old_capacity = *capacity;
    const std::uint64_t new_capacity = old_capacity == 0 ? first : old_capacity * 2;
    if ((old_capacity != 0 && new_capacity <= old_capacity) || new_capacity > LIST_CAPACITY_LIMIT) {
        return Status::overflow_error;
    }
    // Where size_t is 32 bits the byte count can exceed what realloc can be asked for.
    if (new_capacity > SIZE_MAX / sizeof(T)) return Status::memory_error;
    void* grown = std::realloc(*items, static_cast<std::size_t>(new_capacity * sizeof(T)));
    if (grown == nullptr) return Status::memory_error;
    *items = static_cast<T*>(grown);
    *capacity = new_capacity;
    return Status::ok;
}

/// Shared append of both lists. A count that is negative, above the capacity or at INT_MAX
/// would store outside the block or wrap, so it is refused before anything changes.
template <typename T, typename Resize>
Status add_item(T** items, std::uint64_t* capacity, int* count, const T& item, Resize resize) {
    if (items == nullptr || capacity == nullptr || count == nullptr) {
        return Status::invalid_request;
    }
    if (*count < 0 || *count == INT_MAX || static_cast<std::uint64_t>(*count) > *capacity) {
        return Status::invalid_request;
    }
    const Status status = resize(items, capacity, *count);
    if (status != Status::ok) return status;
    (*items)[*count] = item;
    ++*count;
    return Status::ok;
}

}  // namespace

Status resize_convergent_array(Convergent** items, std::uint64_t* capacity, int index) {
    return resize_list(items, capacity, index, 16);
}

Status add_convergent(Convergent** items, std::uint64_t* capacity, int* count, long long p,
                      long long q) {
    return add_item(items, capacity, count, Convergent{p, q}, resize_convergent_array);
}

Status resize_factor_pair_array(FactorPair** items, std::uint64_t* capacity, int index) {
    return resize_list(items, capacity, index, 8);
}

Status add_factor_pair(FactorPair** items, std::uint64_t* capacity, int* count, long long factor,
                       long long cofactor) {
    return add_item(items, capacity, count, FactorPair{factor, cofactor}, resize_factor_pair_array);
}

Status calculate_cfe_convergents(double ratio, long long max_denominator, Convergent** convergents,
                                 int* count) {
    if (convergents == nullptr || count == nullptr) return Status::invalid_request;
    *convergents = nullptr;
    *count = 0;
    if (!std::isfinite(ratio) || ratio <= 0.0 || max_denominator <= 0) {
        return Status::invalid_request;
    }

    ConvergentList list;
    std::uint64_t capacity = 0;
    Status status = resize_convergent_array(&list.items, &capacity, 0);
    if (status != Status::ok) return status;

    // p(n) = a(n) p(n-1) + p(n-2), seeded with p(-2)/q(-2) = 0/1, p(-1)/q(-1) = 1/0.
    long long p_prev2 = 0, q_prev2 = 1, p_prev1 = 1, q_prev1 = 0;
    double x = ratio;
    bool overflow = false;

    for (int n = 0; n < MAX_CFE_TERMS; ++n) {
        if (std::fabs(x) < CFE_EPSILON) break;
        if (!std::isfinite(x) || x <= 0.0) return Status::calculation_error;

        const double a_real = std::floor(x);
        if (a_real > TWO_POW_63 || a_real < 0.0) return Status::overflow_error;
        if (a_real == TWO_POW_63) return Status::calculation_error;
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
        if (q == 0 && n > 0) return Status::calculation_error;
        if (q > 0) {
            status = add_convergent(&list.items, &capacity, &list.count, p, q);
            if (status != Status::ok) return status;
        }

        x -= a_real;
        if (std::fabs(x) < CFE_EPSILON) break;
        if (x <= 0.0) return Status::calculation_error;
        x = 1.0 / x;
        if (!std::isfinite(x)) break;

        p_prev2 = p_prev1;
        q_prev2 = q_prev1;
        p_prev1 = p;
        q_prev1 = q;
    }

    if (list.count == 0) {
        return overflow ? Status::overflow_error : Status::calculation_error;
    }
    *convergents = list.items;
    *count = list.count;
    list.items = nullptr;  // handed over: the caller frees it now
    list.count = 0;
    return Status::ok;
}

Status find_integer_factor_pairs(long long n, FactorPair** pairs, int* count) {
    if (pairs == nullptr || count == nullptr) return Status::invalid_request;
    *pairs = nullptr;
    *count = 0;
    if (n <= 0) return Status::invalid_request;

    FactorPairList list;
    std::uint64_t capacity = 0;
    Status status = resize_factor_pair_array(&list.items, &capacity, 0);
    if (status != Status::ok) return status;

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
        if (status != Status::ok) return status;
    }

    *pairs = list.items;
    *count = list.count;
    list.items = nullptr;
    list.count = 0;
    return Status::ok;
}

long long max_long_long(long long a, long long b) {
    if (a < 0 && b < 0) return -1;
    if (a < 0) return b;
    if (b < 0) return a;
    return a > b ? a : b;
}

}  // namespace quillmere::core
