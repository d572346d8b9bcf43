// Stop requests of the command-line mode: Ctrl+C and SIGTERM set a flag that the search
// polls; a closed standard output becomes a failed write instead of a fatal signal.
// One implementation file per platform.
#pragma once

#include <atomic>

namespace quillmere::cli {

/// Set once Ctrl+C or a termination request arrives; never reset.
extern std::atomic<bool> g_stop_requested;
/// The number of the signal that asked to stop (SIGINT, SIGTERM); 0 before one arrives.
extern std::atomic<int> g_stop_signal;

/// Installs the stop handlers and ignores SIGPIPE; false when a handler cannot be set.
/// A read of standard input that the signal interrupts ends with an error, so a stop
/// is seen at once even while waiting for input.
bool install_stop_signals();

/// The exit status for a run ended by the stop signal: 128 + its number (130 for Ctrl+C).
int stop_exit_status();

}  // namespace quillmere::cli

namespace quillmere::cli {

/// Holds the stop signals back while it lives, so a record is never cut by one: a stop
/// that arrives meanwhile is handled once the record is written.
class StopSignalHold {
public:
    StopSignalHold();
    ~StopSignalHold();
    StopSignalHold(const StopSignalHold&) = delete;
    StopSignalHold& operator=(const StopSignalHold&) = delete;

private:
    alignas(8) unsigned char saved_[256];
};

}  // namespace quillmere::cli
