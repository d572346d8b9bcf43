// CLI11, for the one file that reads the arguments with it; nothing includes
// <CLI/CLI.hpp> but this header.
//
// CLI11's headers define validator objects whose construction allocates as the program
// starts, before main, in every file that includes them. Memory that runs out there must
// end the program with its own message as anywhere else, so this header puts the
// out-of-memory handler in place before them: the objects of one file are constructed in
// the order they are defined, and this one is defined first.
#pragma once

#include "process/process_exit.h"

namespace quillmere::cli::detail {
[[maybe_unused]] static const bool out_of_memory_handler_first =
    (process::install_out_of_memory_handler(), true);
}  // namespace quillmere::cli::detail

#include <CLI/CLI.hpp>
