// In a file of its own, so that no caller of operator new sees its body (the compiler
// would take free() on a pointer from new for a mismatch).
#include "failing_allocator.h"

#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

/// Allocations left before allocation fails; negative: no limit.
long g_allocations_left = -1;

/// Whether one more allocation may succeed, counting it.
bool take_one() {
    if (g_allocations_left == 0) return false;
    if (g_allocations_left > 0) --g_allocations_left;
    return true;
}

}  // namespace

void fail_allocations_after(long count) {
    g_allocations_left = count;
}

// The library's lists allocate with malloc, not operator new (see core/arithmetic.h). With
// glibc the test takes malloc over too, so they run out as well; not under the sanitizers,
// whose own malloc must stay in place.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(QUILLMERE_SANITIZED)
#define QUILLMERE_FAILING_MALLOC 1
extern "C" void* __libc_malloc(std::size_t size);

extern "C" void* malloc(std::size_t size) {
    if (!take_one()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
#endif

bool failing_allocator_covers_malloc() {
#ifdef QUILLMERE_FAILING_MALLOC
    return true;
#else
    return false;
#endif
}

void* operator new(std::size_t size) {
#ifdef QUILLMERE_FAILING_MALLOC
    // malloc above counts the allocation.
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
#else
    if (!take_one()) throw std::bad_alloc();
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
#endif
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
