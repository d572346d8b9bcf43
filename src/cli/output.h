// What the command-line mode writes: whole records on standard output, in the run's
// format, and its diagnostics on standard error.
#pragma once

#include <string>

#include "cli/options.h"
#include "records/records.h"

namespace quillmere::cli {

using records::Record;

/// The program's name in its diagnostics.
inline constexpr const char* PROGRAM = "quillmere";

/// Writes one whole record to standard output and flushes it, with the stop signals held
/// back meanwhile; false when it failed (errno tells why).
bool write_output(const std::string& text);

/// "quillmere: cannot write to standard output: <reason>" for the errno of a failed write.
void report_output_failure();

/// The refused argument list and the hint to --help.
void report_usage_error(const UsageError& error);

/// Writes the records of one run in its format.
class RecordWriter {
public:
    explicit RecordWriter(Format format) : format_(format) {}

    /// Writes what comes before the first record (the CSV header); false when it failed.
    bool begin();

    /// Writes one record; `line_text` is the batch line as given, for the text format's
    /// heading. False when the write failed.
    bool write(const Record& record, const std::string& line_text);

private:
    Format format_;
    bool first_ = true;
};

}  // namespace quillmere::cli
