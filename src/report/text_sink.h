// Where the report texts go: a small interface with one sink for a C stream (standard
// output or standard error, flushed exactly where the program flushes) and one that
// collects the text in a string.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quillmere::report {

/// A destination for text.
class TextSink {
public:
    virtual ~TextSink() = default;
    /// Appends the text as it is.
    virtual void write(std::string_view text) = 0;
    /// Makes everything written so far visible (a no-op where nothing is buffered).
    virtual void flush() = 0;

    /// Appends printf-formatted text.
    void print(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
};

/// Writes to a C stream, such as stdout or stderr.
class FileSink final : public TextSink {
public:
    explicit FileSink(std::FILE* stream) : stream_(stream) {}
    void write(std::string_view text) override;
    void flush() override;

private:
    std::FILE* stream_;
};

/// Collects the text in a string.
class StringSink final : public TextSink {
public:
    void write(std::string_view text) override { text_.append(text); }
    void flush() override {}
    /// Everything written so far.
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace quillmere::report
