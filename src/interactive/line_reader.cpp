// The raw line reader: one line from the console in raw mode, echoed as it is typed.
//
// Its error messages name the Windows console functions (ReadConsoleInput,
// WaitForMultipleObjects) on every platform: they are the dialog's texts, which stay
// byte for byte the same wherever it runs.
#include "interactive/line_reader.h"

#include <cstdio>
#include <string_view>

#include "interactive/messages.h"
#include "interactive/shutdown.h"
#include "interactive/standard_output.h"
#include "platform/console.h"

namespace quillmere::interactive {

namespace {

using platform::ConsoleMode;
using platform::ConsoleResult;
using platform::KeyEvent;
using platform::KeyKind;

/// Puts the saved console input mode back once, however the reader leaves.
class RawModeGuard {
public:
    explicit RawModeGuard(const ConsoleMode& initial) : initial_(initial) {}
    ~RawModeGuard() { restore(); }
    RawModeGuard(const RawModeGuard&) = delete;
    RawModeGuard& operator=(const RawModeGuard&) = delete;

    /// Restores the mode on the first call only; later calls report success.
    ConsoleResult restore() {
        if (done_) return {};
        done_ = true;
        return platform::console_restore_input_mode(initial_);
    }

private:
    const ConsoleMode& initial_;
    bool done_ = false;
};

void write_console(const char* text) {
    if (text != nullptr) platform::console_write(text);
}

/// The part of the reader that runs in raw mode; the caller restores the mode.
Status collect_line(const char* prompt, std::span<char> buffer, const char* shown_prompt) {
    std::size_t length = 0;
    buffer[0] = '\0';
    // Whatever the program printed before this question must be visible above it.
    flush_standard_output();
    write_console(prompt);

    platform::ShutdownEvent* const event = shutdown_event();
    KeyEvent batch[platform::CONSOLE_KEY_BATCH];
    // The limit is tested only between batches: a batch is handled to its end, so a
    // paste can fill the last free byte and still be finished by its own Enter.
    while (length < buffer.size() - 1) {
        if (shutdown_requested()) return Status::stopped;
        const platform::ConsoleWait waited = platform::console_wait_for_input(event);
        if (shutdown_requested()) return Status::stopped;
        if (waited.result == platform::WaitResult::shutdown) return Status::stopped;
        if (waited.result == platform::WaitResult::resumed) {
            // Back from a stop (Ctrl+Z, then fg): the shell has written to the screen in
            // the meantime, so the prompt and what was typed so far are shown again on a
            // line of their own; what the user sees is what will be taken.
            write_console("\r\n");
            write_console(prompt != nullptr ? prompt : shown_prompt);
            platform::console_write(std::string_view(buffer.data(), length));
            continue;
        }
        if (waited.result != platform::WaitResult::input) {
            print_stderr(
                "WaitForMultipleObjects failed or returned unexpected value (%lu, Error %lu).",
                waited.code, waited.error);
            return Status::calculation_error;
        }

        std::size_t count = 0;
        const ConsoleResult read = platform::console_read_keys(batch, count);
        if (!read.ok) {
            print_stderr("ReadConsoleInput failed (Error %lu).", read.error);
            return Status::calculation_error;
        }
        if (shutdown_requested()) return Status::stopped;
        if (count > platform::CONSOLE_KEY_BATCH) count = platform::CONSOLE_KEY_BATCH;

        for (std::size_t i = 0; i < count; ++i) {
            const KeyEvent& key = batch[i];
            if (key.kind == KeyKind::enter) {
                write_console("\r\n");
                buffer[length] = '\0';
                return Status::ok;  // the rest of the batch is dropped
            }
            if (key.kind == KeyKind::backspace) {
                if (length > 0) {
                    buffer[--length] = '\0';
                    write_console("\b \b");
                }
                continue;
            }
            const unsigned char byte = static_cast<unsigned char>(key.character);
            if (byte < 0x20 || byte > 0x7E) continue;  // no printable character: ignored
            if (length < buffer.size() - 1) {
                buffer[length++] = key.character;
                buffer[length] = '\0';
                platform::console_write(std::string_view(&key.character, 1));
            } else {
                platform::console_beep();
            }
        }
    }

    write_console("\r\n");
    std::fprintf(stderr, "\nInput line too long (max %zu characters). Input discarded.\n\n",
                 buffer.size() - 2);
    std::fflush(stderr);
    return Status::invalid_request;
}

}  // namespace

Status read_console_line(const char* prompt, std::span<char> buffer, const char* shown_prompt) {
    // A buffer without room for one character and its terminator could never end a line.
    if (buffer.size() < 2 || !platform::console_open_handles()) {
        print_stderr("Failed to get standard handles.");
        return Status::calculation_error;
    }
    if (shutdown_event() == nullptr) {
        print_stderr("Internal Error: Shutdown event handle is NULL.");
        return Status::calculation_error;
    }
    ConsoleMode initial;
    const ConsoleResult got = platform::console_get_input_mode(initial);
    if (!got.ok) {
        print_stderr("Failed to get console mode (Error %lu).", got.error);
        return Status::calculation_error;
    }
    const ConsoleResult raw = platform::console_set_raw_input_mode(initial);
    if (!raw.ok) {
        print_stderr("Failed to set raw console mode (Error %lu).", raw.error);
        return Status::calculation_error;
    }

    RawModeGuard raw_mode(initial);
    Status result = collect_line(prompt, buffer, shown_prompt);
    const ConsoleResult restored = raw_mode.restore();
    if (!restored.ok) {
        print_stderr("Failed to restore initial console mode (Error %lu).", restored.error);
        // An over-long line or a console failure already says the read went wrong.
        if (result == Status::ok || result == Status::stopped) {
            result = Status::calculation_error;
        }
    }
    return result;
}

}  // namespace quillmere::interactive
