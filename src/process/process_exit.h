// How the program ends when it cannot go on, the same for both front ends: memory that
// cannot be had, or a failure a front end cannot recover from. Each ends the program at
// once, with its own message on standard error, the terminal as it was before the
// program, and exit code 1.
#pragma once

namespace quillmere::process {

/// Makes every failed allocation end the program with "Error: Out of memory. Exiting."
/// and exit code 1, instead of an exception that may itself need memory to be thrown
/// (with no memory left for it, that ends in std::terminate). Also a nothrow new ends
/// the program so.
void install_out_of_memory_handler();

/// Writes `message` to standard error as it is, puts the terminal back and ends the
/// program with exit code 1, without running destructors. Allocates nothing.
[[noreturn]] void end_program_with_error(const char* message);

}  // namespace quillmere::process
