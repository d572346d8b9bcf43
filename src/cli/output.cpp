#include "cli/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/stop_signals.h"

namespace quillmere::cli {

using records::csv_header;

bool write_output(const std::string& text) {
    const platform::StopSignalHold hold;
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0;
}

void report_output_failure() {
    const int error = errno;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", PROGRAM,
                 error != 0 ? std::strerror(error) : "write error");
    std::fflush(stderr);
}

void report_usage_error(const UsageError& error) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROGRAM,
                 error.message.c_str(), PROGRAM);
    std::fflush(stderr);
}

bool RecordWriter::begin() {
    return format_ != Format::csv || write_output(csv_header());
}

bool RecordWriter::write(const Record& record, const std::string& line_text) {
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
        // A failed calculation: the report says so; the record also says why.
        if (record.line && std::string(record_status(record)) == "error") {
            text += "Error: " + failure_message(record) + "\n";
        }
    }
    return write_output(text);
}

}  // namespace quillmere::cli
