// In a file of its own, so that no caller of operator new sees its body (the compiler
// would take free() on a pointer from new for a mismatch).
#include "failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

/// Allocations left before operator new fails; negative: no limit.
long g_allocations_left = -1;

}  // namespace

void fail_allocations_after(long count) {
    g_allocations_left = count;
}

void* operator new(std::size_t size) {
    if (g_allocations_left == 0) throw std::bad_alloc();
    if (g_allocations_left > 0) --g_allocations_left;
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
