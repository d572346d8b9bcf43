// The command-line mode: reads the arguments, then runs one request or one per batch line,
// writing a record for each.
#include "cli/command_line.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cli/argument_parser.h"
#include "cli/batch_lines.h"
#include "cli/batch_words.h"
#include "cli/help_text.h"
#include "cli/output.h"
#include "records/coefficient_files.h"
#include "records/records.h"
#include "records/request_resolution.h"
#include "cli/search_status_line.h"
#include "platform/console.h"
#include "platform/stop_signals.h"
#include "quillmere/quillmere.h"
#include "records/records.h"
#include "records/request_resolution.h"
#include "records/solving.h"

namespace quillmere::cli {

using records::Record;
using records::ResolvedRequest;

namespace {

/// True when a stop was requested or the record's search was stopped.
bool search_stopped(const Record& record) {
    if (platform::stop_requested()) return true;
    return (record.two && record.two->status == Status::stopped) ||
           (record.single && record.single->status == Status::stopped) ||
           (record.plan && record.plan->status == Status::stopped) ||
           (record.design && record.design->status == Status::stopped);
}

constexpr int STDERR_DESCRIPTOR = 2;

/// Writes the coefficient file the request asks for, once its filters are designed (also
/// when they miss their requirements: the record says so). A file that cannot be written
/// fails the record, which says why.
void write_coefficients(Record& record) {
    if (!record.request || !record.request->coefficients_file || !record.design ||
        record.design->status != Status::ok) {
        return;
    }
    const std::string name =
        records::coefficient_file_name(*record.request->coefficients_file, record.line);
    const std::string text =
        records::coefficient_file(*record.design, record.request->coefficients_format, name);
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "wb");
    bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int error = errno;
    if (file != nullptr) {
        if (std::fclose(file) != 0 && written) {
            written = false;
            error = errno;
        }
    }
    if (!written) {
        record.coefficients_error = "cannot write the coefficient file '" + name +
                                    "': " + (error != 0 ? std::strerror(error) : "write error");
        return;
    }
    record.coefficients_file = name;
}

/// One request from the command line.
int run_single(const CommandLine& command, SolveOptions options) {
    const auto resolved = resolve_request(command.options, nullptr);
    if (const auto* error = std::get_if<UsageError>(&resolved)) {
        report_usage_error(*error);
        return EXIT_USAGE;
    }
    const ResolvedRequest& request = std::get<ResolvedRequest>(resolved);
    if (const auto error = check_with_library(request)) {
        report_usage_error(*error);
        return EXIT_USAGE;
    }
    SearchStatusLine progress(platform::console_is_terminal(STDERR_DESCRIPTOR));
    options.observer = &progress;
    Record record = solve(request, options);
    progress.clear();
    if (search_stopped(record)) return platform::stop_exit_status();
    write_coefficients(record);
    RecordWriter writer(command.format);
    OutputWrite written = writer.begin();
    if (written == OutputWrite::written) written = writer.write(record, {});
    if (written != OutputWrite::written) return end_of_output(written);
    if (platform::stop_requested()) return platform::stop_exit_status();
    if (command.format == Format::text && !record_succeeded(record)) {
        // The report says the request failed; the reason goes with the diagnostics.
        const std::string reason = record_error(record);
        if (!reason.empty()) std::fprintf(stderr, "%s: %s\n", PROGRAM, reason.c_str());
    }
    return record_succeeded(record) ? EXIT_ALL_FOUND : EXIT_SOME_FAILED;
}

/// A record for a line whose request could not be made.
Record error_record(std::int64_t line_number, std::string reason) {
    Record record;
    record.line = line_number;
    record.error = std::move(reason);
    return record;
}

/// The record of one batch line.
Record run_line(const CommandLine& command, std::int64_t line_number, const std::string& line,
                const SolveOptions& options) {
    const auto words = split_words(line);
    if (const auto* error = std::get_if<UsageError>(&words)) {
        return error_record(line_number, error->message);
    }
    const auto layer = parse_batch_line(std::get<std::vector<std::string>>(words));
    if (const auto* error = std::get_if<UsageError>(&layer)) {
        return error_record(line_number, error->message);
    }
    const auto resolved = resolve_request(std::get<OptionLayer>(layer), &command.options);
    if (const auto* error = std::get_if<UsageError>(&resolved)) {
        return error_record(line_number, error->message);
    }
    const ResolvedRequest& request = std::get<ResolvedRequest>(resolved);
    if (const auto error = check_with_library(request)) {
        Record record = error_record(line_number, error->message);
        record.request = request;
        return record;
    }
    Record record = solve(request, options);
    record.line = line_number;
    write_coefficients(record);
    return record;
}

/// One request per line of the batch file; `input_open`: whether standard input was open
/// when the program started.
int run_batch(const CommandLine& command, SolveOptions options, bool input_open) {
    const std::string& name = *command.batch_file;
    std::FILE* input = stdin;
    if (name == "-" && !input_open) {
        // The null device stands in for it: that would be an empty batch, not an input
        // that cannot be read.
        std::fprintf(stderr, "%s: cannot read batch file '-': standard input is closed\n", PROGRAM);
        return EXIT_SOME_FAILED;
    }
    if (name != "-") {
        const platform::InputOpen opened = platform::open_input(name.c_str(), &input);
        if (opened == platform::InputOpen::stopped) return platform::stop_exit_status();
        if (opened == platform::InputOpen::failed) {
            const int error = errno;
            std::fprintf(stderr, "%s: cannot open batch file '%s': %s\n", PROGRAM, name.c_str(),
                         std::strerror(error));
            return EXIT_USAGE;
        }
    }
    struct Closer {
        std::FILE* file = nullptr;
        ~Closer() {
            if (file != nullptr && file != stdin) std::fclose(file);
        }
    } closer{input};

    RecordWriter writer(command.format);
    if (const OutputWrite header = writer.begin(); header != OutputWrite::written) {
        return end_of_output(header);
    }
    int status = EXIT_ALL_FOUND;
    BatchLineReader lines(input);
    std::string line;
    std::int64_t line_number = 0;
    for (;;) {
        errno = 0;
        const platform::InputRead read = lines.next(line);
        if (read == platform::InputRead::stopped) break;
        if (read == platform::InputRead::end) return status;
        if (read == platform::InputRead::failed) {
            const int error = errno;
            std::fprintf(stderr, "%s: cannot read batch file '%s': %s\n", PROGRAM, name.c_str(),
                         error != 0 ? std::strerror(error) : "read error");
            return EXIT_SOME_FAILED;
        }
        ++line_number;
        Record record;
        std::string heading;
        if (lines.line_too_long()) {
            const std::string limit = std::to_string(BatchLineReader::max_line_bytes);
            record = error_record(line_number, "the line is longer than " + limit + " bytes");
            heading = "(longer than " + limit + " bytes)";
        } else {
            const std::size_t first = line.find_first_not_of(" \t\v\f");
            if (first == std::string::npos || line[first] == '#') continue;

            SearchStatusLine progress(platform::console_is_terminal(STDERR_DESCRIPTOR));
            options.observer = &progress;
            record = run_line(command, line_number, line, options);
            progress.clear();
            if (search_stopped(record)) break;
            const std::size_t last = line.find_last_not_of(" \t\v\f");
            heading = line.substr(first, last - first + 1);
        }
        if (const OutputWrite written = writer.write(record, heading);
            written != OutputWrite::written) {
            return end_of_output(written);
        }
        if (!record_succeeded(record)) status = EXIT_SOME_FAILED;
    }
    return platform::stop_exit_status();
}

std::vector<std::string> arguments_of(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

}  // namespace

int run_command_line(int argc, char** argv) {
    const bool output_open = platform::standard_output_open();
    const bool input_open = platform::standard_input_open();
    // Closed standard descriptors get the null device, so that nothing opened later (the
    // stop pipe, a batch file) takes their place and receives the records.
    if (!platform::console_open_standard_descriptors()) {
        std::fprintf(stderr, "%s: cannot open the null device for a closed standard stream\n",
                     PROGRAM);
        return EXIT_SOME_FAILED;
    }
    const auto parsed = parse_command_line(arguments_of(argc, argv));
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        report_usage_error(*error);
        return EXIT_USAGE;
    }
    const CommandLine& command = std::get<CommandLine>(parsed);
    if (!output_open) {
        errno = EBADF;
        report_output_failure();
        return EXIT_SOME_FAILED;
    }
    if (!platform::install_stop_signals()) {
        std::fprintf(stderr, "%s: cannot install the signal handlers: %s\n", PROGRAM,
                     std::strerror(errno));
        return EXIT_SOME_FAILED;
    }
    if (command.help || command.version) {
        const std::string text =
            command.help ? std::string(HELP_TEXT) : std::string(PROGRAM) + " " + version() + "\n";
        const OutputWrite written = write_output(text);
        return written == OutputWrite::written ? EXIT_ALL_FOUND : end_of_output(written);
    }

    SolveOptions options;
    options.stop_flag = &platform::stop_flag();
    if (command.batch_file) return run_batch(command, options, input_open);
    return run_single(command, options);
}

}  // namespace quillmere::cli
