// Stop requests of a program that never reads the terminal (the command-line mode):
// Ctrl+C and SIGTERM set a flag that the search polls and end a wait for batch input; a
// closed standard output becomes a failed write instead of a fatal signal. One
// implementation file per platform.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <span>

namespace quillmere::platform {

/// The flag that Ctrl+C or a termination request sets; never reset. A search gets it as
/// its stop flag.
const std::atomic<bool>& stop_flag();

/// True once Ctrl+C or a termination request arrived.
inline bool stop_requested() {
    return stop_flag().load();
}

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

/// Reads what the stream's file has, up to buffer.size() bytes, waiting for at least one;
/// `count` gets the number read. A stop request ends the wait at once, whenever it
/// arrives. The stream's own buffer is not used: read all of a stream through this
/// function or none of it.
InputRead read_input(std::FILE* stream, std::span<char> buffer, std::size_t& count);

/// The exit status for a run ended by the stop signal: 128 + its number (130 for Ctrl+C).
int stop_exit_status();

/// Holds the stop signals back while it lives, so a record is never cut by one: a stop
/// that arrives meanwhile is handled once the record is written.
class StopSignalHold {
public:
    StopSignalHold();
    ~StopSignalHold();
    StopSignalHold(const StopSignalHold&) = delete;
    StopSignalHold& operator=(const StopSignalHold&) = delete;

private:
    /// The signal mask to put back, copied in and out as bytes (a sigset_t on POSIX,
    /// unused on Windows), so that this header needs no system header.
    alignas(8) unsigned char saved_mask_[256] = {};
};

}  // namespace quillmere::platform
