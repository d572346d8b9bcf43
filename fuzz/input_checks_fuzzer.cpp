// Fuzzes the line checks behind the prompts: any line of bytes must give a sound
// result, and the prompt fed the same line must accept or refuse it exactly as its
// check does, with the same message on standard error.
//
// Input: the first byte picks the check, the rest is the line (cut at its first NUL).
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "fake_console.h"
#include "interactive/dialog.h"
#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/prompts.h"

namespace {

using namespace quillmere::interactive;
using quillmere::SearchMode;
using quillmere::Status;

/// Captures what is written to standard error through a scratch file.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        file_ = std::tmpfile();
        if (saved_ < 0 || file_ == nullptr) std::abort();
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrCapture() {
        if (saved_ >= 0) finish();
    }
    std::string finish() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
        std::string text;
        std::rewind(file_);
        char chunk[512];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, n);
        std::fclose(file_);
        return text;
    }

private:
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

[[noreturn]] void fail(const char* what, const std::string& line) {
    std::fprintf(stderr, "invariant broken: %s (line '%s')\n", what, line.c_str());
    std::abort();
}

void check_refusal_shape(const std::string& refusal, const std::string& line) {
    if (refusal.size() < 3 || refusal.front() != '\n' ||
        refusal.compare(refusal.size() - 2, 2, "\n\n") != 0) {
        fail("refusal does not start with one newline and end with two", line);
    }
}

/// The line as the reader would deliver it: printable characters only, at most 254.
bool reader_can_deliver(const std::string& line) {
    if (line.size() > INPUT_LINE_SIZE - 2) return false;
    for (unsigned char c : line) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

/// Runs a prompt on the line (then a stop request), returning its status and stderr.
template <typename Prompt>
Status run_prompt(const std::string& line, std::string* err, Prompt prompt) {
    fake_console_reset();
    fake_console_install_shutdown_event();
    fake_console_queue_text(line + "\r");
    fake_console_queue_shutdown();
    StderrCapture capture;
    const Status status = prompt();
    *err = capture.finish();
    if (fake_console_is_raw()) fail("console left in raw mode", line);
    return status;
}

/// The prompt either accepts (success, nothing on stderr) or refuses with the message
/// and then meets the stop request.
void expect_prompt_matches(Status checked, const std::string& refusal, Status prompted,
                           const std::string& err, const std::string& line) {
    if (checked == Status::ok) {
        if (prompted != Status::ok || !err.empty()) fail("prompt refused an accepted line", line);
    } else {
        if (prompted != Status::stopped) fail("prompt accepted a refused line", line);
        if (err != refusal) fail("prompt message differs from the check's", line);
    }
}

void fuzz_double(const std::string& line, bool via_prompt) {
    double value = 0.0;
    std::string refusal;
    const Status status = check_positive_double(line.c_str(), value, refusal);
    if (status == Status::ok) {
        if (!refusal.empty()) fail("accepted with a message", line);
        if (!std::isfinite(value) || value < 1.0 || value > 1e13) fail("rate out of bounds", line);
    } else {
        check_refusal_shape(refusal, line);
    }
    if (!via_prompt) return;
    double prompted_value = 0.0;
    std::string err;
    const Status prompted =
        run_prompt(line, &err, [&] { return get_positive_double("R: ", prompted_value); });
    expect_prompt_matches(status, refusal, prompted, err, line);
    if (status == Status::ok && prompted_value != value) fail("prompt stored another rate", line);
}

void fuzz_integer(const std::string& line, bool via_prompt) {
    static constexpr int ALLOWED[] = {1, 2, 3, 4};
    int value = 0;
    std::string refusal;
    const Status status = check_specific_integer(line.c_str(), ALLOWED, value, refusal);
    if (status == Status::ok && (value < 1 || value > 4)) fail("value not allowed", line);
    if (status != Status::ok) check_refusal_shape(refusal, line);
    if (!via_prompt) return;
    int prompted_value = 0;
    std::string err;
    const Status prompted = run_prompt(
        line, &err, [&] { return get_specific_integer("Q: ", ALLOWED, prompted_value); });
    expect_prompt_matches(status, refusal, prompted, err, line);
    if (status == Status::ok && prompted_value != value) fail("prompt stored another int", line);
}

void fuzz_long_long(const std::string& line, bool via_prompt) {
    long long value = 0;
    std::string refusal;
    const Status status = check_positive_long_long(line.c_str(), value, refusal);
    if (status == Status::ok && value < 1) fail("non-positive value accepted", line);
    if (status != Status::ok) check_refusal_shape(refusal, line);
    if (!via_prompt) return;
    long long prompted_value = 0;
    std::string err;
    const Status prompted =
        run_prompt(line, &err, [&] { return get_positive_long_long("N: ", prompted_value); });
    expect_prompt_matches(status, refusal, prompted, err, line);
    if (status == Status::ok && prompted_value != value) fail("prompt stored another value", line);
}

void fuzz_confirmation(const std::string& line, bool via_prompt) {
    std::string refusal;
    const ConfirmationAnswer answer = check_confirmation(line.c_str(), refusal);
    if (answer == ConfirmationAnswer::refused) {
        check_refusal_shape(refusal, line);
    } else if (!refusal.empty()) {
        fail("answered with a message", line);
    }
    if (!via_prompt) return;
    bool prompted_answer = false;
    std::string err;
    const Status prompted =
        run_prompt(line, &err, [&] { return get_confirmation("Y? ", prompted_answer); });
    expect_prompt_matches(
        answer == ConfirmationAnswer::refused ? Status::invalid_request : Status::ok, refusal,
        prompted, err, line);
    if (answer != ConfirmationAnswer::refused &&
        prompted_answer != (answer == ConfirmationAnswer::yes)) {
        fail("prompt gave another answer", line);
    }
}

void fuzz_search_mode(const std::string& line) {
    SearchMode mode = SearchMode::min_cost;
    bool is_default = false;
    std::string refusal;
    if (check_search_mode_answer(line.c_str(), mode, is_default, refusal) == Status::ok) {
        if (mode != SearchMode::minimal_sum && mode != SearchMode::custom_limit)
            fail("bad mode", line);
    } else {
        check_refusal_shape(refusal, line);
    }
}

void fuzz_target(const std::string& line) {
    std::optional<double> target = -1.0;
    std::string refusal;
    if (check_target_rate_answer(line.c_str(), target, refusal) == Status::ok) {
        if (target && (!std::isfinite(*target) || *target < 1.0 || *target > 1e13)) {
            fail("target out of bounds", line);
        }
    } else {
        check_refusal_shape(refusal, line);
        if (target) fail("refused target kept", line);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string line = raw.substr(0, raw.find('\0'));
    const bool via_prompt = reader_can_deliver(line);
    switch (data[0] % 6) {
    case 0: fuzz_double(line, via_prompt); break;
    case 1: fuzz_integer(line, via_prompt); break;
    case 2: fuzz_long_long(line, via_prompt); break;
    case 3: fuzz_confirmation(line, via_prompt); break;
    case 4: fuzz_search_mode(line); break;
    default: fuzz_target(line); break;
    }
    return 0;
}
