#include "cli/command_line.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <variant>
#include <vector>

#include "cli/arguments.h"
#include "cli/help_text.h"
#include "cli/records.h"
#include "cli/stop_signals.h"
#include "platform/console.h"
#include "quillmere/quillmere.h"

namespace quillmere::cli {

namespace {

constexpr const char* PROGRAM = "quillmere";
constexpr int STDERR_DESCRIPTOR = 2;

/// Writes one whole record to standard output and flushes it; false when it failed.
bool write_output(const std::string& text) {
    const StopSignalHold hold;
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

/// A progress line on standard error for a search that runs longer than a second, shown
/// only when standard error is a terminal; removed again when the search ends.
class ProgressLine final : public SearchObserver {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled), start_(Clock::now()), last_(start_) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() override { clear(); }

    void on_convergent(int index, int count) override {
        show("convergent " + std::to_string(index + 1) + " of " + std::to_string(count));
    }
    void on_common_factor_iterations(std::uint64_t total) override {
        show("common factors, " + std::to_string(total) + " iterations");
    }

    /// Removes the line, if one is shown.
    void clear() {
        if (width_ == 0) return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
        std::fflush(stderr);
        width_ = 0;
    }

private:
    using Clock = std::chrono::steady_clock;

    void show(const std::string& what) {
        if (!enabled_) return;
        const Clock::time_point now = Clock::now();
        if (now - start_ < std::chrono::seconds(1)) return;
        if (width_ != 0 && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const std::string text = std::string(PROGRAM) + ": searching: " + what;
        std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), text.c_str());
        std::fflush(stderr);
        if (text.size() > width_) width_ = text.size();
    }

    bool enabled_;
    Clock::time_point start_;
    Clock::time_point last_;
    std::size_t width_ = 0;
};

/// The option a field of the library's request stands for, for a refusal.
const char* option_for_field(const std::string& field) {
    if (field == "input_rate_hz") return "INPUT_RATE";
    if (field == "output_rate_hz") return "OUTPUT_RATE";
    if (field == "max_factor") return "--limit";
    if (field == "mode") return "--mode";
    if (field.rfind("intermediate_target", 0) == 0) return "--target";
    if (field == "filter.passband_hz") return "--passband";
    if (field == "filter.stopband_hz") return "--stopband";
    if (field == "filter.attenuation_db") return "--attenuation";
    if (field == "filter.ripple_db") return "--ripple";
    return nullptr;
}

/// The library's own check of a request; a refusal as a usage error.
std::optional<UsageError> check(const ResolvedRequest& request) {
    const RequestCheck result =
        request.stages == 1 ? check_request(request.single) : check_request(request.two);
    if (result.status == Status::ok) return std::nullopt;
    const char* const option = option_for_field(result.field);
    return UsageError{option != nullptr ? std::string(option) + ": " + result.message
                                        : result.message};
}

/// Solves a request and estimates its cost when asked; the record of the answer.
Record solve(const ResolvedRequest& request, const SolveOptions& options) {
    Record record;
    record.request = request;
    if (request.stages == 1) {
        record.single = solve_single_stage(request.single, options);
        if (request.cost && record.single->status == Status::ok) {
            record.cost = estimate_cost(request.single, *record.single, request.filter);
        }
        return record;
    }
    record.two = solve_two_stage(request.two, options);
    if (request.cost && record.two->status == Status::ok) {
        record.cost = estimate_cost(request.two, *record.two);
        // The same overall ratio in one stage, so the saving of two stages shows.
        const std::int64_t l = record.two->first.l * record.two->second.l;
        const std::int64_t m = record.two->first.m * record.two->second.m;
        const std::int64_t divisor = std::gcd(l, m);
        Stage single;
        single.l = l / divisor;
        single.m = m / divisor;
        record.single_stage_equivalent = single;
        const Stage one[] = {single};
        record.single_stage_cost = estimate_cost(request.two.input_rate_hz, one, request.filter);
    }
    return record;
}

bool search_stopped(const Record& record) {
    if (g_stop_requested.load()) return true;
    return (record.two && record.two->status == Status::stopped) ||
           (record.single && record.single->status == Status::stopped);
}

/// Why the solver failed.
std::string solver_message(const Record& record) {
    if (record.single) return record.single->message;
    if (record.two) return record.two->message;
    return {};
}

/// Writes the records of one run in its format.
class RecordWriter {
public:
    explicit RecordWriter(Format format) : format_(format) {}

    /// Writes what comes before the first record (the CSV header).
    bool begin() { return format_ != Format::csv || write_output(csv_header()); }

    bool write(const Record& record, const std::string& line_text) {
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
                text += "Error: " + solver_message(record) + "\n";
            }
        }
        return write_output(text);
    }

private:
    Format format_;
    bool first_ = true;
};

/// One request from the command line.
int run_single(const CommandLine& command, SolveOptions options) {
    const auto resolved = resolve_request(command.options, nullptr);
    if (const auto* error = std::get_if<UsageError>(&resolved)) {
        report_usage_error(*error);
        return EXIT_USAGE;
    }
    const ResolvedRequest& request = std::get<ResolvedRequest>(resolved);
    if (const auto error = check(request)) {
        report_usage_error(*error);
        return EXIT_USAGE;
    }
    ProgressLine progress(console_is_terminal(STDERR_DESCRIPTOR));
    options.observer = &progress;
    const Record record = solve(request, options);
    progress.clear();
    if (search_stopped(record)) return stop_exit_status();
    RecordWriter writer(command.format);
    if (!writer.begin() || !writer.write(record, {})) {
        report_output_failure();
        return EXIT_SOME_FAILED;
    }
    if (g_stop_requested.load()) return stop_exit_status();
    if (command.format == Format::text && std::string(record_status(record)) == "error") {
        // The report says the calculation failed; the reason goes with the diagnostics.
        std::fprintf(stderr, "%s: %s\n", PROGRAM, solver_message(record).c_str());
    }
    return record_succeeded(record) ? EXIT_ALL_FOUND : EXIT_SOME_FAILED;
}

/// The lines of the batch input, read through read_input so that a stop ends a wait.
class LineReader {
public:
    explicit LineReader(std::FILE* input) : input_(input) {}

    /// The next line, without its line break and a CR before it; data when there is one,
    /// else end, stopped or failed.
    InputRead next(std::string& line) {
        for (;;) {
            const std::size_t line_end = pending_.find('\n', scanned_);
            if (line_end != std::string::npos) {
                take(line, line_end, line_end + 1);
                return InputRead::data;
            }
            scanned_ = pending_.size();
            if (ended_) {
                if (start_ == pending_.size()) return InputRead::end;
                take(line, pending_.size(), pending_.size());  // no line break at the end
                return InputRead::data;
            }
            // Lines already taken make room before more is read.
            pending_.erase(0, start_);
            scanned_ -= start_;
            start_ = 0;
            char chunk[65536];
            std::size_t count = 0;
            const InputRead read = read_input(input_, chunk, sizeof chunk, &count);
            if (read == InputRead::end) {
                ended_ = true;
            } else if (read != InputRead::data) {
                return read;
            }
            pending_.append(chunk, count);
        }
    }

private:
    /// Takes the pending text up to `end` as the line; the next line starts at `next`.
    void take(std::string& line, std::size_t end, std::size_t next) {
        line.assign(pending_, start_, end - start_);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start_ = next;
        scanned_ = next;
    }

    std::FILE* input_;
    std::string pending_;
    std::size_t start_ = 0;    ///< where the next line begins in pending_
    std::size_t scanned_ = 0;  ///< pending_ holds no line break before this
    bool ended_ = false;
};

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
    if (const auto error = check(request)) {
        Record record = error_record(line_number, error->message);
        record.request = request;
        return record;
    }
    Record record = solve(request, options);
    record.line = line_number;
    return record;
}

/// One request per line of the batch file.
int run_batch(const CommandLine& command, SolveOptions options) {
    const std::string& name = *command.batch_file;
    std::FILE* input = stdin;
    if (name != "-") {
        input = std::fopen(name.c_str(), "r");
        if (input == nullptr) {
            const int error = errno;
            std::fprintf(stderr, "%s: cannot open batch file '%s': %s\n", PROGRAM, name.c_str(),
                         std::strerror(error));
            return EXIT_USAGE;
        }
    }
    struct Closer {
        std::FILE* file;
        ~Closer() {
            if (file != stdin) std::fclose(file);
        }
    } closer{input};

    RecordWriter writer(command.format);
    if (!writer.begin()) {
        report_output_failure();
        return EXIT_SOME_FAILED;
    }
    int status = EXIT_ALL_FOUND;
    LineReader lines(input);
    std::string line;
    std::int64_t line_number = 0;
    for (;;) {
        errno = 0;
        const InputRead read = lines.next(line);
        if (read == InputRead::stopped) break;
        if (read == InputRead::end) return status;
        if (read == InputRead::failed) {
            const int error = errno;
            std::fprintf(stderr, "%s: cannot read batch file '%s': %s\n", PROGRAM, name.c_str(),
                         error != 0 ? std::strerror(error) : "read error");
            return EXIT_SOME_FAILED;
        }
        ++line_number;
        const std::size_t first = line.find_first_not_of(" \t\v\f");
        if (first == std::string::npos || line[first] == '#') continue;

        ProgressLine progress(console_is_terminal(STDERR_DESCRIPTOR));
        options.observer = &progress;
        const Record record = run_line(command, line_number, line, options);
        progress.clear();
        if (search_stopped(record)) break;
        const std::size_t last = line.find_last_not_of(" \t\v\f");
        if (!writer.write(record, line.substr(first, last - first + 1))) {
            report_output_failure();
            return EXIT_SOME_FAILED;
        }
        if (!record_succeeded(record)) status = EXIT_SOME_FAILED;
    }
    return stop_exit_status();
}

std::vector<std::string> arguments_of(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

}  // namespace

int run_command_line(int argc, char** argv) {
    const bool output_open = standard_output_open();
    // Closed standard descriptors get the null device, so that nothing opened later (the
    // stop pipe, a batch file) takes their place and receives the records.
    if (!console_open_standard_descriptors()) {
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
    if (!install_stop_signals()) {
        std::fprintf(stderr, "%s: cannot install the signal handlers: %s\n", PROGRAM,
                     std::strerror(errno));
        return EXIT_SOME_FAILED;
    }
    if (command.help || command.version) {
        const std::string text =
            command.help ? std::string(HELP_TEXT) : std::string(PROGRAM) + " " + version() + "\n";
        if (!write_output(text)) {
            report_output_failure();
            return EXIT_SOME_FAILED;
        }
        return EXIT_ALL_FOUND;
    }

    SolveOptions options;
    options.stop_flag = &g_stop_requested;
    if (command.batch_file) return run_batch(command, options);
    return run_single(command, options);
}

}  // namespace quillmere::cli
