// The raw line reader of the dialog.
#pragma once

#include <cstddef>

#include "interactive/request_record.h"

/// Size of the line buffer every prompt and the dialog hand to the reader.
constexpr std::size_t INPUT_LINE_SIZE = 256;

/// Reads one line from the console in raw mode, echoing it; prompt may be null.
/// STATUS_SUCCESS: Enter was pressed, the line is in buffer. STATUS_FAILURE: a stop was
/// requested. STATUS_INVALID_INPUT_ERROR: the line filled the buffer and was discarded
/// (already reported). STATUS_CALCULATION_ERROR: the console failed (already reported).
StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size);

/// The same for a question the caller has already printed on standard output (prompt
/// null): `shown_prompt` is written again, with the line typed so far, when a read
/// stopped with Ctrl+Z is resumed, so the question stays in view.
StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size,
                                 const char* shown_prompt);
