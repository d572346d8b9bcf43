#include "cli/batch_lines.h"

namespace quillmere::cli {

using platform::InputRead;

InputRead BatchLineReader::next(std::string& line) {
    for (;;) {
        const std::size_t line_end = pending_.find('\n', scanned_);
        if (line_end != std::string::npos) {
            take(line, line_end, line_end + 1);
            return InputRead::data;
        }
        scanned_ = pending_.size();
        if (ended_) {
            if (start_ == pending_.size()) return InputRead::end;
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
    line.assign(pending_, start_, end - start_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start_ = next;
    scanned_ = next;
}

}  // namespace quillmere::cli
