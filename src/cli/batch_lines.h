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
    explicit BatchLineReader(std::FILE* input) : input_(input) {}

    /// The next line, without its line break and a CR before it; data when there is one,
    /// else end, stopped or failed (errno tells why).
    platform::InputRead next(std::string& line);

private:
    /// Takes the pending text up to `end` as the line; the next line starts at `next`.
    void take(std::string& line, std::size_t end, std::size_t next);

    std::FILE* input_;
    std::string pending_;
    std::size_t start_ = 0;    ///< where the next line begins in pending_
    std::size_t scanned_ = 0;  ///< pending_ holds no line break before this
    bool ended_ = false;
};

}  // namespace quillmere::cli
