#include "interactive/messages.h"

#include <cstdarg>
#include <cstdio>

namespace quillmere::interactive {

void print_stderr(const char* format, ...) {
    std::fputc('\n', stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace quillmere::interactive
