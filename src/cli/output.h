// What the command-line mode writes: whole records on standard output, in the run's
// format, and its diagnostics on standard error.
#pragma once

#include <string>

#include "cli/options.h"
#include "platform/stop_signals.h"
#include "records/records.h"

namespace quillmere::cli {

using records::Record;

/// The program's name in its diagnostics.
inline constexpr const char* PROGRAM = "quillmere";

using platform::OutputWrite;

/// Writes one whole record to standard output. A stop that arrives meanwhile lets it
/// finish while standard output takes it promptly (platform::stop_grace); failed: errno
/// tells why.
OutputWrite write_output(const std::string& text);

/// "quillmere: cannot write to standard output: <reason>" for the errno of a failed write.
void report_output_failure();

/// The exit status of a write that did not give `written`, after saying why on standard
/// error: 1 for a failed write, the stop's status for a stop (with a word when the record
/// was cut).
int end_of_output(OutputWrite write);

/// The refused argument list and the hint to --help.
void report_usage_error(const UsageError& error);

/// Writes the records of one run in its format.
class RecordWriter {
public:
    explicit RecordWriter(Format format) : format_(format) {}

    /// Writes what comes before the first record (the CSV header).
    OutputWrite begin();

    /// Writes one record; `line_text` is the batch line as given, for the text format's
    /// heading.
    OutputWrite write(const Record& record, const std::string& line_text);

private:
    Format format_;
    bool first_ = true;
};

}  // namespace quillmere::cli
