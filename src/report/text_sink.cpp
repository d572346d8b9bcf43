#include "report/text_sink.h"

#include <cstdarg>
#include <vector>

namespace quillmere::report {

void TextSink::print(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        write(std::string_view(small, static_cast<std::size_t>(length)));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    write(std::string_view(large.data(), static_cast<std::size_t>(length)));
}

void FileSink::write(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream_);
}

void FileSink::flush() {
    std::fflush(stream_);
}

}  // namespace quillmere::report
