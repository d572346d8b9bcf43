// Standard output as the dialog writes it: a stream that cannot be written ends the
// program at once, with its message on standard error and exit code 1.
#pragma once

#include <string_view>

#include "report/text_sink.h"

namespace quillmere::interactive {

/// Flushes standard output. Every flush of standard output goes through here, so the
/// first failure is seen at once: a failed flush, or an earlier write whose failure the
/// stream has recorded. It is said once on standard error, for example
/// "Error: cannot write the results to standard output (No space left on device).",
/// and the program ends with exit code 1.
void flush_standard_output();

/// Standard output as the reports write to it: every flush goes through
/// flush_standard_output.
class StandardOutputSink final : public report::TextSink {
public:
    void write(std::string_view text) override;
    void flush() override;
};

}  // namespace quillmere::interactive
