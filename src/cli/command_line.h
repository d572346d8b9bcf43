// The command-line mode: one request from the arguments, or one per line of a batch
// file, written as text, JSON Lines or CSV on standard output.
#pragma once

namespace quillmere::cli {

/// Exit statuses of the command-line mode.
inline constexpr int EXIT_ALL_FOUND = 0;    ///< every request found factors
inline constexpr int EXIT_SOME_FAILED = 1;  ///< a request found none or failed; or output failed
inline constexpr int EXIT_USAGE = 2;        ///< the command line itself was refused

/// Runs the command-line mode on the program's arguments and returns the exit status
/// (the statuses above, or 128 + the signal that stopped the run: 130 for Ctrl+C).
int run_command_line(int argc, char** argv);

}  // namespace quillmere::cli
