// Fuzzes the raw line reader over the fake console: any sequence of key batches must
// give a line of printable characters within the buffer, never more, exactly as a
// plain model of the batch rules predicts, and leave the console mode put back.
//
// Input: the first byte picks the buffer size (2 to 256); then chunks of one length
// byte and that many key bytes, each chunk one batch. CR and LF are Enter, BS and DEL
// Backspace, every other byte a key carrying that byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "fake_console.h"
#include "interactive/dialog.h"
#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/prompts.h"

namespace {

using quillmere::Status;
using quillmere::interactive::INPUT_LINE_SIZE;
using quillmere::interactive::read_console_line;
using quillmere::platform::CONSOLE_KEY_BATCH;

KeyEvent key_for(std::uint8_t byte) {
    if (byte == '\r' || byte == '\n') return KeyEvent{KeyKind::enter, static_cast<char>(byte)};
    if (byte == 0x08 || byte == 0x7F) return KeyEvent{KeyKind::backspace, static_cast<char>(byte)};
    return KeyEvent{KeyKind::other, static_cast<char>(byte)};
}

struct Expected {
    Status status = Status::stopped;
    std::string line;
    std::string console;
};

/// The reader's rules, restated: the limit is tested between batches only; within a
/// batch Enter ends the line, Backspace erases, printable keys fill or beep.
Expected model(const std::vector<std::vector<KeyEvent>>& batches, std::size_t size) {
    Expected e;
    for (const std::vector<KeyEvent>& batch : batches) {
        if (e.line.size() >= size - 1) break;
        for (const KeyEvent& key : batch) {
            if (key.kind == KeyKind::enter) {
                e.console += "\r\n";
                e.status = Status::ok;
                return e;
            }
            if (key.kind == KeyKind::backspace) {
                if (!e.line.empty()) {
                    e.line.pop_back();
                    e.console += "\b \b";
                }
                continue;
            }
            const auto c = static_cast<unsigned char>(key.character);
            if (c < 0x20 || c > 0x7E) continue;
            if (e.line.size() < size - 1) {
                e.line += key.character;
                e.console += key.character;
            } else {
                e.console += '\a';
            }
        }
    }
    if (e.line.size() >= size - 1) {
        e.console += "\r\n";
        e.status = Status::invalid_request;
    }
    return e;  // otherwise the script ran out, which the fake console treats as a stop
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t buffer_size = 2 + data[0] % 255;
    std::vector<std::vector<KeyEvent>> batches;
    for (std::size_t i = 1; i < size;) {
        const std::size_t length = data[i++];
        std::vector<KeyEvent> batch;
        for (std::size_t j = 0; j < length && i < size; ++j) batch.push_back(key_for(data[i++]));
        // A read delivers at most one batch's worth of keys; the rest is the next batch.
        for (std::size_t k = 0; k < batch.size(); k += CONSOLE_KEY_BATCH) {
            const std::size_t end = std::min(batch.size(), k + CONSOLE_KEY_BATCH);
            batches.emplace_back(batch.begin() + k, batch.begin() + end);
        }
        if (batch.empty()) batches.emplace_back();
    }

    fake_console_reset();
    fake_console_install_shutdown_event();
    for (const std::vector<KeyEvent>& batch : batches) fake_console_queue_keys(batch);

    char buffer[INPUT_LINE_SIZE + 1];
    buffer[buffer_size] = '#';  // one byte past the buffer: must stay untouched
    const Status status = read_console_line("> ", std::span<char>(buffer, buffer_size));
    const Expected expected = model(batches, buffer_size);

    if (buffer[buffer_size] != '#') fail("wrote past the buffer");
    if (status != expected.status) fail("status differs from the model");
    const std::string line(buffer);
    if (line.size() > buffer_size - 1) fail("line longer than the buffer allows");
    for (unsigned char c : line) {
        if (c < 0x20 || c > 0x7E) fail("line holds a non-printable character");
    }
    if (status != Status::stopped && line != expected.line) fail("line differs from the model");
    if (fake_console_output().compare(0, 2, "> ") != 0) fail("prompt missing");
    if (status != Status::stopped && fake_console_output().substr(2) != expected.console) {
        fail("console bytes differ from the model");
    }
    if (fake_console_is_raw() || fake_console_restores() != 1) fail("mode not put back once");
    return 0;
}
