#include "cli/batch_lines.h"

namespace quillmere::cli {

using platform::InputRead;

InputRead BatchLineReader::next(std::string& line) {
    too_long_ = false;
    for (;;) {
        const std::size_t line_end = pending_.find('\n', scanned_);
        if (line_end != std::string::npos) {
            take(line, line_end, line_end + 1);
            return InputRead::data;
        }
        scanned_ = pending_.size();
        // More than the limit and a CR before a line break that is still to come.
        if (pending_.size() - start_ > max_line_bytes + 1) skipping_ = true;
        if (skipping_) {
            pending_.clear();
            start_ = 0;
            scanned_ = 0;
        }
        if (ended_) {
            if (start_ == pending_.size() && !skipping_) return InputRead::end;
            take(line, pending_.size(), pending_.size());  // no line break at the end
            return InputRead::data;
        }
        // Lines already taken make room before more is read.
        pending_.erase(0, start_);
        scanned_ -= start_;
        start_ = 0;
        char chunk[65536];
        std::size_t count = 0;
        const InputRead read = platform::read_input(input_, chunk, count);
        if (read == InputRead::end) {
            ended_ = true;
        } else if (read != InputRead::data) {
            return read;
        }
        pending_.append(chunk, count);
    }
}

void BatchLineReader::take(std::string& line, std::size_t end, std::size_t next) {
    std::size_t length = end - start_;
    if (length > 0 && pending_[end - 1] == '\r') --length;
    too_long_ = skipping_ || length > max_line_bytes;
    skipping_ = false;
    if (too_long_) {
        line.clear();
    } else {
        line.assign(pending_, start_, length);
    }
    start_ = next;
    scanned_ = next;
}

}  // namespace quillmere::cli
