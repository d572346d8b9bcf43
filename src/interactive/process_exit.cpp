#include "interactive/process_exit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/console.h"

namespace {

constexpr const char* OUT_OF_MEMORY_TEXT = "Error: Out of memory. Exiting.\n";

void on_allocation_failure() {
    // Whatever was printed so far is kept; a failure of this flush changes nothing now.
    std::fflush(stdout);
    end_program_with_error(OUT_OF_MEMORY_TEXT);
}

}  // namespace

void flush_standard_output() {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && std::ferror(stdout) == 0) return;
    // A write that failed while the stream emptied its buffer by itself leaves only the
    // error indicator behind; its reason is gone by now.
    const int reason = flushed ? 0 : errno;
    char message[160];
    if (reason != 0) {
        std::snprintf(message, sizeof message,
                      "Error: cannot write the results to standard output (%s).\n",
                      std::strerror(reason));
    } else {
        std::snprintf(message, sizeof message,
                      "Error: cannot write the results to standard output.\n");
    }
    end_program_with_error(message);
}

void StandardOutputSink::write(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void StandardOutputSink::flush() {
    flush_standard_output();
}

void install_out_of_memory_handler() {
    std::set_new_handler(on_allocation_failure);
}

void end_program_with_error(const char* message) {
    std::fputs(message, stderr);
    std::fflush(stderr);
    console_leave_raw_mode();
    std::_Exit(1);
}
