// The lines of a batch input, read so that a stop request ends a wait for more.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/stop_signals.h"

namespace quillmere::cli {

/// The lines of the batch input, read through platform::read_input so that a stop ends a
/// wait.
class BatchLineReader {
public:
    /// The longest line read, in bytes without its line break (and a CR before it); a
    /// longer one is skipped, so that memory stays bounded whatever the input.
    static constexpr std::size_t max_line_bytes = std::size_t{1} << 20;

    explicit BatchLineReader(std::FILE* input) : input_(input) {}

    /// The next line, without its line break and a CR before it; data when there is one,
    /// else end, stopped or failed (errno tells why). A line longer than max_line_bytes
    /// gives data with an empty `line` and line_too_long().
    platform::InputRead next(std::string& line);

    /// Whether the line that next() gave last was longer than max_line_bytes.
    bool line_too_long() const { return too_long_; }

private:
    /// Takes the pending text up to `end` as the line; the next line starts at `next`.
    void take(std::string& line, std::size_t end, std::size_t next);

    std::FILE* input_;
    std::string pending_;
    std::size_t start_ = 0;    ///< where the next line begins in pending_
    std::size_t scanned_ = 0;  ///< pending_ holds no line break before this
    bool ended_ = false;
    bool skipping_ = false;  ///< the line being read is too long: its bytes are dropped
    bool too_long_ = false;
};

}  // namespace quillmere::cli
