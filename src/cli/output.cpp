#include "cli/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/command_line.h"
#include "platform/stop_signals.h"

namespace quillmere::cli {

using records::csv_header;

OutputWrite write_output(const std::string& text) {
    errno = 0;
    return platform::write_standard_output(text);
}

void report_output_failure() {
    const int error = errno;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", PROGRAM,
                 error != 0 ? std::strerror(error) : "write error");
    std::fflush(stderr);
}

int end_of_output(OutputWrite write) {
    switch (write) {
    case OutputWrite::failed: report_output_failure(); return EXIT_SOME_FAILED;
    case OutputWrite::cut:
    case OutputWrite::stopped:
        std::fprintf(stderr, "%s: %s\n", PROGRAM,
                     write == OutputWrite::cut ? platform::cut_record_message
                                               : platform::unwritten_record_message);
        std::fflush(stderr);
        break;
    case OutputWrite::written: break;
    }
    return platform::stop_exit_status();
}

void report_usage_error(const UsageError& error) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROGRAM,
                 error.message.c_str(), PROGRAM);
    std::fflush(stderr);
}

OutputWrite RecordWriter::begin() {
    return format_ == Format::csv ? write_output(csv_header()) : OutputWrite::written;
}

OutputWrite RecordWriter::write(const Record& record, const std::string& line_text) {
    switch (format_) {
    case Format::json: return write_output(format_json(record));
    case Format::csv: return write_output(format_csv(record));
    case Format::text: break;
    }
    std::string text;
    if (record.line) {
        if (!first_) text += '\n';
        text += "=== Line ";
        text += std::to_string(*record.line);
        text += ": ";
        text += line_text;
        text += " ===\n";
    }
    first_ = false;
    if (!record.error.empty()) {
        text += "Error: " + record.error + "\n";
    } else {
        text += format_text(record);
        // A failed request: the report says so; the record also says why.
        const std::string reason = record_error(record);
        if (record.line && !reason.empty()) {
            const bool found_none = std::string(record_status(record)) == "not_found";
            text += (found_none ? "Not found: " : "Error: ") + reason + "\n";
        }
    }
    return write_output(text);
}

}  // namespace quillmere::cli
