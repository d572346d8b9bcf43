// Stop requests of a program that never reads the terminal (the command-line mode):
// Ctrl+C and SIGTERM set a flag that the search polls and end a wait for batch input, for
// a batch file to open or for standard output to take a record; a closed standard output
// becomes a failed write instead of a fatal signal. One implementation file per platform.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

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

/// Whether standard input was open when the program started. To be called before
/// anything is opened.
bool standard_input_open();

/// Installs the stop handlers and ignores SIGPIPE; false when a handler cannot be set.
bool install_stop_signals();

/// What a read of the batch input gave.
enum class InputRead {
    data,     ///< one or more bytes
    end,      ///< the end of the input
    stopped,  ///< a stop was requested before or while waiting
    failed,   ///< the read failed (errno tells why)
};

/// How opening the batch input ended.
enum class InputOpen {
    opened,   ///< `file` holds the open stream
    stopped,  ///< a stop was requested before or while waiting
    failed,   ///< the file cannot be opened (errno tells why)
};

/// Opens a file for reading through read_input. Opening never waits: a FIFO that has no
/// writer yet opens at once, and read_input waits for its writer as for its data, so that
/// a stop ends the wait.
InputOpen open_input(const char* name, std::FILE** file);

/// Reads what the stream's file has, up to buffer.size() bytes, waiting for at least one;
/// `count` gets the number read. A stop request ends the wait at once, whenever it
/// arrives. The stream's own buffer is not used: read all of a stream through this
/// function or none of it.
InputRead read_input(std::FILE* stream, std::span<char> buffer, std::size_t& count);

/// The exit status for a run ended by the stop signal: 128 + its number (130 for Ctrl+C).
int stop_exit_status();

/// How long a record being written may still take once a stop arrived: the promise
/// never to cut a record in half holds while its write can finish promptly, and ends
/// there, so that a reader who stalls cannot keep the program from stopping.
inline constexpr std::chrono::milliseconds stop_grace{1000};

/// What writing to standard output gave.
enum class OutputWrite {
    written,  ///< all of it
    failed,   ///< the write failed (errno tells why)
    stopped,  ///< a stop arrived and standard output took none of it within stop_grace
    cut,      ///< a stop arrived and standard output took only part of it within stop_grace
};

/// Writes all of `text` to standard output, waiting as long as standard output blocks, but
/// once a stop was requested (also before the call) no longer than stop_grace. On Windows
/// the C stream writes it (it translates line ends) and a blocked write cannot be
/// interrupted: there the stop handler itself ends the program after stop_grace, with the
/// stop's exit status and the cut record's message on standard error.
OutputWrite write_standard_output(std::string_view text);

/// The message of a run stopped while standard output blocked a record it took part of.
inline constexpr const char* cut_record_message =
    "stopped while standard output was blocked; the last record is incomplete";

/// The message of a run stopped while standard output blocked a record it took none of.
inline constexpr const char* unwritten_record_message =
    "stopped while standard output was blocked; the last record was not written";

}  // namespace quillmere::platform
