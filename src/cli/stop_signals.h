// Stop requests of the command-line mode: Ctrl+C and SIGTERM set a flag that the search
// polls and end a wait for batch input; a closed standard output becomes a failed write
// instead of a fatal signal. One implementation file per platform.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>

namespace quillmere::cli {

/// Set once Ctrl+C or a termination request arrives; never reset.
extern std::atomic<bool> g_stop_requested;
/// The number of the signal that asked to stop (SIGINT, SIGTERM); 0 before one arrives.
extern std::atomic<int> g_stop_signal;

/// Whether standard output was open when the program started. To be called before
/// anything is opened.
bool standard_output_open();

/// Installs the stop handlers and ignores SIGPIPE; false when a handler cannot be set.
bool install_stop_signals();

/// What a read of the batch input gave.
enum class InputRead {
    data,     ///< one or more bytes
    end,      ///< the end of the input
    stopped,  ///< a stop was requested before or while waiting
    failed,   ///< the read failed (errno tells why)
};

/// Reads what the stream's file has, up to `capacity` bytes, waiting for at least one;
/// a stop request ends the wait at once, whenever it arrives. The stream's own buffer
/// is not used: read all of a stream through this function or none of it.
InputRead read_input(std::FILE* stream, char* buffer, std::size_t capacity, std::size_t* count);

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
