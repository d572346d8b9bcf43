#include "interactive/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "process/process_exit.h"

namespace quillmere::interactive {

void flush_standard_output() {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && std::ferror(stdout) == 0) return;
    // A write that failed while the stream emptied its buffer by itself leaves only the
    // error indicator behind; its reason is gone by now.
    const int reason = flushed ? 0 : errno;
    char message[160];
    if (reason != 0) {
        std::snprintf(message, sizeof message,
                      "Error: cannot write the results to standard output (%s).\n",
                      std::strerror(reason));
    } else {
        std::snprintf(message, sizeof message,
                      "Error: cannot write the results to standard output.\n");
    }
    process::end_program_with_error(message);
}

void StandardOutputSink::write(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void StandardOutputSink::flush() {
    flush_standard_output();
}

}  // namespace quillmere::interactive
