// Failures the program cannot go on after: standard output that cannot be written, and
// memory that cannot be had. Each ends the program at once, with its own message on
// standard error, the terminal as it was before the program, and exit code 1.
#pragma once

#include <string_view>

#include "report/text_sink.h"

/// Flushes standard output. Every flush of standard output goes through here, so the
/// first failure is seen at once: a failed flush, or an earlier write whose failure the
/// stream has recorded. It is said once on standard error, for example
/// "Error: cannot write the results to standard output (No space left on device).",
/// and the program ends with exit code 1.
void flush_standard_output();

/// Standard output as the reports write to it: every flush goes through
/// flush_standard_output.
class StandardOutputSink final : public TextSink {
public:
    void write(std::string_view text) override;
    void flush() override;
};

/// Makes every failed allocation end the program with "Error: Out of memory. Exiting."
/// and exit code 1, instead of an exception that may itself need memory to be thrown
/// (with no memory left for it, that ends in std::terminate). Also a nothrow new ends
/// the program so.
void install_out_of_memory_handler();

/// Writes `message` to standard error as it is, puts the terminal back and ends the
/// program with exit code 1, without running destructors. Allocates nothing.
[[noreturn]] void end_program_with_error(const char* message);
