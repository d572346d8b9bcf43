// The program's error messages on standard error.
#pragma once

namespace quillmere::interactive {

/// Writes a newline, the formatted text and a newline to standard error, then flushes it.
void print_stderr(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace quillmere::interactive
