#include <io.h>
#include <windows.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <string>
#include <thread>

#include "platform/stop_signals.h"

namespace quillmere::platform {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// The C runtime calls the handler on a thread of its own for Ctrl+C (SIGINT) and
// Ctrl+Break (SIGBREAK), at any moment: it only stores to these lock-free atomics.

/// Set once a stop was requested.
std::atomic<bool> stop_requested_flag{false};
/// The signal whose exit status the run ends with (SIGINT, SIGTERM); 0 before one arrives.
std::atomic<int> stop_signal{0};

/// What the main thread waits for, if anything: a blocked read or write of a pipe cannot be
/// interrupted here, so the handler's thread ends the program instead.
enum class Waiting { nothing, input, output };
std::atomic<Waiting> waiting{Waiting::nothing};
static_assert(std::atomic<Waiting>::is_always_lock_free);

/// Marks a wait of the main thread for the handler while it lives.
class WaitMark {
public:
    explicit WaitMark(Waiting what) { waiting.store(what); }
    ~WaitMark() { waiting.store(Waiting::nothing); }
    WaitMark(const WaitMark&) = delete;
    WaitMark& operator=(const WaitMark&) = delete;
};

/// Ends the program at once with the stop's exit status: nothing is flushed, nothing waits.
[[noreturn]] void end_now(int signal_number) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(128 + signal_number));
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

void on_stop_signal(int signal_number) {
    int none = 0;
    stop_signal.compare_exchange_strong(none, signal_number == SIGTERM ? SIGTERM : SIGINT);
    stop_requested_flag.store(true);
    // A wait for input that did not end with the stop (a pipe rather than the console)
    // has nothing half done: the program ends. A record being written has stop_grace to
    // finish.
    const int status_signal = stop_signal.load();
    if (waiting.load() == Waiting::input) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (waiting.load() == Waiting::input) end_now(status_signal);
    }
    const auto deadline = std::chrono::steady_clock::now() + stop_grace;
    while (waiting.load() == Waiting::output) {
        if (std::chrono::steady_clock::now() >= deadline) {
            const std::string line = std::string("quillmere: ") + cut_record_message + "\r\n";
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                      &written, nullptr);
            end_now(status_signal);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

const std::atomic<bool>& stop_flag() {
    return stop_requested_flag;
}

bool standard_output_open() {
    return _get_osfhandle(_fileno(stdout)) >= 0;
}

bool standard_input_open() {
    return _get_osfhandle(_fileno(stdin)) >= 0;
}

bool install_stop_signals() {
    return std::signal(SIGINT, on_stop_signal) != SIG_ERR &&
           std::signal(SIGBREAK, on_stop_signal) != SIG_ERR &&
           std::signal(SIGTERM, on_stop_signal) != SIG_ERR;
}

InputOpen open_input(const char* name, std::FILE** file) {
    *file = nullptr;
    if (stop_requested()) return InputOpen::stopped;
    *file = std::fopen(name, "r");
    return *file != nullptr ? InputOpen::opened : InputOpen::failed;
}

InputRead read_input(std::FILE* stream, std::span<char> buffer, std::size_t& count) {
    count = 0;
    if (stop_requested()) return InputRead::stopped;
    const unsigned int size =
        buffer.size() > INT_MAX ? INT_MAX : static_cast<unsigned int>(buffer.size());
    int got = 0;
    {
        const WaitMark mark(Waiting::input);
        if (stop_requested()) return InputRead::stopped;
        got = _read(_fileno(stream), buffer.data(), size);
    }
    // Ctrl+C ends a console read early; the flag tells it from the end of the input.
    if (stop_requested()) return InputRead::stopped;
    if (got < 0) return InputRead::failed;
    if (got == 0) return InputRead::end;
    count = static_cast<std::size_t>(got);
    return InputRead::data;
}

int stop_exit_status() {
    const int signal_number = stop_signal.load();
    return 128 + (signal_number != 0 ? signal_number : SIGINT);
}

OutputWrite write_standard_output(std::string_view text) {
    const WaitMark mark(Waiting::output);
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0 ? OutputWrite::written : OutputWrite::failed;
}

}  // namespace quillmere::platform
