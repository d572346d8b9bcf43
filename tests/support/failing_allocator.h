// A replacement of the global operator new that fails on demand, for tests of what code
// does when memory runs out. Linking failing_allocator.cpp into a test program replaces
// operator new and delete for the whole program.
#pragma once

/// Lets `count` more allocations succeed, then makes operator new throw std::bad_alloc;
/// a negative count lifts the limit. Not thread-safe: for single-threaded tests.
void fail_allocations_after(long count);

/// Whether malloc fails too (glibc builds without the sanitizers), not only operator new.
bool failing_allocator_covers_malloc();
