// The raw line reader: one line from the console in raw mode, echoed as it is typed.
#include "interactive/line_reader.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "interactive/messages.h"
#include "interactive/process_exit.h"
#include "interactive/shutdown.h"
#include "platform/console.h"

namespace {

/// Puts the saved console input mode back once, however the reader leaves.
class RawModeGuard {
public:
    explicit RawModeGuard(const ConsoleMode* initial) : initial_(initial) {}
    ~RawModeGuard() { restore(nullptr); }
    RawModeGuard(const RawModeGuard&) = delete;
    RawModeGuard& operator=(const RawModeGuard&) = delete;

    /// Restores the mode on the first call only; false with the error when that fails.
    bool restore(unsigned long* error) {
        if (done_) return true;
        done_ = true;
        unsigned long code = 0;
        bool ok = console_restore_input_mode(initial_, &code);
        if (error != nullptr) *error = code;
        return ok;
    }

private:
    const ConsoleMode* initial_;
    bool done_ = false;
};

void write_console(std::string_view text) {
    console_write(text.data(), text.size());
}

/// The part of the reader that runs in raw mode; the caller restores the mode.
StatusCode collect_line(const char* prompt, char* buffer, std::size_t buffer_size,
                        const char* shown_prompt) {
    std::size_t length = 0;
    buffer[0] = '\0';
    // Whatever the program printed before this question must be visible above it.
    flush_standard_output();
    if (prompt != nullptr) console_write(prompt, std::strlen(prompt));

    ShutdownEvent* const event = g_hShutdownEvent.load();
    KeyEvent batch[CONSOLE_KEY_BATCH];
    // The limit is tested only between batches: a batch is handled to its end, so a
    // paste can fill the last free byte and still be finished by its own Enter.
    while (length < buffer_size - 1) {
        if (shutdown_requested()) return STATUS_FAILURE;
        unsigned long error = 0;
        const unsigned long waited = console_wait_for_input(event, &error);
        if (shutdown_requested()) return STATUS_FAILURE;
        if (waited == CONSOLE_WAIT_SHUTDOWN) return STATUS_FAILURE;
        if (waited == CONSOLE_WAIT_RESUMED) {
            // Back from a stop (Ctrl+Z, then fg): the shell has written to the screen in
            // the meantime, so the prompt and what was typed so far are shown again on a
            // line of their own; what the user sees is what will be taken.
            write_console("\r\n");
            const char* const question = prompt != nullptr ? prompt : shown_prompt;
            if (question != nullptr) console_write(question, std::strlen(question));
            console_write(buffer, length);
            continue;
        }
        if (waited != CONSOLE_WAIT_INPUT) {
            print_stderr(
                "WaitForMultipleObjects failed or returned unexpected value (%lu, Error %lu).",
                waited, error);
            return STATUS_CALCULATION_ERROR;
        }

        std::size_t count = 0;
        if (!console_read_keys(batch, CONSOLE_KEY_BATCH, &count, &error)) {
            print_stderr("ReadConsoleInput failed (Error %lu).", error);
            return STATUS_CALCULATION_ERROR;
        }
        if (shutdown_requested()) return STATUS_FAILURE;
        if (count > CONSOLE_KEY_BATCH) count = CONSOLE_KEY_BATCH;

        for (std::size_t i = 0; i < count; ++i) {
            const KeyEvent& key = batch[i];
            if (key.kind == KEY_ENTER) {
                write_console("\r\n");
                buffer[length] = '\0';
                return STATUS_SUCCESS;  // the rest of the batch is dropped
            }
            if (key.kind == KEY_BACKSPACE) {
                if (length > 0) {
                    buffer[--length] = '\0';
                    write_console("\b \b");
                }
                continue;
            }
            const unsigned char byte = static_cast<unsigned char>(key.character);
            if (byte < 0x20 || byte > 0x7E) continue;  // no printable character: ignored
            if (length < buffer_size - 1) {
                buffer[length++] = key.character;
                buffer[length] = '\0';
                console_write(&key.character, 1);
            } else {
                console_beep();
            }
        }
    }

    write_console("\r\n");
    std::fprintf(stderr, "\nInput line too long (max %zu characters). Input discarded.\n\n",
                 buffer_size - 2);
    std::fflush(stderr);
    return STATUS_INVALID_INPUT_ERROR;
}
}  // namespace

StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size) {
    return read_line_windows_raw(prompt, buffer, buffer_size, nullptr);
}

StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size,
                                 const char* shown_prompt) {
    // A buffer without room for one character and its terminator could never end a line.
    if (buffer == nullptr || buffer_size < 2 || !console_open_handles()) {
        print_stderr("Failed to get standard handles.");
        return STATUS_CALCULATION_ERROR;
    }
    if (g_hShutdownEvent.load() == nullptr) {
        print_stderr("Internal Error: Shutdown event handle is NULL.");
        return STATUS_CALCULATION_ERROR;
    }
    ConsoleMode initial;
    unsigned long error = 0;
    if (!console_get_input_mode(&initial, &error)) {
        print_stderr("Failed to get console mode (Error %lu).", error);
        return STATUS_CALCULATION_ERROR;
    }
    if (!console_set_raw_input_mode(&initial, &error)) {
        print_stderr("Failed to set raw console mode (Error %lu).", error);
        return STATUS_CALCULATION_ERROR;
    }

    RawModeGuard raw_mode(&initial);
    StatusCode result = collect_line(prompt, buffer, buffer_size, shown_prompt);
    if (!raw_mode.restore(&error)) {
        print_stderr("Failed to restore initial console mode (Error %lu).", error);
        // An over-long line or a console failure already says the read went wrong.
        if (result == STATUS_SUCCESS || result == STATUS_FAILURE) {
            result = STATUS_CALCULATION_ERROR;
        }
    }
    return result;
}
