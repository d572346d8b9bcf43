#include "process/process_exit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "interactive/standard_output.h"

namespace {

using quillmere::interactive::flush_standard_output;
using quillmere::process::install_out_of_memory_handler;

// Each case runs in a child process of its own, since the program ends there.

// The sanitizers' allocator reports a failed allocation itself and never returns.
#if defined(__SANITIZE_ADDRESS__)
#define QUILLMERE_ALLOCATOR_REPLACED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLMERE_ALLOCATOR_REPLACED 1
#endif
#endif

#ifndef _WIN32
/// Points standard output at a device that refuses every write.
void send_standard_output_to_dev_full() {
    if (std::freopen("/dev/full", "w", stdout) == nullptr) std::exit(3);
}

TEST(ProcessExitDeathTest, AWriteThatFailedBeforeTheFlushIsReportedToo) {
    // More than one buffer of text: the stream writes it out by itself, the write fails
    // and only the error indicator is left for the next flush, without the reason. (A
    // failed flush with its reason is tested end to end, at a terminal.)
    EXPECT_EXIT(
        {
            send_standard_output_to_dev_full();
            const std::string dots(1 << 16, '.');
            std::fputs(dots.c_str(), stdout);
            flush_standard_output();
            std::exit(0);
        },
        testing::ExitedWithCode(1), "^Error: cannot write the results to standard output\\.\n$");
}

#endif  // _WIN32

TEST(ProcessExitDeathTest, AFailedAllocationEndsWithTheProgramsMessage) {
#ifdef QUILLMERE_ALLOCATOR_REPLACED
    GTEST_SKIP() << "the sanitizer's allocator ends the program itself";
#endif
    // Both forms of new: neither may throw, nor end in std::terminate.
    for (const bool nothrow : {false, true}) {
        SCOPED_TRACE(nothrow ? "new (std::nothrow)" : "new");
        EXPECT_EXIT(
            {
                install_out_of_memory_handler();
                volatile std::size_t huge = static_cast<std::size_t>(-1) / 2;
                char* block = nothrow ? new (std::nothrow) char[huge] : new char[huge];
                delete[] block;
                std::exit(0);
            },
            testing::ExitedWithCode(1), "^Error: Out of memory\\. Exiting\\.\n$");
    }
}

}  // namespace
