#include "process/process_exit.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/console.h"

namespace quillmere::process {

namespace {

constexpr const char* OUT_OF_MEMORY_TEXT = "Error: Out of memory. Exiting.\n";

void on_allocation_failure() {
    // Whatever was printed so far is kept; a failure of this flush changes nothing now.
    std::fflush(stdout);
    end_program_with_error(OUT_OF_MEMORY_TEXT);
}

}  // namespace

void install_out_of_memory_handler() {
    std::set_new_handler(on_allocation_failure);
}

void end_program_with_error(const char* message) {
    std::fputs(message, stderr);
    std::fflush(stderr);
    platform::console_leave_raw_mode();
    std::_Exit(1);
}

}  // namespace quillmere::process
