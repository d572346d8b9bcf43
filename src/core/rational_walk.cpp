#include "core/rational_walk.h"

#include <algorithm>

namespace quillmere::core {

// Two neighbours a/b < c/d of the cut tree satisfy bc - ad = 1, and so does the next pair:
// the fraction after c/d is (kc - a) / (kd - b) for the largest k that keeps it within the
// bound, the one before a/b is (ka - c) / (kb - d) likewise.

Fraction next_above(const Fraction& lower, const Fraction& upper, std::uint64_t bound) {
    if (upper.q == 0 || upper.p == 0) return Fraction{1, 0};
    const std::uint64_t k =
        std::min((bound + lower.q) / upper.q, (bound + lower.p) / upper.p);
    if (k * upper.q <= lower.q || k * upper.p <= lower.p) return Fraction{1, 0};
    return Fraction{k * upper.p - lower.p, k * upper.q - lower.q};
}

Fraction next_below(const Fraction& lower, const Fraction& upper, std::uint64_t bound) {
    if (lower.p == 0 || lower.q == 0) return Fraction{0, 1};
    const std::uint64_t k =
        std::min((bound + upper.q) / lower.q, (bound + upper.p) / lower.p);
    if (k * lower.p <= upper.p || k * lower.q <= upper.q) return Fraction{0, 1};
    return Fraction{k * lower.p - upper.p, k * lower.q - upper.q};
}

int compare_fractions(std::uint64_t p, std::uint64_t q, std::uint64_t r, std::uint64_t s) {
    const unsigned __int128 left = static_cast<unsigned __int128>(p) * s;
    const unsigned __int128 right = static_cast<unsigned __int128>(r) * q;
    return left < right ? -1 : left > right ? 1 : 0;
}

}  // namespace quillmere::core
