// The dialog's line reader: one line from the console in raw mode, echoed as it is typed,
// on every platform.
#pragma once

#include <cstddef>
#include <span>

#include "quillmere/quillmere.h"

namespace quillmere::interactive {

/// Size of the line buffer every prompt and the dialog hand to the reader.
inline constexpr std::size_t INPUT_LINE_SIZE = 256;

/// Reads one line from the console in raw mode, echoing it; the line holds at most
/// buffer.size() - 2 characters. `prompt` (may be null) is written to the console first.
/// For a question the caller has already printed on standard output (prompt null),
/// `shown_prompt` is written again, with the line typed so far, when a read stopped with
/// Ctrl+Z is resumed, so the question stays in view.
/// Status::ok: Enter was pressed, the line is in buffer. Status::stopped: a stop was
/// requested. Status::invalid_request: the line filled the buffer and was discarded
/// (already reported). Status::calculation_error: the console failed (already reported).
Status read_console_line(const char* prompt, std::span<char> buffer,
                         const char* shown_prompt = nullptr);

}  // namespace quillmere::interactive
